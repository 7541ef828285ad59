"""The dialogs as the system's dialog manager runs them: keys, the close box,
the default buttons, the password field's length, and the main dialog in the
states an unattended package can reach."""

from harness import Driver
from test_install import (AGREE_ID, LICENCE_CAPTION, PASSWORD_CAPTION, PASSWORD_EDIT_ID, TITLE,
                          InstallCase)
from wine_case import CLOSE_ID, EXAMPLES, INSTALL_ID, MAIN_TEXT_ID, USER_EXIT, wine_status

ES_AUTOHSCROLL = 0x80
DEFAULT_WELCOME = '\r\r\rPlease click "Install" to start setup.'


class LicenceKeysTest(InstallCase):
    def test_enter_escape_and_close_box_all_decline(self):
        run = self.start(self.welcome_package(licence_file=EXAMPLES / "licence.txt"))
        for how in ("enter", "escape", "close box"):
            with self.subTest(how=how):
                main = self.press_install(run)
                licence = self.window(run, caption=LICENCE_CAPTION)
                if how == "close box":
                    self.driver.close(hwnd=licence.handle)
                else:
                    # Nothing has the focus yet; the default button is Cancel.
                    self.driver.key(how, hwnd=licence.handle)
                self.assertTrue(self.driver.gone(hwnd=licence.handle))
                main = self.window(run, hwnd=main.handle)
                self.assertTrue(main.enabled(INSTALL_ID) and main.enabled(CLOSE_ID))
        self.driver.click(CLOSE_ID, hwnd=main.handle)
        self.assertEqual(run.wait(timeout=20), wine_status(USER_EXIT))
        self.assert_nothing_installed()
        self.assert_temp_gone()


class PasswordKeysTest(InstallCase):
    def test_enter_in_the_field_confirms(self):
        run = self.start(self.welcome_package(password="secret"))
        self.press_install(run)
        prompt = self.window(run, caption=PASSWORD_CAPTION)
        self.assertEqual(self.driver.type(PASSWORD_EDIT_ID, "secret", hwnd=prompt.handle), 0)
        self.driver.key("enter", hwnd=prompt.handle)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_a_long_entry_is_cut_to_79_characters(self):
        password = "".join(chr(ord("a") + i % 26) for i in range(79))
        run = self.start(self.welcome_package(password=password))
        self.press_install(run)
        prompt = self.window(run, caption=PASSWORD_CAPTION)
        # A one-line edit field without ES_AUTOHSCROLL takes only the
        # characters that fit its width (50 masked ones here), so the
        # longest passwords could not be typed at all.
        self.assertTrue(prompt.controls[PASSWORD_EDIT_ID]["style"] & ES_AUTOHSCROLL)
        self.assertEqual(self.driver.type(PASSWORD_EDIT_ID, password + "-and-more",
                                          hwnd=prompt.handle), 0)
        self.driver.click(1, hwnd=prompt.handle)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_escape_cancels_without_a_message(self):
        run = self.start(self.welcome_package(password="secret"))
        watch = self.watch_windows(run)
        self.press_install(run)
        prompt = self.window(run, caption=PASSWORD_CAPTION)
        Driver.wait_until_seen(watch, [TITLE, PASSWORD_CAPTION])
        self.driver.key("escape", hwnd=prompt.handle)
        self.assertEqual(run.wait(timeout=30), wine_status(USER_EXIT))
        # Which of the two the watch saw first depends on when it started.
        self.assertCountEqual([w.caption for w in Driver.watch_result(watch)],
                              [TITLE, PASSWORD_CAPTION])
        self.assert_nothing_installed()


class UnattendedStatesTest(InstallCase):
    def test_declined_licence_shows_the_main_dialog_ready_with_the_default_text(self):
        run = self.start(self.package(title=TITLE, licence_file=EXAMPLES / "licence.txt"))
        licence = self.window(run, caption=LICENCE_CAPTION)
        self.driver.click(2, hwnd=licence.handle)
        main = self.window(run, caption=TITLE)
        self.assertEqual(main.text(MAIN_TEXT_ID), DEFAULT_WELCOME)
        self.assertTrue(main.enabled(INSTALL_ID) and main.enabled(CLOSE_ID))
        self.assert_nothing_installed()

        self.driver.click(INSTALL_ID, hwnd=main.handle)
        licence = self.window(run, caption=LICENCE_CAPTION)
        self.driver.click(AGREE_ID, hwnd=licence.handle)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assert_demo_installed()
        self.assert_temp_gone()

    def test_stay_open_without_welcome_text_waits_for_install(self):
        run = self.start(self.package(title=TITLE, stay_open=True))
        main = self.window(run, caption=TITLE)
        self.assertEqual(main.text(MAIN_TEXT_ID), DEFAULT_WELCOME)
        self.assertEqual((main.text(INSTALL_ID), main.text(CLOSE_ID)), ("&Install", "&Close"))
        self.assert_nothing_installed()
        self.driver.click(INSTALL_ID, hwnd=main.handle)
        self.assertEqual(self.driver.wait_for_text(INSTALL_ID, "&Info", hwnd=main.handle), "&Info")
        self.assert_demo_installed()
        self.driver.click(CLOSE_ID, hwnd=main.handle)
        self.assertEqual(run.wait(timeout=30), 0)
        self.assert_temp_gone()
