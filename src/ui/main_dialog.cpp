#include "../install/removal.h"
#include "../startup/program_state.h"
#include "dialogs.h"
#include "resource_ids.h"
#include "window_helpers.h"

namespace {
void InitMainDialog(HWND dialog) {
  if (state.hasTitle) SetWindowTextA(dialog, state.title);
  SetItemText(dialog, IDC_INSTALL, "&Install");
  SetItemText(dialog, IDC_CLOSE, "&Close");
  SetItemText(dialog, IDC_MAIN_TEXT, state.welcomeText);
  CenterWindow(dialog);
}

void CloseCommand(HWND dialog) {
  RemoveExtractedFiles(dialog);
  EndDialog(dialog, 2);
}
}  // namespace

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitMainDialog(dialog);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDC_CLOSE) {
        CloseCommand(dialog);
        return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}
