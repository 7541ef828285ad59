// Handle registry and scripted call failures.
#include <map>
#include <set>

#include "host_state.h"

namespace host {
namespace {
std::set<HostObject *> &Live() {
  static std::set<HostObject *> live;
  return live;
}
std::map<std::string, DWORD> &Failing() {
  static std::map<std::string, DWORD> failing;
  return failing;
}
}  // namespace

HANDLE Register(HostObject *object) {
  Live().insert(object);
  return object;
}

HostObject *Lookup(HANDLE handle, HostObject::Kind kind) {
  auto *object = static_cast<HostObject *>(handle);
  if (!Live().count(object) || object->kind != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return object;
}

bool Unregister(HANDLE handle) {
  auto *object = static_cast<HostObject *>(handle);
  if (!Live().erase(object)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  delete object;
  return true;
}

void CloseAllHandles() {
  for (HostObject *object : Live()) delete object;
  Live().clear();
}

int OpenHandles() { return int(Live().size()); }

void FailCall(const std::string &name, DWORD errorCode) { Failing()[name] = errorCode; }

bool CallFails(const char *name) {
  auto it = Failing().find(name);
  if (it == Failing().end()) return false;
  SetLastError(it->second);
  return true;
}

DWORD CopyOut(const std::string &text, char *buffer, DWORD size) {
  if (text.size() + 1 > size) return DWORD(text.size() + 1);
  text.copy(buffer, text.size());
  buffer[text.size()] = 0;
  return DWORD(text.size());
}

void Reset() {
  CloseAllHandles();
  Failing().clear();
  ResetFiles();
  ResetSystem();
  ResetWindows();
  ResetProcesses();
  ResetSecurity();
  ResetModules();
}

int RunAsProcess(const std::function<int()> &program) {
  try {
    return program();
  } catch (const ProcessExit &exit) {
    return int(exit.code);
  }
}

}  // namespace host
