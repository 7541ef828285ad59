"""The base of every Wine test: a clean installation state before each test,
packages made in the test's own folder, and runs that cannot outlive it."""

import shutil
import unittest
from pathlib import Path

from harness import ROOT, MESSAGE_TEXT_ID, Session, SetupRun
from wine_kind import NO_16BIT_REASON

EXAMPLES = ROOT / "examples"
DEMO_APP = EXAMPLES / "demo-app"
FIXTURES = Path(__file__).resolve().parent / "fixtures"
DEMO_KEY = r"HKLM\Software\VantrelDemo"
DEMO_FOLDER = "VantrelDemo"

MAIN_TEXT_ID = 3002
INSTALL_ID, CLOSE_ID = 1, 2

# Exit codes: the user chose not to install, and a failure the stub found.
USER_EXIT, INSTALL_FAILURE = 1602, 1603


def wine_status(code):
    """What `wine` hands its Unix parent of a program's exit code: the low 8
    bits only (1602 comes back as 66). SetupRun.windows_exit_code reads the
    whole code, as Windows reports it."""
    return code & 0xFF


def windows_text(path):
    """A text file as the package carries it: CR LF line ends."""
    return Path(path).read_text().replace("\r\n", "\n").replace("\n", "\r\n")


class WineTestCase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.session = Session.current
        if self.session is None:
            self.skipTest("runs only under tests/wine/run_tests.py")
        self.prefix = self.session.prefix
        self.driver = self.session.driver
        self.work = self.session.work_dir / self.id().split(".", 1)[1]
        self.work.mkdir(parents=True)
        self.clean_installation()

    def clean_installation(self):
        shutil.rmtree(self.prefix.drive_c / DEMO_FOLDER, ignore_errors=True)
        shutil.rmtree(self.vantrel_temp, ignore_errors=True)
        self.prefix.reg_delete(DEMO_KEY)

    @property
    def vantrel_temp(self):
        """The stub's temporary folder: $Vantrel.Tmp in the user's temp path."""
        return self.prefix.temp_dir / "$Vantrel.Tmp"

    # Making and running packages

    def package(self, name="setup.exe", source=DEMO_APP, **options):
        return self.session.packer.create(self.work / name, source, **options)

    def start(self, package, arguments=(), through_cmd=False, start_in=None):
        run = SetupRun(self.prefix, package, self.work, self.driver, arguments, through_cmd,
                       start_in)
        self.addCleanup(self._end_run, run)
        return run

    def _end_run(self, run):
        if run.running():
            run.kill()
            # Its children (an INF installer, a message box) may still be there.
            self.prefix.kill_programs()

    def window(self, run, timeout=20, **selector):
        """A window of the run's program; fails the test when none comes."""
        window = self.driver.wait(timeout=timeout, exe=run.program.name, **selector)
        if window is None:
            self.fail(f"no window {selector} of {run.program.name} within {timeout} s "
                      f"(running: {run.running()})")
        return window

    def answer_message(self, run, button="ok", timeout=30, screenshot=None, **selector):
        """Reads and answers a message box of the run's program: (caption, text).
        With `screenshot`, the box is saved under that name first."""
        if screenshot:
            box = self.window(run, timeout=timeout, dialog=True, **selector)
            self.screenshot(screenshot, box)
        box = self.driver.answer(button, timeout=timeout, exe=run.program.name, **selector)
        if box is None:
            self.fail(f"no message box {selector} of {run.program.name} within {timeout} s")
        # Gone before anything else is looked at: a box that asks again is a new window.
        self.assertTrue(self.driver.gone(hwnd=box.handle), "the message box stayed open")
        return box.caption, box.text(MESSAGE_TEXT_ID)

    def screenshot(self, name, window=None):
        return self.session.screenshot(name, window)

    def use_setupx(self):
        """Puts Wine's setupx.dll back into system32 for this test: the stub
        then takes the Windows 95/98 road (rundll.exe setupx.dll)."""
        if not self.session.kind.has_16bit:
            self.skipTest(NO_16BIT_REASON)
        self.prefix.restore_setupx()
        self.addCleanup(self.prefix.hide_setupx)

    # What an installation left

    def installed(self, name, folder=DEMO_FOLDER):
        return self.prefix.drive_c / folder / name

    def assert_demo_installed(self):
        for name in ("hello.bat", "readme.txt"):
            self.assertEqual(self.installed(name).read_bytes(), (DEMO_APP / name).read_bytes(),
                             name)
        self.assertEqual(self.prefix.reg_value(DEMO_KEY, "Version"), "1.0")
        self.assertEqual(self.prefix.reg_value(DEMO_KEY, "InstallDir"), "C:\\VantrelDemo")

    def assert_nothing_installed(self):
        self.assertFalse((self.prefix.drive_c / DEMO_FOLDER).exists(), "files were installed")
        self.assertIsNone(self.prefix.reg_value(DEMO_KEY, "Version"), "registry was written")

    def assert_temp_gone(self):
        left = None
        if self.vantrel_temp.exists():
            left = sorted(p.name for p in self.vantrel_temp.iterdir())
        self.assertIsNone(left, f"the temporary folder remains, holding {left}")
