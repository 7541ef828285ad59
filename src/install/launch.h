// Handing the package's INF file to the system's INF installer.
#ifndef VANTREL_LAUNCH_H
#define VANTREL_LAUNCH_H

#include <windows.h>

// True on the Windows NT family.
bool IsWindowsNT();

// Starts one child from `commandLine` with `creationFlags` and waits for it
// while dispatching the thread's messages; a WM_QUIT (and, when asked, a
// WM_QUERYENDSESSION) ends the program with its wParam. False when the child
// did not start.
bool RunAndWait(const char *application, char *commandLine, DWORD creationFlags,
                bool endOnQueryEndSession);

// Runs the INF installer (two sections with advpack) in the temporary
// folder and restores the starting directory afterwards.
void LaunchInf(HWND dialog);

#endif
