// Directories, the module file, the platform version, memory and the end of
// the process.
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <set>
#include <string>

#include "host_state.h"

namespace host {
namespace {
std::string modulePath;
std::string commandLine;
bool commandLineSet;
// The command line as GetCommandLineA hands it out: in pages of its own,
// readable only, so that a program that writes to it faults.
char *commandLinePages;
size_t commandLinePagesSize;
std::string tempPath;
std::string systemDirectory;
std::string windowsDirectory;
std::string currentDirectory;
OSVERSIONINFOA version;
bool versionSucceeds;
DWORD lastError;
long long allocationLimit = -1;
std::set<void *> &Blocks() {
  static std::set<void *> blocks;
  return blocks;
}
int heapObject;
}  // namespace

void SetModuleFileName(const std::string &p) { modulePath = p; }
void SetCommandLine(const std::string &line) {
  commandLine = line;
  commandLineSet = true;
}
void SetTempPath(const std::string &p) { tempPath = p; }
void SetSystemDirectory(const std::string &p) { systemDirectory = p; }
void SetWindowsDirectory(const std::string &p) { windowsDirectory = p; }
void SetCurrentDirectory(const std::string &p) { currentDirectory = p; }
std::string CurrentDirectory() { return currentDirectory; }

void SetVersion(DWORD platformId, DWORD major, DWORD minor, bool succeeds) {
  version = OSVERSIONINFOA{};
  version.dwOSVersionInfoSize = sizeof version;
  version.dwPlatformId = platformId;
  version.dwMajorVersion = major;
  version.dwMinorVersion = minor;
  version.dwBuildNumber = platformId == VER_PLATFORM_WIN32_NT ? 2600 : 2222;
  versionSucceeds = succeeds;
}

bool NtFamily() { return version.dwPlatformId == VER_PLATFORM_WIN32_NT; }
OSVERSIONINFOA ReportedVersion() { return version; }

void FailAllocationsAbove(long long bytes) { allocationLimit = bytes; }
int LiveBlocks() { return int(Blocks().size()); }

void ResetSystem() {
  for (void *block : Blocks()) free(block);
  Blocks().clear();
  allocationLimit = -1;
  char cwd[4096];
  currentDirectory = WindowsPath(getcwd(cwd, sizeof cwd) ? cwd : "/");
  modulePath = "Z:\\nonexistent\\setup.exe";
  commandLine.clear();
  commandLineSet = false;
  if (commandLinePages) munmap(commandLinePages, commandLinePagesSize);
  commandLinePages = nullptr;
  tempPath = "Z:\\tmp\\";
  systemDirectory = "C:\\windows\\system32";
  windowsDirectory = "C:\\windows";
  SetVersion(VER_PLATFORM_WIN32_NT, 5, 1);
  lastError = 0;
}
}  // namespace host

using namespace host;

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) { return CopyOut(tempPath, buffer, size); }
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  return CopyOut(systemDirectory, buffer, size);
}
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  return CopyOut(windowsDirectory, buffer, size);
}
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  if (CallFails("GetCurrentDirectoryA")) return 0;
  return CopyOut(currentDirectory, buffer, size);
}

// The system adds a final backslash to the path it keeps, which must then
// fit MAX_PATH: 258 characters without one, 259 with it.
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path) {
  if (CallFails("SetCurrentDirectoryA")) return FALSE;
  size_t length = path ? strlen(path) : 0;
  bool endsInBackslash = length > 0 && path[length - 1] == '\\';
  if (length > (endsInBackslash ? MAX_PATH - 1 : MAX_PATH - 2)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
  }
  std::string posix = PosixPath(path ? path : "");
  if (posix.empty() || (GetFileAttributesA(path) & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  currentDirectory = WindowsPath(posix);
  return TRUE;
}

// A path that does not fit is cut to the buffer's size and, as on Windows
// XP, left without its terminator; the buffer size is returned.
DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
  if (size == 0) return 0;
  DWORD n = DWORD(modulePath.size());
  if (n >= size) {
    modulePath.copy(buffer, size);
    return size;
  }
  modulePath.copy(buffer, n);
  buffer[n] = 0;
  return n;
}

// The system's own string, which the program must neither change nor free:
// it is handed out read-only, at the same address on every call.
LPSTR WINAPI GetCommandLineA(void) {
  std::string line = commandLineSet ? commandLine : "\"" + modulePath + "\"";
  if (commandLinePages && line == commandLinePages) return commandLinePages;
  if (commandLinePages) munmap(commandLinePages, commandLinePagesSize);
  size_t page = size_t(sysconf(_SC_PAGESIZE));
  commandLinePagesSize = (line.size() + 1 + page - 1) / page * page;
  void *pages = mmap(nullptr, commandLinePagesSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) abort();
  commandLinePages = static_cast<char *>(pages);
  memcpy(commandLinePages, line.c_str(), line.size() + 1);
  mprotect(commandLinePages, commandLinePagesSize, PROT_READ);
  return commandLinePages;
}

DWORD WINAPI GetLastError(void) { return lastError; }
void WINAPI SetLastError(DWORD code) { lastError = code; }

HANDLE WINAPI GetProcessHeap(void) { return &heapObject; }

LPVOID WINAPI HeapAlloc(HANDLE, DWORD flags, size_t bytes) {
  if (flags & ~DWORD(HEAP_NO_SERIALIZE | HEAP_GENERATE_EXCEPTIONS | HEAP_ZERO_MEMORY)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (allocationLimit >= 0 && (long long)bytes > allocationLimit) return nullptr;
  void *block = (flags & HEAP_ZERO_MEMORY) ? calloc(1, bytes) : malloc(bytes);
  if (block) Blocks().insert(block);
  return block;
}

BOOL WINAPI HeapFree(HANDLE, DWORD flags, LPVOID block) {
  if ((flags & ~DWORD(HEAP_NO_SERIALIZE)) || !Blocks().erase(block)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  free(block);
  return TRUE;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  if (!versionSucceeds || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *info = version;
  return TRUE;
}

void WINAPI ExitProcess(UINT code) { throw ProcessExit{code}; }
