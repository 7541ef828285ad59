#include "../core/program_state.h"
#include "dialogs.h"
#include "resource_ids.h"
#include "window_helpers.h"

namespace {
void InitPasswordDialog(HWND dialog) {
  SetWindowTextA(dialog, "Please enter the password to continue...");
  SetItemText(dialog, IDC_PASSWORD_OK, "&Ok");
  SetItemText(dialog, IDC_PASSWORD_CANCEL, "&Cancel");
  CenterWindow(dialog);
  SetFocus(GetDlgItem(dialog, IDC_PASSWORD_EDIT));
}

// Takes the typed text into the program state: at most 79 characters and
// always terminated.
void TakeTypedPassword(HWND dialog) {
  UINT n = GetDlgItemTextA(dialog, IDC_PASSWORD_EDIT, state.typedPassword, kTypedPasswordSize);
  if (n >= kTypedPasswordSize) n = kTypedPasswordSize - 1;
  state.typedPasswordLength = LONG(n);
  state.typedPassword[n] = 0;
}
}  // namespace

INT_PTR CALLBACK PasswordDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitPasswordDialog(dialog);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_PASSWORD_OK:
          TakeTypedPassword(dialog);
          EndDialog(dialog, kPasswordDialogOk);
          return FALSE;
        case IDC_PASSWORD_CANCEL:
          EndDialog(dialog, kPasswordDialogCancel);
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}
