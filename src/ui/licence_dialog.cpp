#include "../core/program_state.h"
#include "dialogs.h"
#include "resource_ids.h"
#include "window_helpers.h"

namespace {
void InitLicenceDialog(HWND dialog) {
  SetItemText(dialog, IDC_LICENCE_TEXT, state.licenceText);
  SetWindowTextA(dialog, "License agreement");
  SetItemText(dialog, IDC_LICENCE_PROMPT,
              "To continue with this installation, you must agree to all terms of this license "
              "agreement.");
  SetItemText(dialog, IDC_AGREE, "I agree");
  SetItemText(dialog, IDC_DECLINE, "&Cancel");
  CenterWindow(dialog);
}
}  // namespace

INT_PTR CALLBACK LicenceDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitLicenceDialog(dialog);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_AGREE:
          EndDialog(dialog, kLicenceAgreed);
          return FALSE;
        case IDC_DECLINE:
          EndDialog(dialog, kLicenceDeclined);
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}
