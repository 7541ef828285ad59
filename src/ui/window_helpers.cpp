#include "window_helpers.h"

#include "../core/program_state.h"

void CenterWindow(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

INT_PTR RunModalDialog(const char *templateName, DLGPROC procedure) {
  return DialogBoxParamA(programInstance, templateName, nullptr, procedure, 0);
}

void ClickButton(HWND dialog, int buttonId) {
  SetForegroundWindow(dialog);
  // The command a click would send, sent straight to the dialog: the Close
  // command must arrive while both buttons are disabled.
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
               LPARAM(GetDlgItem(dialog, buttonId)));
}

void SetItemText(HWND dialog, int controlId, const char *text) {
  SendMessageA(GetDlgItem(dialog, controlId), WM_SETTEXT, 0, LPARAM(text));
}

void PumpOneMessage() {
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}
