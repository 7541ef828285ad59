// Files and folders on the machine's own file system. Every path is opened
// relative to its drive's folder with symbolic links refused below it:
// openat2 with RESOLVE_NO_SYMLINKS where the kernel has it (one call), else
// one component at a time with O_NOFOLLOW.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "file_store.h"
#include "host_state.h"

namespace host {

std::string StorePath::Joined() const {
  std::string path = root;
  for (const std::string &part : parts) path += "/" + part;
  return path.empty() ? "/" : path;
}

namespace {

DWORD ErrorFromErrno(int e) {
  switch (e) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    default:  // EACCES, EPERM, EISDIR, ELOOP (a link we will not follow), ...
      return ERROR_ACCESS_DENIED;
  }
}

// An open descriptor that closes itself, unless it is one the caches below
// keep open.
struct Fd {
  int fd = -1;
  bool owned = true;
  explicit Fd(int f = -1, bool own = true) : fd(f), owned(own) {}
  ~Fd() {
    if (fd >= 0 && owned) close(fd);
  }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
};

bool haveOpenat2 = true;

// Opens the folder `parts[0, count)` below `rootFd`, following no link.
int OpenFolderBelow(int rootFd, const std::vector<std::string> &parts, size_t count, int flags) {
  if (count == 0) return openat(rootFd, ".", flags | O_DIRECTORY | O_CLOEXEC);
  std::string relative;
  for (size_t i = 0; i < count; ++i) relative += (i ? "/" : "") + parts[i];
  if (haveOpenat2) {
    open_how how{};
    how.flags = (unsigned long long)(flags | O_DIRECTORY | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_BENEATH;
    long fd = syscall(SYS_openat2, rootFd, relative.c_str(), &how, sizeof how);
    if (fd >= 0 || errno != ENOSYS) return int(fd);
    haveOpenat2 = false;
  }
  int at = dup(rootFd);
  for (size_t i = 0; i < count && at >= 0; ++i) {
    bool last = i + 1 == count;
    int next = openat(at, parts[i].c_str(),
                      (last ? flags : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int saved = errno;
    close(at);
    errno = saved;
    at = next;
  }
  return at;
}

// Descriptors kept open between calls, so that a run over many files does
// not look up the same folders again for each: every drive's folder, and
// the last few folders worked in (calls in a row mostly work in one folder
// and the one above it). Removing a folder drops them, as does a fresh
// machine.
std::map<std::string, int> rootFds;
const size_t kRecentFolders = 4;
struct RecentFolder {
  std::string key;
  int fd;
};
std::vector<RecentFolder> recentFolders;  // the most recent last

void DropRecentFolders() {
  for (const RecentFolder &folder : recentFolders) close(folder.fd);
  recentFolders.clear();
}

// The drive's folder itself is trusted as the host program named it.
int RootFd(const StorePath &path) {
  auto cached = rootFds.find(path.root);
  if (cached != rootFds.end()) return cached->second;
  int fd = open(path.root.empty() ? "/" : path.root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) rootFds[path.root] = fd;
  return fd;
}

// The folder that holds the path's last component; the descriptor stays the
// cache's.
int ParentFd(const StorePath &path) {
  std::string key = path.root;
  for (size_t i = 0; i + 1 < path.parts.size(); ++i) {
    key += '/';
    key += path.parts[i];
  }
  for (size_t i = recentFolders.size(); i-- > 0;) {
    if (recentFolders[i].key != key) continue;
    RecentFolder found = recentFolders[i];
    recentFolders.erase(recentFolders.begin() + long(i));
    recentFolders.push_back(found);
    return found.fd;
  }
  int root = RootFd(path);
  if (root < 0) return -1;
  int fd = OpenFolderBelow(root, path.parts, path.parts.size() - 1, O_PATH);
  if (fd < 0) return -1;
  if (recentFolders.size() == kRecentFolders) {
    close(recentFolders.front().fd);
    recentFolders.erase(recentFolders.begin());
  }
  recentFolders.push_back({key, fd});
  return fd;
}

NodeInfo InfoOf(const struct stat &st) {
  NodeInfo info;
  info.kind = S_ISREG(st.st_mode)   ? NodeKind::kFile
              : S_ISDIR(st.st_mode) ? NodeKind::kFolder
                                    : NodeKind::kOther;
  info.link = S_ISLNK(st.st_mode);
  info.size = (unsigned long long)st.st_size;
  info.modified = st.st_mtime;
  info.device = st.st_dev;
  info.inode = st.st_ino;
  return info;
}

// Opens `name` in the folder as the disposition asks, truncating nothing;
// `created` tells that the open made the file. Not blocking: a pipe
// without a writer would hang the open for ever (O_NONBLOCK means nothing
// to a regular file, so it may stay). Every disposition that may create
// tries to make the file anew first: a file made so needs no look before
// and nothing emptied after, and whether it was there is what CreateFileA
// reports (ERROR_ALREADY_EXISTS) for CREATE_ALWAYS and OPEN_ALWAYS.
int OpenNode(int folder, const char *name, const OpenRequest &request, bool &created) {
  int flags = request.read && request.write ? O_RDWR : request.write ? O_WRONLY : O_RDONLY;
  flags |= O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  DWORD disposition = request.disposition;
  if (disposition != OPEN_EXISTING) {
    int fd = openat(folder, name, flags | O_CREAT | O_EXCL, 0644);
    created = fd >= 0;
    if (fd >= 0 || disposition == CREATE_NEW || errno != EEXIST) return fd;
  }
  return openat(folder, name, flags);
}

class PosixFiles : public FileStore {
 public:
  NodeInfo Stat(const StorePath &path) override {
    NodeInfo info;
    struct stat st;
    if (path.parts.empty()) {
      int root = RootFd(path);
      if (root < 0 || fstat(root, &st) != 0) return info;
    } else {
      Fd parent(ParentFd(path), false);
      if (parent.fd < 0) return info;
      // The holder opened as a folder reached through no link: it is there.
      if (fstatat(parent.fd, path.parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        info.folderThere = true;
        return info;
      }
    }
    return InfoOf(st);
  }

  int Open(const StorePath &path, const OpenRequest &request, NodeInfo &opened,
           DWORD &error) override {
    Fd parent(ParentFd(path), false);
    if (parent.fd < 0) {
      error = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
      return -1;
    }
    bool created = false;
    int fd = OpenNode(parent.fd, path.parts.back().c_str(), request, created);
    if (fd < 0) {
      error = errno == ENOENT && request.disposition != OPEN_EXISTING ? ERROR_PATH_NOT_FOUND
                                                                      : ErrorFromErrno(errno);
      return -1;
    }
    if (created) {
      // A file made by this open is a new regular file, empty, and held by
      // no other handle: nothing to look at or refuse. Its identity is
      // asked for only when another open compares (Identify).
      opened = NodeInfo();
      opened.kind = NodeKind::kFile;
      opened.identified = false;
      opened.made = true;
    } else if (!Admit(fd, request, opened, error)) {
      return -1;
    }
    // A file made by this open for writing is empty already; any other
    // CREATE_ALWAYS is emptied now, once admitted (a handle that only
    // reads cannot be: ftruncate refuses its descriptor, and the open
    // fails).
    bool empty = request.disposition != CREATE_ALWAYS || (created && request.write);
    if (!empty && ftruncate(fd, 0) != 0) {
      error = ErrorFromErrno(errno);
      close(fd);
      return -1;
    }
    if (!empty) opened.size = 0;
    return fd;
  }

  // Looks at a file an open found there: only a regular file is taken, and
  // the request's refusal has its say. False, the descriptor closed, when
  // it is refused.
  static bool Admit(int fd, const OpenRequest &request, NodeInfo &opened, DWORD &error) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      error = ERROR_ACCESS_DENIED;
    } else {
      opened = InfoOf(st);
      error = request.refusal ? request.refusal(opened) : 0;
    }
    if (error != 0) close(fd);
    return error == 0;
  }

  void Identify(int id, unsigned long long &device, unsigned long long &inode) override {
    struct stat st;
    device = inode = 0;
    if (fstat(id, &st) != 0) return;
    device = st.st_dev;
    inode = st.st_ino;
  }

  long long Read(int id, void *buffer, size_t count, DWORD &error) override {
    ssize_t n = read(id, buffer, count);
    if (n < 0) error = ErrorFromErrno(errno);
    return n;
  }

  long long Write(int id, const void *buffer, size_t count, DWORD &error) override {
    ssize_t n = write(id, buffer, count);
    if (n < 0) error = ErrorFromErrno(errno);
    return n;
  }

  long long Seek(int id, long long offset, int whence) override {
    off_t at = lseek(id, off_t(offset), whence);
    return at < 0 ? -1 : (long long)at;
  }

  unsigned long long Size(int id) override {
    struct stat st;
    return fstat(id, &st) == 0 ? (unsigned long long)st.st_size : 0;
  }

  bool SetModified(int id, long long seconds, long nanoseconds) override {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(seconds);
    times[1].tv_nsec = nanoseconds;
    return futimens(id, times) == 0;
  }

  void Close(int id) override { close(id); }

  DWORD MakeFolder(const StorePath &path) override {
    if (path.parts.empty()) return ERROR_ACCESS_DENIED;
    Fd parent(ParentFd(path), false);
    if (parent.fd < 0) return ERROR_PATH_NOT_FOUND;
    if (mkdirat(parent.fd, path.parts.back().c_str(), 0755) != 0) return ErrorFromErrno(errno);
    return 0;
  }

  DWORD RemoveFolder(const StorePath &path) override {
    if (path.parts.empty()) return ERROR_ACCESS_DENIED;
    Fd parent(ParentFd(path), false);
    if (parent.fd < 0) return ERROR_PATH_NOT_FOUND;
    if (unlinkat(parent.fd, path.parts.back().c_str(), AT_REMOVEDIR) != 0) {
      return ErrorFromErrno(errno);
    }
    // A folder kept open may have been the one removed.
    DropRecentFolders();
    return 0;
  }

  DWORD RemoveFile(const StorePath &path) override {
    if (path.parts.empty()) return ERROR_ACCESS_DENIED;
    Fd parent(ParentFd(path), false);
    if (parent.fd < 0) return ERROR_PATH_NOT_FOUND;
    struct stat st;
    const char *name = path.parts.back().c_str();
    if (fstatat(parent.fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return ErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode)) return ERROR_ACCESS_DENIED;
    if (unlinkat(parent.fd, name, 0) != 0) return ErrorFromErrno(errno);
    return 0;
  }

  bool FindFirst(const StorePath &folder, const std::function<bool(const std::string &)> &matches,
                 std::string &found) override {
    int root = RootFd(folder);
    if (root < 0) return false;
    int fd = OpenFolderBelow(root, folder.parts, folder.parts.size(), O_RDONLY);
    if (fd < 0) return false;
    DIR *dir = fdopendir(fd);
    if (!dir) {
      close(fd);
      return false;
    }
    bool any = false;
    while (dirent *entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      if (matches(name)) {
        found = name;
        any = true;
        break;
      }
    }
    closedir(dir);
    return any;
  }
};

}  // namespace

void ForgetPosixFolders() {
  DropRecentFolders();
  for (auto &root : rootFds) close(root.second);
  rootFds.clear();
}

FileStore &PosixStore() {
  static PosixFiles store;
  return store;
}

}  // namespace host
