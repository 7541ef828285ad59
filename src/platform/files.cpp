// Files and folders over POSIX, with Windows paths.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "contracts.h"
#include "host_state.h"

namespace host {
namespace {
const DWORD kErrorBadNetPath = 53;  // UNC paths lead off this machine
std::map<char, std::string> drives;
long long writeBudget = -1;

std::map<std::string, long long> readCuts;  // POSIX path -> bytes readable

struct FileObject : HostObject {
  int fd;
  long long readable = -1;  // bytes left to read before reads deliver nothing; -1: no limit
  explicit FileObject(int f) : HostObject(kFile), fd(f) {}
  ~FileObject() override { close(fd); }
};

struct FindObject : HostObject {
  FindObject() : HostObject(kFind) {}
};

DWORD ErrorFromErrno(int e) {
  switch (e) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    default:
      return ERROR_ACCESS_DENIED;
  }
}

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

// Characters a Windows file name cannot hold.
bool ValidComponent(const std::string &name) {
  for (unsigned char c : name) {
    if (c < 32 || std::string("<>:\"|?*").find(char(c)) != std::string::npos) return false;
  }
  return true;
}

std::vector<std::string> Split(const std::string &path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

// Resolves a Windows path to an absolute one with a drive letter and
// backslashes, or "" when it is a UNC path or has no drive to stand on.
std::string Absolute(const std::string &path) {
  if (path.size() >= 2 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/'))
    return "";
  std::string current = CurrentDirectory();
  std::string full;
  if (path.size() >= 2 && std::isalpha((unsigned char)path[0]) && path[1] == ':') {
    std::string rest = path.substr(2);
    if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) {
      // A drive-relative path: only the current drive has a known folder.
      if (std::toupper((unsigned char)path[0]) != std::toupper((unsigned char)current[0])) {
        rest = "\\" + rest;
      } else {
        rest = current.substr(2) + "\\" + rest;
      }
    }
    full = std::string(1, char(std::toupper((unsigned char)path[0]))) + ":" + rest;
  } else if (!path.empty() && (path[0] == '\\' || path[0] == '/')) {
    full = current.substr(0, 2) + path;
  } else {
    full = current + "\\" + path;
  }
  // Normalise separators, "." and ".." as Windows does.
  std::vector<std::string> parts = Split(full.substr(2));
  std::vector<std::string> out;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string &p = parts[i];
    if (p == "." || (p.empty() && i + 1 < parts.size())) continue;
    if (p == "..") {
      if (!out.empty()) out.pop_back();
      continue;
    }
    out.push_back(p);
  }
  std::string result = full.substr(0, 2);
  for (size_t i = 0; i < out.size(); ++i) {
    if (i + 1 == out.size() && out[i].empty()) {
      result += "\\";
      break;
    }
    result += "\\" + out[i];
  }
  if (result.size() == 2) result += "\\";
  return result;
}

struct Resolved {
  std::string posix;
  std::string lastName;  // the final component as the caller wrote it
  bool ok;
};

Resolved Resolve(const std::string &path, bool checkNames) {
  if (path.empty()) return {"", "", Fail(ERROR_PATH_NOT_FOUND)};
  std::string absolute = Absolute(path);
  if (absolute.empty()) return {"", "", Fail(kErrorBadNetPath)};
  auto drive = drives.find(absolute[0]);
  if (drive == drives.end()) return {"", "", Fail(ERROR_PATH_NOT_FOUND)};
  std::vector<std::string> parts = Split(absolute.substr(3));
  if (checkNames) {
    for (const std::string &p : parts) {
      if (!ValidComponent(p)) return {"", "", Fail(ERROR_INVALID_NAME)};
    }
  }
  std::string posix = drive->second;
  for (const std::string &p : parts) {
    if (p.empty()) continue;
    if (posix.empty() || posix.back() != '/') posix += '/';
    posix += p;
  }
  if (posix.empty()) posix = "/";
  return {posix, parts.back(), true};
}

bool IsFolder(const std::string &posix) {
  struct stat st;
  return stat(posix.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WildcardMatch(const char *pattern, const char *name) {
  if (*pattern == 0) return *name == 0;
  if (*pattern == '*') {
    for (const char *n = name;; ++n) {
      if (WildcardMatch(pattern + 1, n)) return true;
      if (*n == 0) return false;
    }
  }
  if (*name == 0) return false;
  if (*pattern != '?' && std::tolower((unsigned char)*pattern) != std::tolower((unsigned char)*name))
    return false;
  return WildcardMatch(pattern + 1, name + 1);
}

// "*.*" matches every name, with or without a dot, as on Windows.
bool NameMatches(const std::string &pattern, const std::string &name) {
  if (pattern == "*.*" || pattern == "*") return true;
  return WildcardMatch(pattern.c_str(), name.c_str());
}

FILETIME FileTimeFromUnix(time_t seconds) {
  unsigned long long t = (unsigned long long)(seconds + 11644473600LL) * 10000000ULL;
  return {DWORD(t), DWORD(t >> 32)};
}
}  // namespace

void MapDrive(char letter, const std::string &posixFolder) {
  std::string folder = posixFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  drives[char(std::toupper((unsigned char)letter))] = folder == "/" ? "" : folder;
}

std::string PosixPath(const std::string &windowsPath) {
  Resolved r = Resolve(windowsPath, false);
  return r.ok ? r.posix : "";
}

std::string WindowsPath(const std::string &posixPath) {
  std::string best;
  char bestDrive = 'Z';
  for (auto &[letter, root] : drives) {
    if (letter == 'Z' || root.empty()) continue;
    if (posixPath.compare(0, root.size(), root) == 0 &&
        (posixPath.size() == root.size() || posixPath[root.size()] == '/') &&
        root.size() > best.size()) {
      best = root;
      bestDrive = letter;
    }
  }
  std::string rest = posixPath.substr(best.size());
  for (char &c : rest) {
    if (c == '/') c = '\\';
  }
  if (rest.empty() || rest[0] != '\\') rest = "\\" + rest;
  return std::string(1, bestDrive) + ":" + rest;
}

void LimitWrites(long long bytes) { writeBudget = bytes; }

void CutReads(const std::string &windowsPath, long long bytes) {
  readCuts[PosixPath(windowsPath)] = bytes;
}

void ResetFiles() {
  drives.clear();
  drives['Z'] = "";
  writeBudget = -1;
  readCuts.clear();
}

}  // namespace host

using namespace host;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD attributes, HANDLE) {
  if (!contract::CreateFileAllowed(name, access, share, disposition, attributes))
    return INVALID_HANDLE_VALUE;
  Resolved r = Resolve(name ? name : "", true);
  if (!r.ok) return INVALID_HANDLE_VALUE;
  if (r.lastName.empty() || IsFolder(r.posix)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int flags = (access & GENERIC_READ) && (access & GENERIC_WRITE) ? O_RDWR
              : (access & GENERIC_WRITE)                          ? O_WRONLY
                                                                  : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case OPEN_EXISTING:
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  int fd = open(r.posix.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetLastError(errno == ENOENT && disposition != OPEN_EXISTING ? ERROR_PATH_NOT_FOUND
                                                                 : ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(0);
  auto *object = new FileObject(fd);
  auto cut = readCuts.find(r.posix);
  if (cut != readCuts.end()) object->readable = cut->second;
  return Register(object);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD got,
                     LPOVERLAPPED overlapped) {
  if (!contract::TransferAllowed(got, overlapped)) return FALSE;
  if (got) *got = 0;
  auto *f = static_cast<FileObject *>(Lookup(file, HostObject::kFile));
  if (!f) return FALSE;
  if (f->readable >= 0 && (long long)count > f->readable) count = DWORD(f->readable);
  DWORD total = 0;
  while (total < count) {
    ssize_t n = read(f->fd, static_cast<char *>(buffer) + total, count - total);
    if (n < 0) {
      if (got) *got = total;
      return Fail(ErrorFromErrno(errno));
    }
    if (n == 0) break;
    total += DWORD(n);
  }
  if (f->readable >= 0) f->readable -= total;
  if (got) *got = total;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                      LPOVERLAPPED overlapped) {
  if (!contract::TransferAllowed(written, overlapped)) return FALSE;
  if (written) *written = 0;
  auto *f = static_cast<FileObject *>(Lookup(file, HostObject::kFile));
  if (!f) return FALSE;
  DWORD allowed = count;
  if (writeBudget >= 0 && (long long)count > writeBudget) allowed = DWORD(writeBudget);
  DWORD total = 0;
  while (total < allowed) {
    ssize_t n = write(f->fd, static_cast<const char *>(buffer) + total, allowed - total);
    if (n <= 0) break;
    total += DWORD(n);
  }
  if (writeBudget >= 0) writeBudget -= total;
  if (written) *written = total;
  if (total < count) return Fail(ERROR_DISK_FULL);
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) {
  if (!contract::SeekAllowed(method)) return INVALID_SET_FILE_POINTER;
  auto *f = static_cast<FileObject *>(Lookup(file, HostObject::kFile));
  if (!f) return INVALID_SET_FILE_POINTER;
  long long offset = distance;
  if (high) offset = ((long long)*high << 32) | DWORD(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  off_t now = lseek(f->fd, 0, SEEK_CUR);
  off_t end = lseek(f->fd, 0, SEEK_END);
  long long base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? now : end;
  if (base + offset < 0) {
    lseek(f->fd, now, SEEK_SET);
    SetLastError(131);  // ERROR_NEGATIVE_SEEK
    return INVALID_SET_FILE_POINTER;
  }
  off_t at = lseek(f->fd, off_t(base + offset), SEEK_SET);
  if (high) *high = LONG(at >> 32);
  SetLastError(0);
  return DWORD(at);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high) {
  auto *f = static_cast<FileObject *>(Lookup(file, HostObject::kFile));
  if (!f) return INVALID_SET_FILE_POINTER;
  struct stat st;
  fstat(f->fd, &st);
  if (high) *high = DWORD((unsigned long long)st.st_size >> 32);
  return DWORD(st.st_size);
}

BOOL WINAPI CloseHandle(HANDLE handle) { return Unregister(handle); }

BOOL WINAPI DeleteFileA(LPCSTR name) {
  if (!contract::DeleteAllowed(name)) return FALSE;
  Resolved r = Resolve(name ? name : "", false);
  if (!r.ok) return FALSE;
  if (IsFolder(r.posix)) return Fail(ERROR_ACCESS_DENIED);
  if (unlink(r.posix.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES) {
  if (!contract::FolderCreationAllowed(name)) return FALSE;
  if (CallFails("CreateDirectoryA")) return FALSE;
  Resolved r = Resolve(name ? name : "", true);
  if (!r.ok) return FALSE;
  if (mkdir(r.posix.c_str(), 0755) != 0) {
    return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
  }
  return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR name) {
  if (!contract::PathAllowed(name)) return FALSE;
  Resolved r = Resolve(name ? name : "", false);
  if (!r.ok) return FALSE;
  if (rmdir(r.posix.c_str()) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
  if (!contract::SearchAllowed(pattern)) return INVALID_HANDLE_VALUE;
  std::string text = pattern ? pattern : "";
  size_t cut = text.find_last_of("\\/");
  std::string folder = cut == std::string::npos ? "." : text.substr(0, cut + 1);
  std::string namePattern = cut == std::string::npos ? text : text.substr(cut + 1);
  if (namePattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  Resolved r = Resolve(folder, false);
  DIR *dir = r.ok ? opendir(r.posix.c_str()) : nullptr;
  if (!dir) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  bool atRoot = Absolute(folder).size() <= 3;
  std::string match;
  while (dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (atRoot && (name == "." || name == "..")) continue;
    if (NameMatches(namePattern, name)) {
      match = name;
      break;
    }
  }
  closedir(dir);
  if (match.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string full = r.posix + (r.posix.back() == '/' ? "" : "/") + match;
  struct stat st;
  stat(full.c_str(), &st);
  *found = WIN32_FIND_DATAA{};
  found->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  found->ftLastWriteTime = FileTimeFromUnix(st.st_mtime);
  found->nFileSizeLow = DWORD(st.st_size);
  found->nFileSizeHigh = DWORD((unsigned long long)st.st_size >> 32);
  match.copy(found->cFileName, MAX_PATH - 1);
  return Register(new FindObject());
}

BOOL WINAPI FindClose(HANDLE find) {
  if (!Lookup(find, HostObject::kFind)) return FALSE;
  return Unregister(find);
}

DWORD WINAPI GetFileAttributesA(LPCSTR name) {
  if (!contract::PathAllowed(name)) return INVALID_FILE_ATTRIBUTES;
  Resolved r = Resolve(name ? name : "", false);
  struct stat st;
  if (!r.ok || stat(r.posix.c_str(), &st) != 0) {
    if (r.ok) SetLastError(ErrorFromErrno(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME *, const FILETIME *, const FILETIME *lastWrite) {
  auto *f = static_cast<FileObject *>(Lookup(file, HostObject::kFile));
  if (!f) return FALSE;
  if (!lastWrite) return TRUE;
  unsigned long long t = ((unsigned long long)lastWrite->dwHighDateTime << 32) | lastWrite->dwLowDateTime;
  long long unixHundreds = (long long)t - 116444736000000000LL;
  struct timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[0].tv_sec = 0;
  times[1].tv_sec = unixHundreds / 10000000;
  times[1].tv_nsec = (unixHundreds % 10000000) * 100;
  if (futimens(f->fd, times) != 0) return Fail(ErrorFromErrno(errno));
  return TRUE;
}
