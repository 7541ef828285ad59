#include "launch.h"

#include "../core/outcome.h"
#include "../core/paths.h"
#include "../core/program_state.h"
#include "../core/runtime.h"
#include "../core/text.h"
#include "../core/windows_family.h"
#include "installer_command.h"

namespace {
const DWORD kFirstRunFlags = CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS;
const DWORD kSecondRunFlags = CREATE_NEW_CONSOLE | HIGH_PRIORITY_CLASS;
// The quoted program, the installer's arguments, the folder and the INF name.
const DWORD kCommandSize = 3 * kPathBufferSize + 128;
// The wake bits every Windows knows: Windows 95 to 2000 fail a wait whose
// mask holds any other (the QS_ALLINPUT of current headers does).
const DWORD kWakeMask = QS_KEY | QS_MOUSEMOVE | QS_MOUSEBUTTON | QS_POSTMESSAGE | QS_TIMER |
                        QS_PAINT | QS_SENDMESSAGE | QS_HOTKEY;
// How long one wait on the child alone lasts before messages are looked at.
const DWORD kChildPollMilliseconds = 50;

STARTUPINFOA startupInfo;

// Ends the program at once with the message's wParam as exit code: nothing
// of the installation, the clean-up or the exit sequence runs after it.
void DispatchPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) ExitProcess(UINT(message.wParam));
    if (message.message == WM_QUERYENDSESSION) EndOnQueryEndSession(message.wParam);
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Sleeps until the child ends or a message arrives, so the program uses no
// processor while the installer runs; the end is the handle's signal, so an
// exit code of 259 cannot pass for a running child. Should the message wait
// fail, the child alone is waited on in short spells with the messages
// dispatched between them: a failed wait is never taken for the child's end.
void WaitForChild(HANDLE child) {
  bool messageWaitWorks = true;
  for (;;) {
    DispatchPendingMessages();
    if (messageWaitWorks) {
      DWORD woke = MsgWaitForMultipleObjects(1, &child, FALSE, INFINITE, kWakeMask);
      if (woke == WAIT_OBJECT_0) return;
      if (woke == WAIT_OBJECT_0 + 1) continue;
      messageWaitWorks = false;
    }
    DWORD ended = WaitForSingleObject(child, kChildPollMilliseconds);
    // A handle that cannot be waited on at all leaves nothing to wait for.
    if (ended == WAIT_OBJECT_0 || ended == WAIT_FAILED) return;
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

bool HoldsSpace(const char *text) {
  for (; *text; ++text) {
    if (*text == ' ') return true;
  }
  return false;
}

// Every line begins with the very program it starts, quoted when its path
// holds a space: Windows 95 refuses to start a 16-bit program (rundll.exe)
// whose command line begins otherwise.
DWORD StartWithProgram(char *line, const char *program) {
  bool quoted = HoldsSpace(program);
  DWORD n = AppendLiteral(line, 0, kCommandSize, quoted ? "\"" : "");
  n = AppendLiteral(line, n, kCommandSize, program);
  n = AppendLiteral(line, n, kCommandSize, quoted ? "\"" : "");
  return AppendLiteral(line, n, kCommandSize, " ");
}

// "<program> <arguments>": the arguments composed as vantrel-pack shows them.
void InstallerCommand(char *line, const char *program, InstallerRun run, bool windowsNT) {
  DWORD n = StartWithProgram(line, program);
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

void EndOnQueryEndSession(WPARAM wParam) {
  if (state.queryEndSessionEnds) ExitProcess(UINT(wParam));
}

bool RunAndWait(const char *application, char *commandLine, DWORD creationFlags,
                bool endOnQueryEndSession) {
  PROCESS_INFORMATION child;
  if (!CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, creationFlags, nullptr,
                      nullptr, &startupInfo, &child)) {
    return false;
  }
  state.queryEndSessionEnds = endOnQueryEndSession;
  WaitForChild(child.hProcess);
  state.queryEndSessionEnds = 0;
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
  SystemProgramPath(InstallerProgram(run), program);
  InstallerCommand(line, program, run, run == kAdvpackFirstRun && IsWindowsNT());

  EnterFolder(state.tempDir);
  if (RunAndWait(program, line, kFirstRunFlags, false)) {
    RecordOutcome(kExitInstalled);
  } else {
    ReportFailure(kExitFailed, "Couldn't initialize installation.", "Error");
  }
  // A second run that does not start shows nothing, but leaves the
  // installation half done.
  if (state.useAdvpack) {
    InstallerCommand(line, program, kAdvpackSecondRun, false);
    if (!RunAndWait(program, line, kSecondRunFlags, true)) RecordFailure(kExitFailed);
  }
  // Without the starting folder, its parent: the temporary folder must be
  // left, or Windows NT cannot remove it.
  EnterFolder(state.startDir[0] ? state.startDir : "..");
}
