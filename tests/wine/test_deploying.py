"""Deploying: the exit code of every way a run ends, read as Windows reports
it (a batch file's `start "" /wait` and %ERRORLEVEL%), and /Q, with which a
run opens no window at all and ends by itself."""

import random
import shutil

from harness import Driver
from test_install import (DECLINE_ID, LICENCE_CAPTION, PASSWORD, PASSWORD_CANCEL_ID,
                          PASSWORD_CAPTION, TITLE, damage_member)
from wine_case import (CLOSE_ID, DEMO_APP, EXAMPLES, INSTALL_FAILURE, INSTALL_ID, USER_EXIT,
                       WineTestCase)

# A quiet run has nobody to wait for: it ends within seconds.
QUIET_RUN_SECONDS = 30
LICENCE = EXAMPLES / "licence.txt"


class DeployingTest(WineTestCase):
    # Packages, each under a name of its own in the test's folder.

    def unattended(self, name, source=DEMO_APP, **options):
        return self.package(name + ".exe", source, title=TITLE, **options)

    def with_welcome(self, name, **options):
        return self.unattended(name, welcome_file=EXAMPLES / "welcome.txt", **options)

    def flipped_byte(self, name):
        package = self.unattended(name, level=0)
        damage_member(package, "readme.txt")
        return package

    def end_record_damaged(self, name):
        package = self.unattended(name)
        data = bytearray(package.read_bytes())
        data[data.rindex(b"PK\x05\x06")] ^= 0xFF
        package.write_bytes(bytes(data))
        return package

    def part_missing(self, name):
        """A package in three pieces whose last one is not there."""
        source = self.work / (name + "-app")
        shutil.copytree(DEMO_APP, source)
        # Random bytes do not shrink, so the archive is long enough for three pieces.
        (source / "data.bin").write_bytes(random.Random(6).randbytes(60000))
        package = self.unattended(name, source, split="40k")
        (self.work / (name + ".002")).unlink()
        return package

    # What the user does.

    def press(self, run, *buttons, caption=TITLE):
        window = self.window(run, caption=caption)
        for button in buttons:
            self.assertEqual(self.driver.click(button, hwnd=window.handle), 0)

    def decline_licence_then_close(self, run):
        self.press(run, INSTALL_ID)
        self.press(run, DECLINE_ID, caption=LICENCE_CAPTION)
        self.press(run, CLOSE_ID)

    def answer(self, *answers):
        def answer_each(run):
            for button, caption in answers:
                self.answer_message(run, button, caption=caption)
        return answer_each

    def test_every_end_has_its_exit_code(self):
        ends = [
            ("installed", lambda: self.unattended("installed"), lambda run: None, 0),
            ("Close before Install", lambda: self.with_welcome("closed"),
             lambda run: self.press(run, CLOSE_ID), USER_EXIT),
            ("licence declined", lambda: self.with_welcome("declined", licence_file=LICENCE),
             self.decline_licence_then_close, USER_EXIT),
            ("password cancelled", lambda: self.unattended("cancelled", password=PASSWORD),
             lambda run: self.press(run, PASSWORD_CANCEL_ID, caption=PASSWORD_CAPTION),
             USER_EXIT),
            ("a flipped byte in a member", lambda: self.flipped_byte("flipped"),
             self.answer(("ok", "Error")), INSTALL_FAILURE),
            ("a damaged end record", lambda: self.end_record_damaged("end-record"),
             self.answer(("ok", "Error")), INSTALL_FAILURE),
            ("a missing part", lambda: self.part_missing("part-missing"),
             self.answer(("cancel", TITLE), ("ok", "Error")), INSTALL_FAILURE),
        ]
        for what, make, act, code in ends:
            with self.subTest(what):
                self.clean_installation()
                run = self.start(make(), through_cmd=True)
                act(run)
                self.assertEqual(run.windows_exit_code(timeout=60), code)
                if code == 0:
                    self.assert_demo_installed()
                else:
                    self.assert_nothing_installed()

    def test_a_start_folder_of_the_longest_length_is_no_failure(self):
        # A current folder holds up to 258 characters; started there, an
        # installation ends with 0 and removes its temporary folder.
        folder = self.prefix.drive_c / ("s" * 120) / ("t" * (258 - 3 - 121))
        folder.mkdir(parents=True, exist_ok=True)
        self.assertEqual(len(self.prefix.windows_path(folder)), 258)
        self.clean_installation()
        run = self.start(self.unattended("long-start"), through_cmd=True, start_in=folder)
        self.assertEqual(run.windows_exit_code(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_quiet_runs_open_no_window_and_end_by_themselves(self):
        ends = [
            ("welcome text, licence and stay-open",
             lambda: self.with_welcome("installed", licence_file=LICENCE, stay_open=True), 0),
            ("password wanted", lambda: self.unattended("password", password=PASSWORD),
             INSTALL_FAILURE),
            ("a flipped byte in a member", lambda: self.flipped_byte("flipped"), INSTALL_FAILURE),
            ("a damaged end record", lambda: self.end_record_damaged("end-record"),
             INSTALL_FAILURE),
            ("a missing part", lambda: self.part_missing("part-missing"), INSTALL_FAILURE),
        ]
        for what, make, code in ends:
            with self.subTest(what):
                self.clean_installation()
                package = make()
                # Every window of the program, from its start to its end.
                watch = self.driver.watch(package.name, self.work / (package.stem + "-watch.log"),
                                          timeout=QUIET_RUN_SECONDS)
                run = self.start(package, arguments=["/Q"], through_cmd=True)
                self.assertEqual(run.windows_exit_code(timeout=QUIET_RUN_SECONDS), code)
                self.assertEqual([w.data for w in Driver.watch_result(watch)], [])
                if code == 0:
                    self.assert_demo_installed()
                    self.assert_temp_gone()
                else:
                    self.assert_nothing_installed()
