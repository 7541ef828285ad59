#include "../archive/temp_folder.h"
#include "../archive/walker.h"
#include "../install/launch.h"
#include "../install/removal.h"
#include "../core/outcome.h"
#include "../core/program_state.h"
#include "../core/progress.h"
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
  // A package without welcome text installs unattended: the whole
  // installation runs here and the dialog ends before it is ever shown.
  if (state.welcomeTextLength == 0 && !state.stayOpen) ClickButton(dialog, IDC_INSTALL);
}

char *StripTrailingBackslash(char *path) {
  DWORD n = 0;
  while (path[n]) ++n;
  if (n > 0 && path[n - 1] == '\\') path[n - 1] = 0;
  return path;
}

void EnableButtons(HWND dialog, BOOL enable) {
  // Disabled first Install then Close; enabled again in the opposite order.
  EnableWindow(GetDlgItem(dialog, enable ? IDC_CLOSE : IDC_INSTALL), enable);
  EnableWindow(GetDlgItem(dialog, enable ? IDC_INSTALL : IDC_CLOSE), enable);
}

// While the licence dialog is open the main dialog's buttons are disabled,
// so that a second Install cannot open a second licence dialog behind it.
bool LicenceAccepted(HWND dialog) {
  if (state.licenceTextLength == 0) return true;
  EnableButtons(dialog, FALSE);
  INT_PTR answer = RunModalDialog("DLG_LIC", LicenceDlgProc);
  EnableButtons(dialog, TRUE);
  return answer == kLicenceAgreed;
}

void FinishInstallation(HWND dialog) {
  if (state.stayOpen) {
    SetItemText(dialog, IDC_CLOSE, "&Ok");
    SetItemText(dialog, IDC_MAIN_TEXT, "\r\nFinished!");
    SetItemText(dialog, IDC_INSTALL, "&Info");
  } else {
    ClickButton(dialog, IDC_CLOSE);
  }
}

// The installation itself, the same with the main dialog as without it (a
// quiet run passes no dialog): extracts the archive into a temporary folder
// of this run's own and, when every member came out, runs the INF
// installer. False when the extraction failed.
bool ExtractAndLaunch(HWND dialog) {
  state.installStarted = 1;
  StripTrailingBackslash(state.tempDir);
  CreateTempFolder();
  ExtractArchive(dialog);
  if (!state.extractOk) return false;
  ShowStatus(dialog, "\r\nSetup is updating your system ...\r\n\r\n");
  LaunchInf(dialog);
  return true;
}

void InstallCommand(HWND dialog) {
  if (state.installStarted) {
    ClickButton(dialog, IDC_CLOSE);
    return;
  }
  if (!LicenceAccepted(dialog)) return;
  EnableButtons(dialog, FALSE);
  if (ExtractAndLaunch(dialog)) {
    FinishInstallation(dialog);
  } else {
    EndDialog(dialog, kMainExtractionFailed);
  }
  EnableButtons(dialog, TRUE);
}

void CloseCommand(HWND dialog) {
  RemoveExtractedFiles(dialog);
  EndDialog(dialog, kMainClosed);
}
}  // namespace

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitMainDialog(dialog);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_INSTALL:
          InstallCommand(dialog);
          return FALSE;
        case IDC_CLOSE:
          CloseCommand(dialog);
          return TRUE;
      }
      return FALSE;
    case WM_QUERYENDSESSION:
      // Windows sends this straight here when the user logs off; it never
      // passes through the wait's queue.
      EndOnQueryEndSession(wParam);
      return FALSE;
  }
  return FALSE;
}

void RunInstallation() {
  if (state.quiet) {
    // Whoever asked for a quiet run has accepted the licence: there is no
    // one else to ask, and nothing waits for a press.
    if (ExtractAndLaunch(nullptr)) RemoveExtractedFiles(nullptr);
    return;
  }
  INT_PTR ended = RunModalDialog("DLG_MAIN", MainDlgProc);
  // A main dialog that could not be shown installed nothing, and nobody
  // chose that.
  if (ended != kMainExtractionFailed && ended != kMainClosed) RecordFailure(kExitFailed);
}
