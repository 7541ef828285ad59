// Child processes, scripted: what starts, how long it runs, its exit code.
// CreateProcessA and the waits first hold the caller to what Windows 95 and
// NT 4.0 accept (src/platform/README.md gives the sources).
#include <fstream>
#include <string>
#include <vector>

#include "host_state.h"

namespace host {
namespace {
struct ProcessObject : HostObject {
  ProcessScript script;
  std::string commandLine;
  ProcessObject() : HostObject(kProcess) {}
  // A handle closed while the child still runs means the program stopped
  // waiting too early.
  ~ProcessObject() override {
    if (script.runningWaits > 0) RecordEvent("closed a running child: " + commandLine);
  }
};
struct ThreadObject : HostObject {
  ThreadObject() : HostObject(kThread) {}
};

std::function<ProcessScript(const ProcessRecord &)> processScript;
std::vector<ProcessRecord> processes;
std::vector<WaitRecord> waits;
int pseudoProcess, pseudoThread;

// The wake-mask bits of Windows 95 and NT 4.0; Windows 95 to 2000 fail a
// wait whose mask holds any other bit.
const DWORD kKnownWakeBits = 0xFF;

// Creation flags both families know: debugging, suspended, detached, new
// console, the four classic priority classes, new process group, Unicode
// environment, separate or shared VDM, default error mode. The priority
// classes between them came with Windows 2000.
const DWORD kKnownCreationFlags =
    DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS | CREATE_SUSPENDED | DETACHED_PROCESS |
    CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS | IDLE_PRIORITY_CLASS | HIGH_PRIORITY_CLASS |
    REALTIME_PRIORITY_CLASS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT |
    CREATE_SEPARATE_WOW_VDM | CREATE_SHARED_WOW_VDM | CREATE_DEFAULT_ERROR_MODE;
const DWORD kPriorityClasses =
    NORMAL_PRIORITY_CLASS | IDLE_PRIORITY_CLASS | HIGH_PRIORITY_CLASS | REALTIME_PRIORITY_CLASS;
// STARTF_USESHOWWINDOW to STARTF_USEHOTKEY.
const DWORD kKnownStartFlags = 0x3FF;

// What 16-bit Windows can take from a 32-bit caller: the program's full path
// and its folder as MS-DOS holds them, and the command tail of its PSP.
const size_t kSixteenBitPathLimit = 128;
const size_t kSixteenBitFolderLimit = 64;
const size_t kSixteenBitArgumentRoom = 130;

bool Refuse(DWORD error) {
  SetLastError(error);
  return false;
}

// A 16-bit Windows program: an MS-DOS header whose new-header offset leads
// to "NE".
bool IsSixteenBitProgram(const std::string &posix) {
  std::ifstream in(posix, std::ios::binary);
  unsigned char dos[64] = {};
  if (!in.read(reinterpret_cast<char *>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
    return false;
  }
  unsigned long offset = dos[60] | dos[61] << 8 | dos[62] << 16 | (unsigned long)dos[63] << 24;
  char signature[2] = {};
  in.seekg(std::streamoff(offset));
  return in.read(signature, 2) && signature[0] == 'N' && signature[1] == 'E';
}

// The first token of a command line (quotes removed) and what follows the
// blanks after it.
void SplitCommandLine(const std::string &line, std::string &program, std::string &arguments) {
  size_t end;
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    program = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    end = close == std::string::npos ? line.size() : close + 1;
  } else {
    end = line.find_first_of(" \t");
    if (end == std::string::npos) end = line.size();
    program = line.substr(0, end);
  }
  size_t rest = line.find_first_not_of(" \t", end);
  arguments = rest == std::string::npos ? "" : line.substr(rest);
}

std::string FileName(const std::string &path) {
  size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Windows 95 starts a 16-bit program named as the application only when
// the command line begins with exactly that name (NT puts the name in
// itself); NT's Windows-on-Windows refuses paths and command tails that
// 16-bit Windows could not hold.
bool SixteenBitStartAllowed(LPCSTR application, const std::string &commandLine) {
  std::string program, arguments;
  SplitCommandLine(commandLine, program, arguments);
  if (application && !commandLine.empty() && program != application) {
    return Refuse(ERROR_FILE_NOT_FOUND);
  }
  std::string path = application ? application : program;
  size_t cut = path.find_last_of('\\');
  size_t folderLength = cut == std::string::npos ? 0 : cut;
  if (path.size() > kSixteenBitPathLimit || folderLength > kSixteenBitFolderLimit ||
      arguments.size() + FileName(path).size() > kSixteenBitArgumentRoom) {
    return Refuse(ERROR_INVALID_PARAMETER);
  }
  return true;
}

bool StartAllowed(LPCSTR application, LPCSTR commandLine, DWORD flags,
                  const STARTUPINFOA *startup) {
  if (!startup || startup->cb != sizeof(STARTUPINFOA) || startup->lpReserved ||
      startup->cbReserved2 || startup->lpReserved2 || (startup->dwFlags & ~kKnownStartFlags)) {
    return Refuse(ERROR_INVALID_PARAMETER);
  }
  DWORD priority = flags & kPriorityClasses;
  if ((flags & ~kKnownCreationFlags) || (priority & (priority - 1)) ||
      ((flags & CREATE_NEW_CONSOLE) && (flags & DETACHED_PROCESS))) {
    return Refuse(ERROR_INVALID_PARAMETER);
  }
  std::string line = commandLine ? commandLine : "";
  std::string module = application ? application : "";
  if (!application) {
    std::string arguments;
    SplitCommandLine(line, module, arguments);
    // A bare name is looked for along the search path, which the host does
    // not keep: only a path is checked.
    if (module.find('\\') == std::string::npos) return true;
  }
  // The application name is used as it stands: no search, no extension added.
  if (module.size() >= MAX_PATH) return Refuse(ERROR_FILENAME_EXCED_RANGE);
  std::string posix = PosixPath(module);
  if (posix.empty() || GetFileAttributesA(module.c_str()) != FILE_ATTRIBUTE_NORMAL) {
    return Refuse(ERROR_FILE_NOT_FOUND);
  }
  if (IsSixteenBitProgram(posix)) return SixteenBitStartAllowed(application, line);
  return true;
}

void RecordWait(const char *call, DWORD milliseconds, DWORD wakeMask, DWORD result) {
  waits.push_back(WaitRecord{call, milliseconds, wakeMask, result});
}

// One wait on a child that still runs: the script acts (posts a message,
// say) and the child comes one wait closer to its end.
void ChildRunsOn(ProcessObject *process) {
  --process->script.runningWaits;
  if (process->script.whileRunning) process->script.whileRunning();
}
}  // namespace

void OnCreateProcess(std::function<ProcessScript(const ProcessRecord &)> script) {
  processScript = std::move(script);
}
const std::vector<ProcessRecord> &Processes() { return processes; }
const std::vector<WaitRecord> &Waits() { return waits; }

void ResetProcesses() {
  processScript = nullptr;
  processes.clear();
  waits.clear();
}
}  // namespace host

using namespace host;

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD flags, LPVOID, LPCSTR directory,
                           LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
  ProcessRecord record{application ? application : "", commandLine ? commandLine : "",
                       directory ? directory : CurrentDirectory(), flags,
                       startup ? *startup : STARTUPINFOA{}};
  processes.push_back(record);
  RecordEvent("process " + record.commandLine);
  if (!StartAllowed(application, commandLine, flags, startup)) {
    RecordEvent("refused to start: " + record.commandLine);
    return FALSE;
  }
  ProcessScript script = processScript ? processScript(record) : ProcessScript{};
  if (!script.starts) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  auto *process = new ProcessObject();
  process->script = script;
  process->commandLine = record.commandLine;
  info->hProcess = Register(process);
  info->hThread = Register(new ThreadObject());
  info->dwProcessId = 1000 + DWORD(processes.size());
  info->dwThreadId = 2000 + DWORD(processes.size());
  return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE handle, LPDWORD code) {
  auto *process = static_cast<ProcessObject *>(Lookup(handle, HostObject::kProcess));
  if (!process) return FALSE;
  *code = process->script.runningWaits > 0 ? STILL_ACTIVE : process->script.exitCode;
  return TRUE;
}

// A wait on one child: it returns when the child has ended, or when a
// message the system sent waits for delivery (if the mask asks for sent
// messages); otherwise each wait while the child still "runs" reports
// input, after letting the script act.
DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL, DWORD milliseconds,
                                       DWORD wakeMask) {
  const char *call = "MsgWaitForMultipleObjects";
  bool scriptedFailure = CallFails(call);
  bool invalid =
      count > MAXIMUM_WAIT_OBJECTS - 1 || (count > 0 && !handles) || (wakeMask & ~kKnownWakeBits);
  if (!scriptedFailure && invalid) SetLastError(ERROR_INVALID_PARAMETER);
  auto *process = scriptedFailure || invalid || count != 1
                      ? nullptr
                      : static_cast<ProcessObject *>(Lookup(handles[0], HostObject::kProcess));
  DWORD result = WAIT_FAILED;
  if (!process) {
    // A failed call, or a wait the host does not script.
  } else if (process->script.runningWaits <= 0) {
    result = WAIT_OBJECT_0;
  } else if ((wakeMask & QS_SENDMESSAGE) && SentMessagesPending()) {
    result = WAIT_OBJECT_0 + count;
  } else {
    RecordWait(call, milliseconds, wakeMask, WAIT_OBJECT_0 + count);
    ChildRunsOn(process);
    return WAIT_OBJECT_0 + count;
  }
  RecordWait(call, milliseconds, wakeMask, result);
  return result;
}

// A wait on the child alone: no message wakes it. A finite time-out lets
// the script act once and reports the time-out while the child runs; an
// infinite one returns when the child has run its course.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const char *call = "WaitForSingleObject";
  auto *process = static_cast<ProcessObject *>(Lookup(handle, HostObject::kProcess));
  if (CallFails(call) || !process) {
    RecordWait(call, milliseconds, 0, WAIT_FAILED);
    return WAIT_FAILED;
  }
  if (process->script.runningWaits > 0 && milliseconds != INFINITE) {
    RecordWait(call, milliseconds, 0, WAIT_TIMEOUT);
    ChildRunsOn(process);
    return WAIT_TIMEOUT;
  }
  RecordWait(call, milliseconds, 0, WAIT_OBJECT_0);
  while (process->script.runningWaits > 0) ChildRunsOn(process);
  return WAIT_OBJECT_0;
}

HANDLE WINAPI GetCurrentProcess(void) { return &pseudoProcess; }
HANDLE WINAPI GetCurrentThread(void) { return &pseudoThread; }
