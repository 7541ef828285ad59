// Modules: the program's own, the system DLLs it imports from, the DLLs it
// loads by path, and the functions GetProcAddress finds in them -- which,
// for the functions later Windows versions added, follows the version
// SetVersion reports. The DLL-search calls are recorded in the event log,
// so that a test can see them come before the first window.
#include <string.h>
#include <strings.h>

#include <map>
#include <string>
#include <vector>

#include "host_state.h"

namespace host {
namespace {
// A module handle is the address of one of these.
struct Module {
  std::string name;  // upper case, with its extension
};
Module programModule{"SETUP.EXE"};
Module systemModules[] = {{"KERNEL32.DLL"}, {"USER32.DLL"}, {"ADVAPI32.DLL"}};
std::map<std::string, Module> loadedModules;  // by the path given to LoadLibraryA
std::vector<std::string> loadedLibraries;

// The functions GetProcAddress knows, with the oldest version of each
// family that exports them (0, 0 on the Windows 95 family: none).
struct Export {
  const char *module;
  const char *name;
  FARPROC address;
  DWORD ntMajor, ntMinor;
};
#define EXPORTED(module, function, major, minor)                                                 \
  {                                                                                              \
    module, #function, reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function)), major, \
        minor                                                                                    \
  }
const Export kExports[] = {
    // Windows 8; Windows 7 and Vista only with KB2533623, not modelled here.
    EXPORTED("KERNEL32.DLL", SetDefaultDllDirectories, 6, 2),
    // Windows XP SP1 and Server 2003; the host takes XP as a whole.
    EXPORTED("KERNEL32.DLL", SetDllDirectoryA, 5, 1),
    EXPORTED("ADVAPI32.DLL", InitializeSecurityDescriptor, 3, 1),
    EXPORTED("ADVAPI32.DLL", SetSecurityDescriptorDacl, 3, 1),
    EXPORTED("ADVAPI32.DLL", InitializeAcl, 3, 1),
    EXPORTED("ADVAPI32.DLL", AddAccessAllowedAce, 3, 1),
    EXPORTED("ADVAPI32.DLL", GetAce, 3, 1),
    EXPORTED("ADVAPI32.DLL", GetLengthSid, 3, 1),
    // Windows 2000.
    EXPORTED("ADVAPI32.DLL", SetSecurityDescriptorControl, 5, 0),
};
#undef EXPORTED

std::string Upper(std::string text) {
  for (char &c : text) c = char(toupper((unsigned char)c));
  return text;
}

// The name as GetModuleHandleA compares it: without its folder, in upper
// case, ".DLL" added when it has no extension.
std::string ModuleName(const std::string &given) {
  size_t slash = given.find_last_of("\\/");
  std::string name = Upper(slash == std::string::npos ? given : given.substr(slash + 1));
  if (name.find('.') == std::string::npos) name += ".DLL";
  return name;
}

bool Exported(const Export &e) {
  if (!NtFamily()) return false;
  OSVERSIONINFOA v = ReportedVersion();
  return v.dwMajorVersion > e.ntMajor ||
         (v.dwMajorVersion == e.ntMajor && v.dwMinorVersion >= e.ntMinor);
}

const Module *ModuleOf(HMODULE handle) {
  auto *module = reinterpret_cast<const Module *>(handle);
  if (module == &programModule) return module;
  for (const Module &m : systemModules) {
    if (module == &m) return module;
  }
  for (auto &[path, m] : loadedModules) {
    if (module == &m) return module;
  }
  return nullptr;
}

bool IsFullPath(const char *path) {
  return isalpha((unsigned char)path[0]) && path[1] == ':' && path[2] == '\\';
}

std::string Hex(DWORD value) {
  char text[16];
  snprintf(text, sizeof text, "0x%X", value);
  return text;
}
}  // namespace

const std::vector<std::string> &LoadedLibraries() { return loadedLibraries; }

void ResetModules() {
  loadedModules.clear();
  loadedLibraries.clear();
}

}  // namespace host

using namespace host;

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (!name) return reinterpret_cast<HMODULE>(&programModule);
  std::string wanted = ModuleName(name);
  for (Module &m : systemModules) {
    if (m.name == wanted) return reinterpret_cast<HMODULE>(&m);
  }
  for (auto &[path, m] : loadedModules) {
    if (m.name == wanted) return reinterpret_cast<HMODULE>(&m);
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

// Names are matched exactly: GetProcAddress is case-sensitive.
FARPROC WINAPI GetProcAddress(HMODULE handle, LPCSTR name) {
  const Module *module = ModuleOf(handle);
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  for (const Export &e : kExports) {
    if (module->name == e.module && name && strcmp(e.name, name) == 0 && Exported(e)) {
      return e.address;
    }
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

// The host has no search order to model: a DLL is loaded by its full path
// or not at all, and one that is not there is refused.
HMODULE WINAPI LoadLibraryA(LPCSTR path) {
  DWORD attributes =
      path && strlen(path) < MAX_PATH ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
  if (!path || !IsFullPath(path) || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    RecordEvent(std::string("refused to load: ") + (path ? path : "(null)"));
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  RecordEvent(std::string("load ") + path);
  loadedLibraries.push_back(path);
  Module &module = loadedModules[Upper(path)];
  module.name = ModuleName(path);
  return reinterpret_cast<HMODULE>(&module);
}

BOOL WINAPI SetDefaultDllDirectories(DWORD flags) {
  const DWORD known = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                      LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
  if (flags == 0 || (flags & ~known)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  RecordEvent("dll search SetDefaultDllDirectories " + Hex(flags));
  return TRUE;
}

BOOL WINAPI SetDllDirectoryA(LPCSTR path) {
  if (path && strlen(path) >= MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  RecordEvent(std::string("dll search SetDllDirectoryA \"") + (path ? path : "(null)") + "\"");
  return TRUE;
}
