// The dialog procedures of the three dialog templates.
#ifndef VANTREL_DIALOGS_H
#define VANTREL_DIALOGS_H

#include <windows.h>

// What each dialog ends with (its EndDialog result, which RunModalDialog
// returns). Any other value means the dialog could not be shown.
enum DialogResult {
  kMainExtractionFailed = 1,
  kMainClosed = 2,
  kLicenceAgreed = IDOK,
  kLicenceDeclined = IDCANCEL,
  kPasswordDialogOk = IDOK,
  kPasswordDialogCancel = IDCANCEL,
};

// Runs the installation: through the main dialog, or in a quiet run without
// any window, the licence taken as accepted.
void RunInstallation();

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LicenceDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PasswordDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
