#include "contracts.h"

#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "host_state.h"

namespace host {
namespace contract {
namespace {
// Longest directory path CreateDirectoryA takes: MAX_PATH less room for an
// 8.3 name, the NUL included.
const size_t kFolderPathLimit = MAX_PATH - 12;

const DWORD kKnownAccess = GENERIC_READ | GENERIC_WRITE;
// FILE_SHARE_DELETE (4) came with NT; Windows 95 refuses it.
const DWORD kKnownSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kTruncateExisting = 5;
// Attributes both families give a new file: read-only, hidden, system,
// archive, normal, temporary.
const DWORD kKnownAttributes = 0x1 | 0x2 | 0x4 | 0x20 | FILE_ATTRIBUTE_NORMAL | 0x100;
// Write-through, no buffering, random access, sequential scan, delete on
// close. Overlapped files are NT only (Windows 95 does no asynchronous file
// I/O); backup and POSIX semantics are NT only too.
const DWORD kKnownFlags = 0x80000000u | 0x20000000u | 0x10000000u | 0x08000000u | 0x04000000u;

bool Refuse(DWORD error) {
  SetLastError(error);
  return false;
}

size_t Length(LPCSTR text) { return text ? strlen(text) : 0; }

// Any handle of this process on the same file (the host's handles are
// POSIX descriptors).
bool FileIsOpen(const std::string &posix) {
  struct stat target;
  if (posix.empty() || stat(posix.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return false;
  DIR *descriptors = opendir("/proc/self/fd");
  if (!descriptors) return false;
  bool open = false;
  while (dirent *entry = readdir(descriptors)) {
    struct stat st;
    char *end = nullptr;
    long fd = strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != 0 || fd == dirfd(descriptors)) continue;
    if (fstat(int(fd), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino) {
      open = true;
      break;
    }
  }
  closedir(descriptors);
  return open;
}
}  // namespace

bool PathAllowed(LPCSTR name) {
  if (Length(name) >= MAX_PATH) return Refuse(ERROR_FILENAME_EXCED_RANGE);
  return true;
}

bool CreateFileAllowed(LPCSTR name, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  if (!PathAllowed(name)) return false;
  DWORD attributes = flags & 0xFFFF;
  bool knownDisposition = disposition >= CREATE_NEW && disposition <= kTruncateExisting;
  if ((access & ~kKnownAccess) || (share & ~kKnownSharing) || !knownDisposition ||
      (attributes & ~kKnownAttributes) || (flags & 0xFFFF0000u & ~kKnownFlags)) {
    return Refuse(ERROR_INVALID_PARAMETER);
  }
  // FILE_ATTRIBUTE_NORMAL is valid only alone; truncating needs write access.
  if (((attributes & FILE_ATTRIBUTE_NORMAL) && attributes != FILE_ATTRIBUTE_NORMAL) ||
      (disposition == kTruncateExisting && !(access & GENERIC_WRITE))) {
    return Refuse(ERROR_INVALID_PARAMETER);
  }
  return true;
}

bool TransferAllowed(LPDWORD count, LPOVERLAPPED overlapped) {
  if (overlapped || !count) return Refuse(ERROR_INVALID_PARAMETER);
  return true;
}

bool SeekAllowed(DWORD method) {
  if (method > FILE_END) return Refuse(ERROR_INVALID_PARAMETER);
  return true;
}

// Windows 95 deletes an open file; the NT family refuses, and the stricter
// rule holds.
bool DeleteAllowed(LPCSTR name) {
  if (!PathAllowed(name)) return false;
  if (name && FileIsOpen(PosixPath(name))) return Refuse(ERROR_SHARING_VIOLATION);
  return true;
}

bool FolderCreationAllowed(LPCSTR name) {
  if (Length(name) >= kFolderPathLimit) return Refuse(ERROR_FILENAME_EXCED_RANGE);
  return true;
}

bool SearchAllowed(LPCSTR pattern) {
  if (!PathAllowed(pattern)) return false;
  size_t n = Length(pattern);
  if (n > 0 && pattern[n - 1] == '\\') return Refuse(ERROR_FILE_NOT_FOUND);
  return true;
}

}  // namespace contract
}  // namespace host
