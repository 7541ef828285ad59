"""Packages split over several pieces (as on disks), and packages that
require administrator rights."""

import random
import shutil

from wine_case import DEMO_APP, INSTALL_FAILURE, WineTestCase, wine_status

TITLE = "Vantrel Split Setup"
REBUILD_ERROR = "Error rebuilding this Setup package."


class SplitPackageTest(WineTestCase):
    def split_package(self):
        """An unattended package in three pieces: setup.exe, setup.001, setup.002."""
        source = self.work / "app"
        shutil.copytree(DEMO_APP, source)
        # Random bytes do not shrink, so the archive is long enough for three pieces.
        (source / "data.bin").write_bytes(random.Random(6).randbytes(60000))
        package = self.package(source=source, title=TITLE, split="40k")
        pieces = sorted(p.name for p in self.work.glob("setup.*"))
        self.assertEqual(pieces, ["setup.001", "setup.002", "setup.exe"])
        return package

    def assert_rebuilt_file_gone(self):
        self.assertFalse((self.vantrel_temp / "Vantrel.pkg").exists(),
                         "the rebuilt package was left behind")

    def test_three_pieces_install_without_a_prompt(self):
        run = self.start(self.split_package())
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_rebuilt_file_gone()
        self.assert_temp_gone()

    def test_missing_piece_is_asked_for_until_it_is_there(self):
        package = self.split_package()
        aside = self.work / "aside"
        aside.mkdir()
        (self.work / "setup.002").rename(aside / "setup.002")
        run = self.start(package)
        prompt = self.window(run, caption=TITLE)
        self.screenshot("disk-prompt", prompt)
        expected = (TITLE, "Please insert disk with part number 3..")
        # OK without the disk asks again.
        self.assertEqual(self.answer_message(run, "ok", caption=TITLE), expected)
        self.assertEqual(self.answer_message(run, "ok", caption=TITLE), expected)
        # The disk goes in, and OK goes on with it.
        self.window(run, caption=TITLE)
        (aside / "setup.002").rename(self.work / "setup.002")
        self.assertEqual(self.answer_message(run, "ok", caption=TITLE), expected)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_rebuilt_file_gone()
        self.assert_temp_gone()

    def test_cancel_at_the_disk_prompt_ends_with_a_rebuild_error(self):
        package = self.split_package()
        (self.work / "setup.002").unlink()
        run = self.start(package)
        self.assertEqual(self.answer_message(run, "cancel", caption=TITLE),
                         (TITLE, "Please insert disk with part number 3.."))
        message = self.answer_message(run, "ok", caption="Error", screenshot="rebuild-error")
        self.assertEqual(message, ("Error", REBUILD_ERROR))
        self.assertEqual(run.wait(timeout=30), wine_status(INSTALL_FAILURE))
        self.assert_nothing_installed()
        self.assert_rebuilt_file_gone()
        self.assert_temp_gone()


class AdministratorTest(WineTestCase):
    def test_admin_package_installs_for_wines_administrator(self):
        run = self.start(self.package(title="Vantrel Admin Setup", admin=True))
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()
