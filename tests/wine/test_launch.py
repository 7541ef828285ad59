"""The INF installer run: the wait for the child (idle, yet ended by WM_QUIT
and, in the second advpack run, WM_QUERYENDSESSION), a child that cannot
start, and installer programs that must come from the system's folders."""

import shutil
import sys
import time

from test_install import SECTIONS_KEY, TITLE, UPDATING, InstallCase
from wine_case import (CLOSE_ID, DEMO_APP, FIXTURES, INSTALL_FAILURE, INSTALL_ID, MAIN_TEXT_ID,
                       wine_status)

PLANTED_MARK = "vantrel-planted.txt"


class SlowInstallerCase(InstallCase):
    def slow_package(self):
        """An advpack package whose two installer runs take three seconds each."""
        source = self.work / "slow-app"
        source.mkdir()
        for name in ("hello.bat", "readme.txt"):
            shutil.copy(DEMO_APP / name, source)
        shutil.copy(FIXTURES / "slowinst.inf", source)
        shutil.copy(self.driver.exe, source)
        return self.welcome_package(source=source, advpack=True)

    def start_installing(self):
        run = self.start(self.slow_package())
        dialog = self.press_install(run)
        self.assertEqual(self.driver.wait_for_text(MAIN_TEXT_ID, UPDATING, hwnd=dialog.handle),
                         UPDATING)
        return run, self.window(run, caption=TITLE)


class WaitTest(SlowInstallerCase):
    def test_stub_uses_no_processor_while_the_installer_runs(self):
        run, dialog = self.start_installing()
        # A user cannot press anything while the installer runs.
        self.assertFalse(dialog.enabled(INSTALL_ID) or dialog.enabled(CLOSE_ID))
        # The whole screen: the installer's own console window stands in front.
        self.screenshot("installing")

        start_cpu, start = run.cpu_seconds(), time.monotonic()
        time.sleep(2)
        used, spent = run.cpu_seconds() - start_cpu, time.monotonic() - start
        self.assertTrue(run.running(), "the installer ended too soon to measure")
        print(f"\n  stub processor time while the installer ran: {used:.2f} s in {spent:.1f} s",
              file=sys.stderr)
        self.assertLess(used, 0.05 * spent)
        # Idle, yet it answers: the driver's reads time out after 2 s on a
        # program that stopped handling its messages.
        self.assertEqual(self.driver.text(MAIN_TEXT_ID, hwnd=dialog.handle), UPDATING)

        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assertEqual(self.prefix.reg_value(SECTIONS_KEY, "Last"), "DefaultInstallX")
        self.assert_temp_gone()

    def test_quit_message_during_the_wait_ends_with_its_code(self):
        run, dialog = self.start_installing()
        self.assertEqual(self.driver.post("quit", 77, hwnd=dialog.handle), 0)
        self.assertEqual(run.wait(timeout=20), 77)
        # Nothing after the wait ran: the extracted files are all still there.
        self.assertIn("slowinst.inf", self.temp_files())

    def test_installer_command_lines_are_those_of_advpack(self):
        run, _ = self.start_installing()
        inf = self.prefix.windows_path(self.vantrel_temp / "slowinst.inf")
        self.assertEqual(self.wait_for_command(",DefaultInstall2.ntx86"),
                         f"{self.rundll32} advpack,LaunchINFSection {inf},DefaultInstall2.ntx86")
        self.assertEqual(self.wait_for_command(",DefaultInstallX"),
                         f"{self.rundll32} advpack,LaunchINFSection {inf},DefaultInstallX")
        self.assertEqual(run.wait(timeout=30), 0)

    def test_query_end_session_ends_only_the_second_run(self):
        run, dialog = self.start_installing()
        self.wait_for_command(",DefaultInstall2.ntx86")
        self.assertEqual(self.driver.post("queryendsession", 9, hwnd=dialog.handle), 0)
        self.wait_for_command(",DefaultInstallX")
        self.assertTrue(run.running(), "the first run ended on WM_QUERYENDSESSION")
        self.assertEqual(self.driver.post("queryendsession", 9, hwnd=dialog.handle), 0)
        self.assertEqual(run.wait(timeout=20), 9)
        self.assertIn("slowinst.inf", self.temp_files())


class LaunchTest(InstallCase):
    def hide_system_program(self, name):
        path = self.prefix.system_dir / name
        aside = path.with_name(name + ".aside")
        path.rename(aside)
        self.addCleanup(aside.rename, path)

    def test_installer_that_cannot_start_is_reported_once_and_setup_goes_on(self):
        self.hide_system_program("rundll32.exe")
        run = self.start(self.welcome_package(advpack=True))
        self.press_install(run)
        message = self.answer_message(run, caption="Error", screenshot="cannot-start-installer")
        self.assertEqual(message, ("Error", "Couldn't initialize installation."))
        # The second run fails as well, silently; then the dialog closes itself.
        self.assertEqual(run.wait(timeout=30), wine_status(INSTALL_FAILURE))
        self.assert_nothing_installed()
        self.assert_temp_gone()

    def test_installer_programs_planted_beside_or_inside_the_package_never_run(self):
        mark = self.prefix.drive_c / PLANTED_MARK
        mark.unlink(missing_ok=True)
        self.addCleanup(mark.unlink, True)
        planted = self.session.planted
        self.assertTrue(planted.exists(), f"not built: {planted}")
        source = self.work / "app"
        shutil.copytree(DEMO_APP, source)
        shutil.copy(planted, source / "rundll32.exe")  # lands in the current folder
        for name in ("rundll32.exe", "rundll.exe"):
            shutil.copy(planted, self.work / name)  # beside the setup program
        for advpack in (False, True):
            with self.subTest(advpack=advpack):
                self.clean_installation()
                run = self.start(self.welcome_package(f"setup-{int(advpack)}.exe", source=source,
                                                      advpack=advpack))
                self.press_install(run)
                self.assertEqual(run.wait(timeout=60), 0)
                self.assertFalse(mark.exists(), "a planted installer ran: "
                                 + (mark.read_text() if mark.exists() else ""))
                self.assert_demo_installed()
                self.assert_temp_gone()
