// Handing the package's INF file to the system's INF installer.
#ifndef VANTREL_LAUNCH_H
#define VANTREL_LAUNCH_H

#include <windows.h>

// Starts one child from `commandLine` with `creationFlags` and waits for it
// while dispatching the thread's messages; a WM_QUIT (and, when asked, a
// WM_QUERYENDSESSION, retrieved or sent) ends the program with its wParam.
// False when the child did not start.
bool RunAndWait(const char *application, char *commandLine, DWORD creationFlags,
                bool endOnQueryEndSession);

// A WM_QUERYENDSESSION has come, through the queue or sent straight to the
// main dialog when the user logs off: during a wait that asked for it (the
// second advpack run) the program ends at once with `wParam` as exit code.
void EndOnQueryEndSession(WPARAM wParam);

// Runs the INF installer (two sections with advpack) in the temporary
// folder and restores the starting directory afterwards.
void LaunchInf(HWND dialog);

#endif
