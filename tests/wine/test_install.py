"""Installations from start to end, as a user runs them: the stub extracts the
package, Wine's own rundll32.exe installs the INF file with setupapi or
advpack, and the stub deletes what it extracted."""

import random
import shutil
import time
import zipfile

from harness import Driver
from wine_case import (CLOSE_ID, DEMO_APP, DEMO_KEY, EXAMPLES, INSTALL_FAILURE, INSTALL_ID,
                       MAIN_TEXT_ID, USER_EXIT, WineTestCase, windows_text, wine_status)

TITLE = "Vantrel Demo Setup"
UPDATING = "\r\nSetup is updating your system ...\r\n\r\n"
EXTRACT_ERROR = "Error extracting file(s)."
SECTIONS_KEY = DEMO_KEY + r"\Sections"

LICENCE_CAPTION = "License agreement"
LICENCE_PROMPT = ("To continue with this installation, you must agree to all terms of this "
                  "license agreement.")
LICENCE_TEXT_ID, LICENCE_PROMPT_ID = 2002, 2004
AGREE_ID, DECLINE_ID = 1, 2

PASSWORD_CAPTION = "Please enter the password to continue..."
PASSWORD_EDIT_ID, PASSWORD_OK_ID, PASSWORD_CANCEL_ID = 101, 1, 2
PASSWORD = "Vantrel-2026"
# How Wine shows a 16-bit rundll.exe the stub started: its host, winevdm.
SETUPX_HOST = "C:\\windows\\system32\\winevdm.exe --app-name "


class InstallCase(WineTestCase):
    def welcome_package(self, name="setup.exe", source=DEMO_APP, **options):
        return self.package(name, source, title=TITLE,
                            welcome_file=EXAMPLES / "welcome.txt", **options)

    def press_install(self, run):
        dialog = self.window(run, caption=TITLE)
        self.assertEqual(self.driver.click(INSTALL_ID, hwnd=dialog.handle), 0)
        return dialog

    def watch_windows(self, run):
        return self.driver.watch(run.program.name, self.work / "watch.log", timeout=90)

    @property
    def rundll32(self):
        """The system's rundll32.exe, as the stub names it first on its command lines."""
        return self.prefix.windows_path(self.prefix.system_dir / "rundll32.exe")

    def wait_for_command(self, ending, program=None, timeout=30):
        """The command line of the running installer that ends with `ending`
        (by default one started as the system's rundll32.exe)."""
        program = program or self.rundll32 + " "
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for line in self.prefix.command_lines():
                if line.startswith(program) and line.endswith(ending):
                    return line
            time.sleep(0.02)
        self.fail(f"no installer ending in {ending} ran within {timeout} s")

    def temp_files(self):
        return sorted(p.name for p in self.vantrel_temp.iterdir())


class SetupapiInstallTest(InstallCase):
    def test_install_with_welcome_text(self):
        run = self.start(self.welcome_package())
        self.press_install(run)
        inf = self.prefix.windows_path(self.vantrel_temp / "vdemo.inf")
        self.assertEqual(self.wait_for_command(inf),
                         f"{self.rundll32} setupapi,InstallHinfSection DefaultInstall 132 {inf}")
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_install_through_setupx_when_the_system_has_it(self):
        self.use_setupx()
        # Wine's rundll.exe is a 16-bit program: its command line is cut
        # after 126 characters, so this package's INF name is short.
        source = self.work / "short-inf"
        shutil.copytree(DEMO_APP, source)
        (source / "vdemo.inf").rename(source / "d.inf")
        inf_path = self.prefix.windows_path(self.vantrel_temp / "d.inf")
        command_tail = "setupx.dll,InstallHinfSection DefaultInstall 132 " + inf_path
        if len("C:\\windows\\system32\\rundll32.exe " + command_tail) > 126:
            self.skipTest(f"the temporary path {inf_path} is too long for Wine's rundll.exe")
        for version in ("win10", "win98"):
            with self.subTest(version=version):
                self.clean_installation()
                name = f"setup-{version}.exe"
                app_key = rf"HKCU\Software\Wine\AppDefaults\{name}"
                self.prefix.reg_add(app_key, "Version", version)
                self.addCleanup(self.prefix.reg_delete, app_key)
                run = self.start(self.welcome_package(name, source=source))
                self.press_install(run)
                # Wine runs the 16-bit rundll.exe in winevdm, whose command line
                # shows the program the stub named and the line it gave: one
                # that begins with that very program, as Windows 95 demands.
                vdm = SETUPX_HOST + "C:\\windows\\rundll.exe "
                self.assertEqual(self.wait_for_command(inf_path, program=vdm),
                                 vdm + "C:\\windows\\rundll.exe " + command_tail)
                self.assertEqual(run.wait(timeout=60), 0)
                self.assert_demo_installed()
                self.assert_temp_gone()

    def test_without_welcome_text_installs_unattended_without_any_window(self):
        package = self.package(title=TITLE)
        # Watching from before the start: the run may be over in a moment.
        watch = self.driver.watch(package.name, self.work / "watch.log", timeout=90)
        run = self.start(package)
        # Nothing is pressed: the run must end by itself.
        self.assertEqual(run.wait(timeout=60), 0)
        # Windows destroys a dialog that ends inside WM_INITDIALOG before it
        # is ever shown; Wine shows it for a moment as it goes. So the only
        # window allowed is that dialog, and only as the run ends (its last
        # status line is a deletion, never the welcome text).
        for window in Driver.watch_result(watch):
            self.assertEqual((window.data["class"], window.caption in ("", TITLE)),
                             ("#32770", True), window)
            if MAIN_TEXT_ID in window.controls:
                self.assertTrue(window.text(MAIN_TEXT_ID).startswith("\r\nDeleting "), window)
        self.assert_demo_installed()
        self.assert_temp_gone()


class LicenceTest(InstallCase):
    def test_declined_stays_ready_then_accepted_installs(self):
        run = self.start(self.welcome_package(licence_file=EXAMPLES / "licence.txt"))
        main = self.press_install(run)

        licence = self.window(run, caption=LICENCE_CAPTION)
        self.assertEqual(licence.text(LICENCE_TEXT_ID), windows_text(EXAMPLES / "licence.txt"))
        self.assertEqual(licence.text(LICENCE_PROMPT_ID), LICENCE_PROMPT)
        self.assertEqual((licence.text(AGREE_ID), licence.text(DECLINE_ID)),
                         ("I agree", "&Cancel"))
        self.screenshot("licence-dialog", licence)
        # A second Install cannot be given while the licence is open.
        self.assertEqual(self.driver.click(INSTALL_ID, hwnd=main.handle), Driver.REFUSED)

        self.driver.click(DECLINE_ID, hwnd=licence.handle)
        self.assertTrue(self.driver.gone(hwnd=licence.handle))
        main = self.window(run, caption=TITLE)
        self.assertTrue(main.enabled(INSTALL_ID) and main.enabled(CLOSE_ID))
        self.assertEqual(main.text(MAIN_TEXT_ID), windows_text(EXAMPLES / "welcome.txt"))
        self.assertFalse(self.vantrel_temp.exists() and self.temp_files(),
                         "something was extracted after the licence was declined")
        self.assert_nothing_installed()

        self.press_install(run)
        licence = self.window(run, caption=LICENCE_CAPTION)
        self.driver.click(AGREE_ID, hwnd=licence.handle)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()


class FinishedStateTest(InstallCase):
    def test_info_and_ok_both_delete_and_end(self):
        for button, label in ((INSTALL_ID, "&Info"), (CLOSE_ID, "&Ok")):
            with self.subTest(button=label):
                self.clean_installation()
                run = self.start(self.welcome_package(f"setup-{button}.exe", stay_open=True))
                dialog = self.press_install(run)
                self.assertEqual(self.driver.wait_for_text(INSTALL_ID, "&Info", hwnd=dialog.handle),
                                 "&Info")
                dialog = self.window(run, caption=TITLE)
                self.assertEqual(dialog.text(CLOSE_ID), "&Ok")
                self.assertEqual(dialog.text(MAIN_TEXT_ID), "\r\nFinished!")
                self.assertTrue(dialog.enabled(INSTALL_ID) and dialog.enabled(CLOSE_ID))
                self.assert_demo_installed()
                # The extracted files wait for the user's answer.
                self.assertEqual(self.temp_files(), sorted(p.name for p in DEMO_APP.iterdir()))
                if button == INSTALL_ID:
                    self.screenshot("finished", dialog)

                self.assertEqual(self.driver.click(button, hwnd=dialog.handle), 0)
                self.assertEqual(run.wait(timeout=30), 0)
                self.assert_temp_gone()


class AdvpackTest(InstallCase):
    def test_nt_family_runs_the_ntx86_section_then_x(self):
        run = self.start(self.welcome_package(advpack=True))
        self.press_install(run)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assertEqual(self.prefix.reg_value(SECTIONS_KEY, "Second"), "DefaultInstall2.ntx86")
        self.assertEqual(self.prefix.reg_value(SECTIONS_KEY, "Last"), "DefaultInstallX")
        self.assert_temp_gone()


class PasswordTest(InstallCase):
    def answer_prompt(self, run, text, screenshot=None):
        prompt = self.window(run, caption=PASSWORD_CAPTION)
        self.assertEqual((prompt.text(PASSWORD_OK_ID), prompt.text(PASSWORD_CANCEL_ID)),
                         ("&Ok", "&Cancel"))
        if text is None:
            self.driver.click(PASSWORD_CANCEL_ID, hwnd=prompt.handle)
        else:
            self.assertEqual(self.driver.type(PASSWORD_EDIT_ID, text, hwnd=prompt.handle), 0)
            if screenshot:
                self.screenshot(screenshot, prompt)  # the typed text masked
            self.driver.click(PASSWORD_OK_ID, hwnd=prompt.handle)
        # Each prompt is a dialog of its own; the next one is a new window.
        self.assertTrue(self.driver.gone(hwnd=prompt.handle), "the password dialog stayed open")

    def test_two_wrong_passwords_then_the_right_one_installs(self):
        run = self.start(self.welcome_package(password=PASSWORD))
        self.press_install(run)
        self.answer_prompt(run, "wrong", screenshot="password-dialog")
        self.answer_prompt(run, PASSWORD.lower())
        self.answer_prompt(run, PASSWORD)
        # The kept password opens the other members: no fourth prompt.
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_three_wrong_passwords_fail_the_extraction(self):
        source = self.work / "inf-only"
        source.mkdir()
        shutil.copy(DEMO_APP / "vdemo.inf", source)
        # The INF names files the package lacks: it must never run.
        run = self.start(self.welcome_package(source=source, password=PASSWORD, no_inf_check=True))
        self.press_install(run)
        for attempt in ("one", "two", ""):
            self.answer_prompt(run, attempt)
        self.assertEqual(self.answer_message(run, caption="Error", screenshot="extraction-error"),
                         ("Error", EXTRACT_ERROR))
        self.assertEqual(run.wait(timeout=30), wine_status(INSTALL_FAILURE))
        self.assert_nothing_installed()
        self.assert_temp_gone()

    def test_cancel_ends_the_extraction_without_a_message(self):
        run = self.start(self.welcome_package(password=PASSWORD))
        watch = self.watch_windows(run)
        self.press_install(run)
        self.window(run, caption=PASSWORD_CAPTION)
        Driver.wait_until_seen(watch, [TITLE, PASSWORD_CAPTION])
        self.answer_prompt(run, None)
        self.assertEqual(run.wait(timeout=30), wine_status(USER_EXIT))
        # Which of the two the watch saw first depends on when it started.
        captions = [w.caption for w in Driver.watch_result(watch)]
        self.assertCountEqual(captions, [TITLE, PASSWORD_CAPTION])
        self.assert_nothing_installed()


def damage_member(package, name):
    """Flips one byte in the middle of a member's stored data."""
    with zipfile.ZipFile(package) as archive:
        info = archive.getinfo(name)
    data = bytearray(package.read_bytes())
    header = info.header_offset
    name_length = int.from_bytes(data[header + 26:header + 28], "little")
    extra_length = int.from_bytes(data[header + 28:header + 30], "little")
    start = header + 30 + name_length + extra_length
    data[start + info.compress_size // 2] ^= 0x5A
    package.write_bytes(bytes(data))


class DamagedMemberTest(InstallCase):
    def test_damaged_member_fails_and_the_inf_is_not_run(self):
        for level in (0, 6):
            with self.subTest(level=level):
                self.clean_installation()
                package = self.welcome_package(f"setup-{level}.exe", level=level)
                with zipfile.ZipFile(package) as archive:
                    names = [i.filename for i in archive.infolist()]
                damaged = names[0] if names[0] != "vdemo.inf" else names[1]
                damage_member(package, damaged)
                run = self.start(package)
                self.press_install(run)
                self.assertEqual(self.answer_message(run, caption="Error"),
                                 ("Error", EXTRACT_ERROR))
                self.assertEqual(run.wait(timeout=30), wine_status(INSTALL_FAILURE))
                self.assert_nothing_installed()
                # What was extracted stays, the damaged file included.
                left = self.temp_files()
                self.assertIn(damaged, left)
                self.assertEqual(left, sorted(names[:names.index(damaged) + 1]))


class LargePackageTest(InstallCase):
    FILES = 300

    def make_application(self, folder):
        rng = random.Random(2026)
        words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
                 for _ in range(3000)]
        pool = " ".join(rng.choices(words, k=150000)).encode()
        folder.mkdir()
        names = []
        for i in range(self.FILES):
            name = f"part{i:03d}.dat"
            if i % 10 == 3:
                data = bytes([i % 256]) * rng.randint(1, 200000)
            elif i % 2 == 0:
                data = rng.randbytes(rng.randint(120000, 140000))
            else:
                pieces = []
                for _ in range(rng.randint(20, 40)):
                    start = rng.randrange(len(pool) - 4000)
                    pieces.append(pool[start:start + rng.randint(500, 4000)])
                data = b"\n".join(pieces)
            (folder / name).write_bytes(data)
            names.append(name)
        inf = ["[Version]", 'Signature="$CHICAGO$"', "", "[DefaultInstall]", "CopyFiles=Big", "",
               "[DestinationDirs]", "Big=24,VantrelBig", "", "[SourceDisksNames]",
               '1="Large package",,,', "", "[Big]"] + names + ["", "[SourceDisksFiles]"]
        inf += [f"{n}=1" for n in names]
        (folder / "large.inf").write_text("\r\n".join(inf) + "\r\n")
        return names

    def test_twenty_mebibytes_in_three_hundred_files_install_byte_for_byte(self):
        target = self.prefix.drive_c / "VantrelBig"
        shutil.rmtree(target, ignore_errors=True)
        self.addCleanup(shutil.rmtree, target, True)
        source = self.work / "large-app"
        names = self.make_application(source)
        package = self.package(title="Large package", welcome="A large package.", source=source)
        self.assertGreaterEqual(package.stat().st_size, 20 << 20)
        with zipfile.ZipFile(package) as archive:
            members = [i.filename for i in archive.infolist()]
            self.assertTrue(all(i.compress_type == zipfile.ZIP_DEFLATED
                                for i in archive.infolist()))

        run = self.start(package)
        dialog = self.window(run, caption="Large package")
        self.driver.click(INSTALL_ID, hwnd=dialog.handle)
        self.assertEqual(run.wait(timeout=240), 0)
        for name in names:
            self.assertEqual((target / name).read_bytes(), (source / name).read_bytes(), name)
        # The clean-up deletes the first 255 files it extracted; what follows
        # them stays, and so does the temporary folder.
        self.assertEqual(self.temp_files(), sorted(members[255:]))
