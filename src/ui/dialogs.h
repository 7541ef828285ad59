// The dialog procedures of the three dialog templates.
#ifndef VANTREL_DIALOGS_H
#define VANTREL_DIALOGS_H

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LicenceDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PasswordDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
