// Child processes, scripted: what starts, how long it runs, its exit code.
#include <string>
#include <vector>

#include "host_state.h"

namespace host {
namespace {
struct ProcessObject : HostObject {
  ProcessScript script;
  ProcessObject() : HostObject(kProcess) {}
};
struct ThreadObject : HostObject {
  ThreadObject() : HostObject(kThread) {}
};

std::function<ProcessScript(const ProcessRecord &)> processScript;
std::vector<ProcessRecord> processes;
int pseudoProcess, pseudoThread;
}  // namespace

void OnCreateProcess(std::function<ProcessScript(const ProcessRecord &)> script) {
  processScript = std::move(script);
}
const std::vector<ProcessRecord> &Processes() { return processes; }

void ResetProcesses() {
  processScript = nullptr;
  processes.clear();
}
}  // namespace host

using namespace host;

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD flags, LPVOID, LPCSTR directory,
                           LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
  ProcessRecord record{application ? application : "", commandLine ? commandLine : "",
                       directory ? directory : CurrentDirectory(), flags, *startup};
  processes.push_back(record);
  RecordEvent("process " + record.commandLine);
  ProcessScript script = processScript ? processScript(record) : ProcessScript{};
  if (!script.starts) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  auto *process = new ProcessObject();
  process->script = script;
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

// A wait on one child: each wait while it still "runs" reports input instead,
// after letting the script act (post a message, say).
DWORD WINAPI MsgWaitForMultipleObjects(DWORD count, const HANDLE *handles, BOOL, DWORD, DWORD) {
  if (count != 1) return WAIT_FAILED;
  auto *process = static_cast<ProcessObject *>(Lookup(handles[0], HostObject::kProcess));
  if (!process) return WAIT_FAILED;
  if (process->script.runningWaits <= 0) return WAIT_OBJECT_0;
  --process->script.runningWaits;
  if (process->script.whileRunning) process->script.whileRunning();
  return WAIT_OBJECT_0 + 1;
}

HANDLE WINAPI GetCurrentProcess(void) { return &pseudoProcess; }
HANDLE WINAPI GetCurrentThread(void) { return &pseudoThread; }
