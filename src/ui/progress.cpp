// The dialogs' side of the progress calls of the lower tiers.
#include "../core/progress.h"

#include "dialogs.h"
#include "resource_ids.h"
#include "window_helpers.h"

void ShowStatus(HWND dialog, const char *text) { SetItemText(dialog, IDC_MAIN_TEXT, text); }

void ShowProgress(HWND dialog, const char *text) {
  ShowStatus(dialog, text);
  PumpOneMessage();
}

bool AskForPassword() { return RunModalDialog("DLG_PASS", PasswordDlgProc) == kPasswordDialogOk; }
