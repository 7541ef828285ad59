"""The main dialog as a person first meets it, and a damaged package."""

from wine_case import (CLOSE_ID, EXAMPLES, INSTALL_FAILURE, INSTALL_ID, MAIN_TEXT_ID, USER_EXIT,
                       WineTestCase, windows_text, wine_status)

TITLE = "Vantrel Demo Setup"
CORRUPTED = "The setup file is corrupted. Please obtain a new copy of the program."


class MainDialogTest(WineTestCase):
    def demo_package(self, **options):
        return self.package(title=TITLE, welcome_file=EXAMPLES / "welcome.txt", **options)

    def test_shows_title_and_welcome_text_and_close_ends_it(self):
        run = self.start(self.demo_package())
        dialog = self.window(run, caption=TITLE)
        self.assertEqual(dialog.text(MAIN_TEXT_ID), windows_text(EXAMPLES / "welcome.txt"))
        self.assertEqual(dialog.text(INSTALL_ID), "&Install")
        self.assertEqual(dialog.text(CLOSE_ID), "&Close")
        self.assertTrue(dialog.enabled(INSTALL_ID) and dialog.enabled(CLOSE_ID))
        self.screenshot("main-dialog", dialog)

        self.assertEqual(self.driver.click(CLOSE_ID, hwnd=dialog.handle), 0)
        self.assertEqual(run.wait(timeout=20), wine_status(USER_EXIT))
        self.assertEqual(self.driver.windows(exe=run.program.name), [])
        self.assert_nothing_installed()
        self.assert_temp_gone()

    def test_dialog_is_centred_on_the_screen(self):
        run = self.start(self.demo_package())
        dialog = self.window(run, caption=TITLE)
        left, top, right, bottom = dialog.rect
        width, height = self.session.display_size
        # Integer halves of the remaining space, as the dialog computes them.
        self.assertEqual(left, (width - (right - left)) // 2)
        self.assertEqual(top, (height - (bottom - top)) // 2)
        self.driver.close(hwnd=dialog.handle)
        self.assertEqual(run.wait(timeout=20), wine_status(USER_EXIT))

    def test_package_without_title_keeps_the_template_caption(self):
        run = self.start(self.package(welcome="Hello"))
        dialog = self.window(run, dialog=True)
        self.assertEqual(dialog.caption, "Self-extracting Archive")
        self.assertEqual(dialog.text(MAIN_TEXT_ID), "Hello")
        self.driver.close(hwnd=dialog.handle)
        self.assertEqual(run.wait(timeout=20), wine_status(USER_EXIT))

    def test_close_box_and_escape_end_like_close(self):
        for how in ("close box", "escape"):
            with self.subTest(how=how):
                run = self.start(self.demo_package(name=f"setup-{how[0]}.exe"))
                dialog = self.window(run, caption=TITLE)
                if how == "escape":
                    self.driver.key("escape", hwnd=dialog.handle)
                else:
                    self.driver.close(hwnd=dialog.handle)
                self.assertEqual(run.wait(timeout=20), wine_status(USER_EXIT))
                self.assert_nothing_installed()

    def test_archive_end_cut_off_reports_a_corrupted_package(self):
        package = self.demo_package()
        data = package.read_bytes()
        package.write_bytes(data[:-10])
        run = self.start(package)
        box = self.window(run, caption="Error")
        # The message is all there is: the main dialog never opens.
        self.assertEqual([w.caption for w in self.driver.windows(exe=run.program.name)],
                         ["Error"])
        self.screenshot("corrupted-package", box)
        caption, text = self.answer_message(run, caption="Error")
        self.assertEqual((caption, text), ("Error", CORRUPTED))
        self.assertEqual(run.wait(timeout=20), wine_status(INSTALL_FAILURE))
        self.assert_nothing_installed()
        self.assert_temp_gone()
