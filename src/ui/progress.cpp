// The dialogs' side of the progress calls of the lower tiers.
#include "../core/progress.h"

#include "../core/outcome.h"
#include "../core/program_state.h"
#include "dialogs.h"
#include "resource_ids.h"
#include "window_helpers.h"

// A quiet run has no dialog to show the status in.
void ShowStatus(HWND dialog, const char *text) {
  if (dialog) SetItemText(dialog, IDC_MAIN_TEXT, text);
}

void ShowProgress(HWND dialog, const char *text) {
  ShowStatus(dialog, text);
  PumpOneMessage();
}

// A quiet run cannot ask: the member cannot be opened, which fails the run.
// A dialog that could not be shown fails it too; only a cancel is the
// user's choice.
bool AskForPassword() {
  if (state.quiet) {
    RecordFailure(kExitFailed);
    return false;
  }
  INT_PTR answer = RunModalDialog("DLG_PASS", PasswordDlgProc);
  if (answer != kPasswordDialogOk && answer != kPasswordDialogCancel) RecordFailure(kExitFailed);
  return answer == kPasswordDialogOk;
}
