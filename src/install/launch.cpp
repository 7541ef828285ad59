#include "launch.h"

#include "../archive/paths.h"
#include "../startup/program_state.h"
#include "../startup/runtime.h"
#include "../startup/text.h"
#include "installer_command.h"

namespace {
const DWORD kFirstRunFlags = CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS;
const DWORD kSecondRunFlags = CREATE_NEW_CONSOLE | HIGH_PRIORITY_CLASS;
const DWORD kCommandSize = 2 * kPathBufferSize + 128;

STARTUPINFOA startupInfo;

// Ends the program at once with the message's wParam as exit code: nothing
// of the installation, the clean-up or the exit sequence runs after it.
void DispatchPendingMessages(bool endOnQueryEndSession) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT ||
        (endOnQueryEndSession && message.message == WM_QUERYENDSESSION)) {
      ExitProcess(UINT(message.wParam));
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// The installer host is taken from the system's own folders only: a
// rundll32.exe lying next to a downloaded package must never run with the
// installer's rights.
void SystemProgramPath(const char *program, char *path) {
  DWORD n = AppendLiteral(path, 0, kPathBufferSize, state.systemDir);
  n = AppendLiteral(path, n, kPathBufferSize, "\\");
  AppendLiteral(path, n, kPathBufferSize, program);
  if (PathExists(path)) return;
  char windowsDir[kPathBufferSize];
  UINT length = GetWindowsDirectoryA(windowsDir, kPathBufferSize);
  if (length == 0 || length >= kPathBufferSize) return;
  char candidate[kPathBufferSize];
  n = AppendLiteral(candidate, 0, kPathBufferSize, windowsDir);
  n = AppendLiteral(candidate, n, kPathBufferSize, "\\");
  AppendLiteral(candidate, n, kPathBufferSize, program);
  if (PathExists(candidate)) CopyBytes(path, candidate, TextLength(candidate) + 1);
}

// "<program> <arguments>", composed as vantrel-pack shows it.
void InstallerCommand(char *line, InstallerRun run, bool windowsNT) {
  DWORD n = AppendLiteral(line, 0, kCommandSize, InstallerProgram(run));
  n = AppendLiteral(line, n, kCommandSize, " ");
  AppendInstallerArguments(line, n, kCommandSize, run, windowsNT, state.tempDir, state.infName);
}

// The setupx road on Windows 95/98 (where SetupX.dll exists), else setupapi.
InstallerRun HinfRun() {
  char setupx[kPathBufferSize];
  DWORD n = AppendLiteral(setupx, 0, sizeof setupx, state.systemDir);
  AppendLiteral(setupx, n, sizeof setupx, "\\SetupX.dll");
  return PathExists(setupx) ? kSetupxRun : kSetupapiRun;
}

void EnterFolder(const char *folder) {
  if (!SetCurrentDirectoryA(folder)) FatalSystemError();
}
}  // namespace

bool IsWindowsNT() {
  OSVERSIONINFOA version;
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool RunAndWait(const char *application, char *commandLine, DWORD creationFlags,
                bool endOnQueryEndSession) {
  PROCESS_INFORMATION child;
  if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, creationFlags, nullptr,
                      nullptr, &startupInfo, &child)) {
    return false;
  }
  // Sleeps until the child ends or a message arrives, so the program uses
  // no processor while the installer runs; an exit code of 259 cannot be
  // mistaken for a running child.
  do {
    DispatchPendingMessages(endOnQueryEndSession);
  } while (MsgWaitForMultipleObjects(1, &child.hProcess, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return true;
}

void LaunchInf(HWND) {
  FillBytes(&startupInfo, 0, sizeof startupInfo);
  startupInfo.cb = sizeof startupInfo;
  startupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
  startupInfo.wShowWindow = 5;  // SW_SHOW

  char line[kCommandSize];
  char program[kPathBufferSize];
  InstallerRun run = state.useAdvpack ? kAdvpackFirstRun : HinfRun();
  InstallerCommand(line, run, run == kAdvpackFirstRun && IsWindowsNT());
  SystemProgramPath(InstallerProgram(run), program);

  EnterFolder(state.tempDir);
  if (!RunAndWait(program, line, kFirstRunFlags, false)) {
    MessageBoxA(nullptr, "Couldn't initialize installation.", "Error", MB_ICONHAND);
  }
  if (state.useAdvpack) {
    InstallerCommand(line, kAdvpackSecondRun, false);
    RunAndWait(program, line, kSecondRunFlags, true);
  }
  EnterFolder(state.startDir);
}
