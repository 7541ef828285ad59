// How the long steps below the dialogs reach the user while they run: the
// extraction's and the removal's status lines in the main dialog, and the
// password prompt of an encrypted member. The dialogs implement these
// calls; they are the one way the lower tiers call up into the dialogs, and
// everything else points down.
#ifndef VANTREL_PROGRESS_H
#define VANTREL_PROGRESS_H

#include <windows.h>

// Replaces the text of the main dialog's status area; a quiet run passes
// no dialog, and nothing is shown.
void ShowStatus(HWND dialog, const char *text);

// The same, then lets one pending message through, so that the line is
// drawn and the dialog answers while the step goes on.
void ShowProgress(HWND dialog, const char *text);

// Shows the password dialog; true after OK, with the typed text in
// `state.typedPassword` and its length in `state.typedPasswordLength`, false
// when the user cancelled or the dialog could not be shown.
bool AskForPassword();

#endif
