// The password dialog: what it shows, and what it leaves in the state.
#include <gtest/gtest.h>

#include "support/host_machine.h"
#include "ui/dialogs.h"
#include "ui/window_helpers.h"

using namespace testing_support;

namespace {

class PasswordDialog : public HostMachine {
 protected:
  INT_PTR Run(std::function<void(const host::Dialog &)> user) {
    host::OnDialog("DLG_PASS", user);
    return RunModalDialog("DLG_PASS", PasswordDlgProc);
  }
};

TEST_F(PasswordDialog, ShowsItsTextsCentredWithTheFocusOnTheField) {
  host::SetScreenSize(1000, 800);
  std::string caption, ok, cancel;
  int focus = 0;
  POINT where{};
  Run([&](const host::Dialog &d) {
    caption = d.Caption();
    ok = d.Text(1);
    cancel = d.Text(2);
    focus = d.Focus();
    where = host::WindowPosition(d.window);
    d.Click(2);
  });
  EXPECT_EQ("Please enter the password to continue...", caption);
  EXPECT_EQ("&Ok", ok);
  EXPECT_EQ("&Cancel", cancel);
  EXPECT_EQ(101, focus);
  RECT r;
  // Centred: equal margins left and right, top and bottom (to a pixel).
  int width = 191 * 6 / 4, height = 41 * 13 / 8 + 24;
  (void)r;
  EXPECT_NEAR((1000 - width) / 2, where.x, 1);
  EXPECT_NEAR((800 - height) / 2, where.y, 1);
}

TEST_F(PasswordDialog, OkTakesTheTypedText) {
  INT_PTR result = Run([](const host::Dialog &d) {
    d.Type(101, "open sesame");
    d.Click(1);
  });
  EXPECT_EQ(1, result);
  EXPECT_STREQ("open sesame", state.typedPassword);
  EXPECT_EQ(11, state.typedPasswordLength);
}

TEST_F(PasswordDialog, EnterConfirmsAnEmptyField) {
  state.typedPassword[0] = 'x';
  state.typedPasswordLength = 5;
  INT_PTR result = Run([](const host::Dialog &d) { d.Command(1); });
  EXPECT_EQ(1, result);
  EXPECT_STREQ("", state.typedPassword);
  EXPECT_EQ(0, state.typedPasswordLength);
}

TEST_F(PasswordDialog, TextLongerThan79CharactersIsCut) {
  std::string typed;
  for (int i = 0; i < 100; ++i) typed += char('a' + i % 26);
  Run([&](const host::Dialog &d) {
    d.Type(101, typed);
    d.Click(1);
  });
  EXPECT_EQ(79, state.typedPasswordLength);
  EXPECT_EQ(typed.substr(0, 79), std::string(state.typedPassword));
}

TEST_F(PasswordDialog, EscapeCancelsAndLeavesThePasswordFieldsAlone) {
  state.typedPassword[0] = 'k';
  state.typedPasswordLength = 1;
  INT_PTR result = Run([](const host::Dialog &d) {
    d.Type(101, "typed but cancelled");
    d.Command(2);
  });
  EXPECT_EQ(2, result);
  EXPECT_EQ('k', state.typedPassword[0]);
  EXPECT_EQ(0, state.typedPassword[1]);
  EXPECT_EQ(1, state.typedPasswordLength);
}

TEST_F(PasswordDialog, OtherCommandsAndMessagesChangeNothing) {
  std::string field;
  bool ended = true;
  INT_PTR result = Run([&](const host::Dialog &d) {
    d.Type(101, "typed");
    PasswordDlgProc(d.window, WM_COMMAND, 7, 0);
    PasswordDlgProc(d.window, WM_PAINT, 0, 0);
    ended = d.Ended();
    field = d.Text(101);
    d.Click(1);
  });
  EXPECT_FALSE(ended);
  EXPECT_EQ("typed", field);
  EXPECT_EQ(1, result);
  EXPECT_EQ("typed", std::string(state.typedPassword));
}

TEST_F(PasswordDialog, EachPromptStartsWithAnEmptyField) {
  Run([](const host::Dialog &d) {
    d.Type(101, "first");
    d.Click(1);
  });
  std::string seen = "unset";
  Run([&](const host::Dialog &d) {
    seen = d.Text(101);
    d.Click(2);
  });
  EXPECT_EQ("", seen);
}

}  // namespace
