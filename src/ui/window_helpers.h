// Window operations the dialogs and the long-running steps share.
#ifndef VANTREL_WINDOW_HELPERS_H
#define VANTREL_WINDOW_HELPERS_H

#include <windows.h>

// Moves the window to the centre of the primary screen.
void CenterWindow(HWND window);

// Runs a dialog template modally with no owner; returns the result the
// dialog passed to EndDialog (or the system's failure value).
INT_PTR RunModalDialog(const char *templateName, DLGPROC procedure);

// Delivers a button's command to the dialog synchronously, also when the
// button is disabled (a disabled button may ignore BM_CLICK).
void ClickButton(HWND dialog, int buttonId);

// Replaces the text of a dialog control.
void SetItemText(HWND dialog, int controlId, const char *text);

// Lets at most one pending message through, without waiting.
void PumpOneMessage();

#endif
