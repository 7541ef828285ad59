"""Extraction on the real file system: member names that would leave the
temporary folder, sub-folders, file times, a temporary path with a space, a
temporary folder someone else made first, and a temporary folder on a disk
too small for the package."""

import os
import random
import shutil
import subprocess
import time
import zipfile
from pathlib import Path

from test_install import EXTRACT_ERROR, InstallCase
from wine_case import CLOSE_ID, DEMO_APP, INSTALL_FAILURE, INSTALL_ID, wine_status

# Each is as long as the name it replaces in the package, so that only the
# name changes.
PLACEHOLDER = "aaaaaaaaaaaa.txt"
ESCAPING_NAMES = ["../escape-1a.txt", "C:/escape-2a.txt", "/escape-3abc.txt", "sub/../../e4.txt"]


class MemberNameTest(InstallCase):
    def rename_first_member(self, package, new_name):
        """Gives the first member (the placeholder) another name of the same
        length in its local header, which is what the stub reads."""
        with zipfile.ZipFile(package) as archive:
            info = archive.infolist()[0]
        self.assertEqual(info.filename, PLACEHOLDER)
        data = bytearray(package.read_bytes())
        start = info.header_offset + 30
        self.assertEqual(bytes(data[start:start + len(PLACEHOLDER)]), PLACEHOLDER.encode())
        data[start:start + len(PLACEHOLDER)] = new_name.encode()
        package.write_bytes(bytes(data))

    def escape_targets(self, name):
        """Every place the member could land if its name were followed."""
        base = os.path.basename(name)
        return [self.prefix.temp_dir / base, self.prefix.drive_c / base,
                self.prefix.user_dir / base,
                self.work / base, self.work.parent / base, self.prefix.path / base,
                Path("/") / base]

    def test_names_leading_out_of_the_temporary_folder_are_refused(self):
        source = self.work / "app"
        shutil.copytree(DEMO_APP, source)
        (source / PLACEHOLDER).write_text("this file must stay in the temporary folder\r\n")
        for number, name in enumerate(ESCAPING_NAMES):
            with self.subTest(name=name):
                self.clean_installation()
                package = self.welcome_package(f"setup-{number}.exe", source=source)
                self.rename_first_member(package, name)
                run = self.start(package)
                self.press_install(run)
                shot = "invalid-filename" if number == 0 else None
                message = self.answer_message(run, caption="Error", screenshot=shot)
                self.assertEqual(message, ("Error", "Invalid filename."))
                for _ in range(2):  # the extraction may report its failure too
                    if not run.running():
                        break
                    box = self.driver.answer("ok", timeout=5, exe=run.program.name,
                                             caption="Error")
                    if box is None:
                        break
                self.assertEqual(run.wait(timeout=30), wine_status(INSTALL_FAILURE))
                for target in self.escape_targets(name):
                    self.assertFalse(target.exists(), f"{name} was written to {target}")
                self.assert_nothing_installed()


class FolderAndTimeTest(InstallCase):
    def test_sub_folder_stays_and_files_carry_their_archive_times(self):
        source = self.work / "app"
        shutil.copytree(DEMO_APP, source)
        (source / "docs").mkdir()
        (source / "docs" / "guide.txt").write_text("A guide.\r\n")
        # Times a zip can hold exactly (even seconds), far from now.
        stamp = time.mktime((2019, 6, 15, 13, 45, 30, 0, 0, -1))
        for path in source.rglob("*"):
            os.utime(path, (stamp, stamp))
        package = self.welcome_package(source=source, stay_open=True)
        with zipfile.ZipFile(package) as archive:
            times = {i.filename: time.mktime(i.date_time + (0, 0, -1))
                     for i in archive.infolist() if not i.is_dir()}
        self.assertIn("docs/guide.txt", times)

        run = self.start(package)
        dialog = self.press_install(run)
        self.assertEqual(self.driver.wait_for_text(INSTALL_ID, "&Info", hwnd=dialog.handle),
                         "&Info")
        self.assert_demo_installed()
        for name, expected in times.items():
            self.assertEqual(os.path.getmtime(self.vantrel_temp / name), expected, name)

        self.driver.click(CLOSE_ID, hwnd=dialog.handle)
        self.assertEqual(run.wait(timeout=30), 0)
        # Files are deleted; folders are not, so the temporary folder stays.
        self.assertEqual([p.relative_to(self.vantrel_temp).as_posix()
                          for p in sorted(self.vantrel_temp.rglob("*"))], ["docs"])


class WindowsNamesTest(InstallCase):
    def test_a_member_windows_names_otherwise_installs_as_the_inf_copies_it(self):
        """Windows folds case and drops trailing dots and spaces: the member
        "README.TXT." is the readme.txt the INF copies, and create packs it."""
        source = self.work / "app"
        shutil.copytree(DEMO_APP, source)
        (source / "readme.txt").rename(source / "README.TXT.")
        run = self.start(self.package(source=source, title="Names"))
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()


class TemporaryPathTest(InstallCase):
    def use_temporary_path(self, folder):
        for name in ("TEMP", "TMP"):
            old = self.prefix.reg_value(r"HKCU\Environment", name)
            self.prefix.reg_add(r"HKCU\Environment", name, self.prefix.windows_path(folder))
            if old is None:
                self.addCleanup(self.prefix.reg_delete, r"HKCU\Environment", name)
            else:
                self.addCleanup(self.prefix.reg_add, r"HKCU\Environment", name, old)

    def test_temporary_path_with_a_space_is_used_in_its_short_form(self):
        spaced = self.prefix.temp_dir / "With Space"
        spaced.mkdir(exist_ok=True)
        self.addCleanup(shutil.rmtree, spaced, True)
        self.use_temporary_path(spaced)
        system_temp = self.prefix.system_dir / "$Vantrel.Tmp"
        shutil.rmtree(system_temp, ignore_errors=True)
        self.addCleanup(shutil.rmtree, system_temp, True)

        run = self.start(self.welcome_package(stay_open=True))
        dialog = self.press_install(run)
        self.assertEqual(self.driver.wait_for_text(INSTALL_ID, "&Info", hwnd=dialog.handle),
                         "&Info")
        self.assert_demo_installed()
        # The user's folder after all (its short name holds no space), not
        # the system directory.
        own = spaced / "$Vantrel.Tmp"
        self.assertEqual(sorted(p.name for p in own.iterdir()),
                         sorted(p.name for p in DEMO_APP.iterdir()))
        self.assertFalse(system_temp.exists())
        self.driver.click(CLOSE_ID, hwnd=dialog.handle)
        self.assertEqual(run.wait(timeout=30), 0)
        self.assertFalse(own.exists(), "the temporary folder remains")

    def test_a_temporary_folder_someone_else_made_is_left_alone(self):
        """$Vantrel.Tmp made before the run -- a folder holding a planted INF,
        or a link to a folder elsewhere -- is neither used nor removed; the
        package installs from a folder of the run's own beside it."""
        elsewhere = self.work / "elsewhere"
        elsewhere.mkdir()
        plants = {
            "folder": lambda: (self.vantrel_temp.mkdir(parents=True),
                               (self.vantrel_temp / "vdemo.inf").write_text("[planted]\r\n")),
            "link": lambda: self.vantrel_temp.symlink_to(elsewhere, target_is_directory=True),
        }
        self.addCleanup(self.remove_link)
        for plant, make in plants.items():
            with self.subTest(plant=plant):
                self.remove_link()
                self.clean_installation()
                make()
                self.addCleanup(shutil.rmtree, self.prefix.temp_dir / "$Vant001.Tmp", True)
                before = sorted(p.name for p in self.vantrel_temp.iterdir())
                run = self.start(self.welcome_package(f"setup-{plant}.exe", stay_open=True))
                dialog = self.press_install(run)
                self.assertEqual(
                    self.driver.wait_for_text(INSTALL_ID, "&Info", hwnd=dialog.handle), "&Info")
                self.assert_demo_installed()
                own = self.prefix.temp_dir / "$Vant001.Tmp"
                self.assertEqual(sorted(p.name for p in own.iterdir()),
                                 sorted(p.name for p in DEMO_APP.iterdir()))
                self.driver.click(CLOSE_ID, hwnd=dialog.handle)
                self.assertEqual(run.wait(timeout=30), 0)
                self.assertEqual(sorted(p.name for p in self.vantrel_temp.iterdir()), before)
                self.assertEqual(self.vantrel_temp.is_symlink(), plant == "link")
                if plant == "folder":
                    self.assertEqual((self.vantrel_temp / "vdemo.inf").read_bytes(),
                                     b"[planted]\r\n")
                self.assertEqual(list(elsewhere.iterdir()), [])
                self.assertFalse((self.prefix.temp_dir / "$Vant001.Tmp").exists(),
                                 "the run's own folder remains")

    def remove_link(self):
        if self.vantrel_temp.is_symlink():
            self.vantrel_temp.unlink()


class FullDiskTest(InstallCase):
    NOTES = "a-notes.txt"
    NOTES_SIZE = 20000
    ROOM = 4096

    def put_temp_on_a_nearly_full_disk(self):
        """Mounts a 2 MiB tmpfs on the user's temporary folder for this test
        and fills it up to ROOM bytes."""
        if os.geteuid() != 0:
            self.skipTest("mounting a small disk needs root")
        temp = self.prefix.temp_dir
        temp.mkdir(parents=True, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", str(temp)], check=True,
                       timeout=30)
        # Lazily: a program of the run may still hold a file there.
        self.addCleanup(subprocess.run, ["umount", "-l", str(temp)], timeout=30)
        free = shutil.disk_usage(temp).free
        (temp / "filler.bin").write_bytes(bytes(free - self.ROOM))

    def test_full_disk_fails_the_extraction_and_runs_no_installer(self):
        source = self.work / "app"
        shutil.copytree(DEMO_APP, source)
        # Smaller than the decoder's window and first in the archive: the
        # disk runs out in the member's only write.
        words = random.Random(2026).choices(["setup", "disk", "file", "room"], k=5000)
        (source / self.NOTES).write_text(" ".join(words)[:self.NOTES_SIZE])
        package = self.welcome_package(source=source)
        self.put_temp_on_a_nearly_full_disk()

        run = self.start(package)
        self.press_install(run)
        self.assertEqual(self.answer_message(run, caption="Error", screenshot="full-disk"),
                         ("Error", EXTRACT_ERROR))
        self.assertEqual(run.wait(timeout=60), wine_status(INSTALL_FAILURE))
        self.assert_nothing_installed()
        # The walk stopped at the member the disk cut short.
        self.assertEqual(self.temp_files(), [self.NOTES])
        self.assertLess((self.vantrel_temp / self.NOTES).stat().st_size, self.NOTES_SIZE)
