// Files and folders with Windows paths: drive letters mapped to folders of
// this machine, paths resolved and checked as Windows does, and the bytes
// kept by the current file store (the real file system, or memory).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "contracts.h"
#include "file_store.h"
#include "host_state.h"

namespace host {
namespace {
const DWORD kErrorBadNetPath = 53;       // UNC paths lead off this machine
const DWORD kErrorNegativeSeek = 131;
std::map<char, std::string> drives;
std::set<char> substitutedDrives;
bool memoryFiles = false;
long long writeBudget = -1;
std::function<void(DWORD)> writeHook;

std::map<std::string, long long> readCuts;  // POSIX path -> bytes readable
std::map<std::string, std::string> shortPaths;  // GetShortPathNameA, as the paths are written
std::set<std::string> deniedFolders;            // POSIX paths nothing may be created in
std::function<void(const std::string &)> folderCreatedHook;
// Per drive; a drive without one keeps its names' bytes.
std::map<char, std::function<std::string(const std::string &)>> hostNames;

struct FileObject;
// Every open file, for the sharing rule; never destroyed, as handles may
// outlive the end of the host program's statics.
std::set<FileObject *> &OpenFiles() {
  static auto *files = new std::set<FileObject *>;
  return *files;
}

// Bytes of the file read ahead of a handle that may keep them: see
// KeepsReadAhead.
const size_t kReadAhead = 32768;
struct ReadAhead {
  std::vector<char> bytes;  // the file's bytes from `start`, as read
  long long start = 0;
  long long position = 0;  // the handle's file pointer; the store's own lies elsewhere
  long long storeAt = 0;   // where the store's position is (-1: not known)
};

// Bytes read ahead stay true only while nobody can write the file: a handle
// that reads and does not share writing keeps them (the sharing rule then
// refuses every writer for as long as it is open). Reading a package in
// pieces of a header or a name then costs a call to the store per buffer,
// not per piece.
bool KeepsReadAhead(DWORD access, DWORD share) {
  return access == GENERIC_READ && !(share & FILE_SHARE_WRITE);
}

struct FileObject : HostObject {
  FileStore *store;
  int id;
  long long readable = -1;  // bytes left to read before reads deliver nothing; -1: no limit
  bool sizeKnown;           // opened for reading or writing: GetFileSize answers
  DWORD access, share;      // as CreateFileA was given them
  unsigned long long device = 0, inode = 0;
  bool identified;                   // device and inode known (see Identify)
  std::unique_ptr<ReadAhead> ahead;  // null: every call goes to the store
  FileObject(FileStore *s, int i, DWORD a, DWORD sh, const NodeInfo &opened)
      : HostObject(kFile), store(s), id(i), sizeKnown((a & (GENERIC_READ | GENERIC_WRITE)) != 0),
        access(a), share(sh), device(opened.device), inode(opened.inode),
        identified(opened.identified) {
    if (KeepsReadAhead(a, sh)) ahead.reset(new ReadAhead);
    OpenFiles().insert(this);
  }
  // A file its open made is identified only when another open compares:
  // most are closed before that.
  void Identify() {
    if (!identified) store->Identify(id, device, inode);
    identified = true;
  }
  ~FileObject() override {
    OpenFiles().erase(this);
    store->Close(id);
  }
};

// Windows' rule between the handles of one file: what each new handle
// wants to do must be shared by every open one, and what every open one
// does must be shared by the new one.
bool SharingRefuses(const NodeInfo &file, DWORD access, DWORD share) {
  for (FileObject *open : OpenFiles()) {
    if (open->store != &Store()) continue;
    open->Identify();
    if (open->device != file.device || open->inode != file.inode) continue;
    if (((access & GENERIC_READ) && !(open->share & FILE_SHARE_READ)) ||
        ((access & GENERIC_WRITE) && !(open->share & FILE_SHARE_WRITE)) ||
        ((open->access & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
        ((open->access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE))) {
      return true;
    }
  }
  return false;
}

struct FindObject : HostObject {
  FindObject() : HostObject(kFind) {}
};

bool Fail(DWORD code) {
  SetLastError(code);
  return false;
}

// A call's answer from the store's error code: 0 succeeds.
bool Succeeds(DWORD error) { return error == 0 || Fail(error); }

// Characters a Windows file name cannot hold.
bool ValidComponent(const std::string &name) {
  for (unsigned char c : name) {
    if (c < 32 || std::string("<>:\"|?*").find(char(c)) != std::string::npos) return false;
  }
  return true;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// Adds the components of `text` to `parts` as Windows resolves a path:
// empty components vanish, "." stays where it is and ".." goes up one
// (never above the root).
void AddComponents(const std::string &text, size_t from, std::vector<std::string> &parts) {
  size_t start = from;
  for (size_t i = from; i <= text.size(); ++i) {
    if (i < text.size() && !IsPathSeparator(text[i])) continue;
    size_t length = i - start;
    if (length == 2 && text[start] == '.' && text[start + 1] == '.') {
      if (!parts.empty()) parts.pop_back();
    } else if (length > 0 && !(length == 1 && text[start] == '.')) {
      parts.emplace_back(text, start, length);
    }
    start = i + 1;
  }
}

struct Resolved {
  StorePath path;
  std::string lastName;  // the final component as the caller wrote it; empty after a separator
  char drive;
  bool ok;
};

// A Windows path resolved against the current directory: its drive and
// components. UNC paths lead off this machine, and a drive that is not
// mapped holds nothing.
Resolved Resolve(const std::string &path, bool checkNames) {
  Resolved r{{}, "", 0, false};
  if (path.empty()) return Fail(ERROR_PATH_NOT_FOUND), r;
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    return Fail(kErrorBadNetPath), r;
  }
  const std::string current = CurrentDirectory();
  char currentDrive = char(std::toupper((unsigned char)current[0]));
  std::vector<std::string> parts;
  size_t from = 0;
  if (path.size() >= 2 && std::isalpha((unsigned char)path[0]) && path[1] == ':') {
    r.drive = char(std::toupper((unsigned char)path[0]));
    from = 2;
    // A drive-relative path: only the current drive has a known folder.
    if ((path.size() == 2 || !IsPathSeparator(path[2])) && r.drive == currentDrive) {
      AddComponents(current, 2, parts);
    }
  } else {
    r.drive = currentDrive;
    if (!IsPathSeparator(path[0])) AddComponents(current, 2, parts);
  }
  AddComponents(path, from, parts);
  auto drive = drives.find(r.drive);
  if (drive == drives.end()) return Fail(ERROR_PATH_NOT_FOUND), r;
  if (checkNames) {
    for (const std::string &p : parts) {
      if (!ValidComponent(p)) return Fail(ERROR_INVALID_NAME), r;
    }
  }
  bool trailing = IsPathSeparator(path.back());
  r.lastName = trailing || parts.empty() ? std::string() : parts.back();
  auto names = hostNames.find(r.drive);
  if (names != hostNames.end()) {
    for (std::string &p : parts) p = names->second(p);
  }
  r.path.root = drive->second;
  r.path.parts = std::move(parts);
  r.ok = true;
  return r;
}

bool SameLetter(char a, char b) {
  return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
}

// '*' matches any run of characters, '?' any one. Only the latest star is
// ever returned to, with one more character for it to take: a name a
// pattern of many stars does not match is answered in time proportional to
// the two lengths' product, never by trying every way to share it out.
bool WildcardMatch(const char *pattern, const char *name) {
  const char *afterStar = nullptr;  // the pattern after the latest star
  const char *starTaken = nullptr;  // where the name continues after that star's run
  while (*name) {
    if (*pattern == '*') {
      afterStar = ++pattern;
      starTaken = name;
    } else if (*pattern && (*pattern == '?' || SameLetter(*pattern, *name))) {
      ++pattern;
      ++name;
    } else if (afterStar) {
      pattern = afterStar;
      name = ++starTaken;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

// "*.*" matches every name, with or without a dot, as on Windows.
bool NameMatches(const std::string &pattern, const std::string &name) {
  if (pattern == "*.*" || pattern == "*") return true;
  return WildcardMatch(pattern.c_str(), name.c_str());
}

FILETIME FileTimeFromUnix(long long seconds) {
  unsigned long long t = (unsigned long long)(seconds + 11644473600LL) * 10000000ULL;
  return {DWORD(t), DWORD(t >> 32)};
}

// A symbolic link stands for what Windows calls a reparse point (a junction
// or a symbolic link); the host does not say what it leads to.
DWORD AttributesOf(const NodeInfo &info) {
  if (info.link) return FILE_ATTRIBUTE_REPARSE_POINT;
  return info.kind == NodeKind::kFolder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

// The folder that holds the path's last component is one nothing may be
// created in.
bool CreationDenied(const StorePath &path) {
  if (path.parts.empty()) return false;
  StorePath parent = path;
  parent.parts.pop_back();
  return deniedFolders.count(parent.Joined()) > 0;
}

// A path on this machine given as a POSIX path, for the driver's own use.
StorePath PosixStorePath(const std::string &posix) {
  StorePath path;
  AddComponents(posix, 0, path.parts);
  return path;
}
}  // namespace

FileStore &Store() { return memoryFiles ? MemoryStore() : PosixStore(); }

void MapDrive(char letter, const std::string &posixFolder) {
  std::string folder = posixFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  char drive = char(std::toupper((unsigned char)letter));
  drives[drive] = folder == "/" ? "" : folder;
  substitutedDrives.erase(drive);
  ForgetPosixFolders();
}

void SetHostNames(char letter, std::function<std::string(const std::string &)> convert) {
  char drive = char(std::toupper((unsigned char)letter));
  if (convert) {
    hostNames[drive] = std::move(convert);
  } else {
    hostNames.erase(drive);
  }
  ForgetPosixFolders();
}

void SubstituteDrive(char letter, const std::string &posixFolder) {
  MapDrive(letter, posixFolder);
  substitutedDrives.insert(char(std::toupper((unsigned char)letter)));
}

std::string PosixPath(const std::string &windowsPath) {
  Resolved r = Resolve(windowsPath, false);
  return r.ok ? r.path.Joined() : "";
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

void OnWrite(std::function<void(DWORD)> hook) { writeHook = std::move(hook); }

void CutReads(const std::string &windowsPath, long long bytes) {
  readCuts[PosixPath(windowsPath)] = bytes;
}

void SetShortPath(const std::string &longPath, const std::string &shortPath) {
  shortPaths[longPath] = shortPath;
}

void DenyCreationIn(const std::string &windowsFolder) {
  deniedFolders.insert(PosixPath(windowsFolder));
}

void OnFolderCreated(std::function<void(const std::string &)> hook) {
  folderCreatedHook = std::move(hook);
}

void UseMemoryFiles() {
  CloseAllHandles();
  ClearMemoryStore();
  memoryFiles = true;
}

bool MakeFolders(const std::string &posixPath) {
  StorePath path = PosixStorePath(posixPath);
  StorePath upTo;
  for (const std::string &part : path.parts) {
    upTo.parts.push_back(part);
    if (Store().Stat(upTo).kind == NodeKind::kFolder) continue;
    if (Store().MakeFolder(upTo) != 0) return false;
  }
  return true;
}

// Runs `use` on the file at `posixPath`, opened in the current store.
template <typename Use>
bool WithStoreFile(const std::string &posixPath, bool write, DWORD disposition, Use use) {
  DWORD error = 0;
  NodeInfo opened;
  OpenRequest request;
  request.read = !write;
  request.write = write;
  request.disposition = disposition;
  int id = Store().Open(PosixStorePath(posixPath), request, opened, error);
  if (id < 0) return false;
  bool done = use(id, error);
  Store().Close(id);
  return done;
}

bool PutFile(const std::string &posixPath, const std::string &bytes) {
  return WithStoreFile(posixPath, true, CREATE_ALWAYS, [&bytes](int id, DWORD &error) {
    return bytes.empty() || Store().Write(id, bytes.data(), bytes.size(), error) ==
                                (long long)bytes.size();
  });
}

bool GetFile(const std::string &posixPath, std::string &bytes) {
  return WithStoreFile(posixPath, false, OPEN_EXISTING, [&bytes](int id, DWORD &error) {
    bytes.assign(size_t(Store().Size(id)), '\0');
    long long got = bytes.empty() ? 0 : Store().Read(id, &bytes[0], bytes.size(), error);
    bytes.resize(got < 0 ? 0 : size_t(got));
    return got >= 0;
  });
}

static void ListTree(const std::string &posixPath, std::vector<std::string> &paths) {
  std::vector<std::string> names;
  if (!Store().List(PosixStorePath(posixPath), names)) return;
  for (const std::string &name : names) {
    std::string path = (posixPath == "/" ? "" : posixPath) + "/" + name;
    paths.push_back(path);
    if (Store().Stat(PosixStorePath(path)).kind == NodeKind::kFolder) ListTree(path, paths);
  }
}

std::vector<std::string> TreeBelow(const std::string &posixPath) {
  std::vector<std::string> paths;
  ListTree(posixPath, paths);
  return paths;
}

void ResetFiles() {
  drives.clear();
  drives['Z'] = "";
  substitutedDrives.clear();
  writeBudget = -1;
  writeHook = nullptr;
  readCuts.clear();
  shortPaths.clear();
  deniedFolders.clear();
  folderCreatedHook = nullptr;
  hostNames.clear();
  if (memoryFiles) ClearMemoryStore();
  memoryFiles = false;
  ForgetPosixFolders();
}

}  // namespace host

using namespace host;

// In a folder nothing may be created in, whether the file is there decides
// before it is opened; the sharing rule still comes first.
static DWORD RefusalInDeniedFolder(const StorePath &path, DWORD access, DWORD share,
                                   DWORD disposition) {
  if (!CreationDenied(path)) return 0;
  NodeInfo existing = Store().Stat(path);
  if (existing.kind == NodeKind::kFile && SharingRefuses(existing, access, share)) {
    return ERROR_SHARING_VIOLATION;
  }
  return existing.kind == NodeKind::kNone && disposition != OPEN_EXISTING ? ERROR_ACCESS_DENIED : 0;
}

// The error of an open the store refused. A file another handle holds
// against this one is a sharing violation, whatever else the store found
// wrong: the rule is looked at first.
static DWORD OpenError(const StorePath &path, DWORD access, DWORD share, DWORD storeError) {
  NodeInfo existing = Store().Stat(path);
  bool held = existing.kind == NodeKind::kFile && SharingRefuses(existing, access, share);
  return held ? DWORD(ERROR_SHARING_VIOLATION) : storeError;
}

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD attributes, HANDLE) {
  if (!contract::CreateFileAllowed(name, access, share, disposition, attributes))
    return INVALID_HANDLE_VALUE;
  Resolved r = Resolve(name ? name : "", true);
  if (!r.ok) return INVALID_HANDLE_VALUE;
  // A folder is refused by the store, as anything but a regular file is.
  if (r.lastName.empty()) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (disposition != CREATE_NEW && disposition != CREATE_ALWAYS && disposition != OPEN_ALWAYS &&
      disposition != OPEN_EXISTING) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  DWORD error = RefusalInDeniedFolder(r.path, access, share, disposition);
  NodeInfo opened;
  int id = -1;
  if (error == 0) {
    // Checked before the file is touched: a refused CREATE_ALWAYS truncates
    // nothing.
    OpenRequest request;
    request.read = (access & GENERIC_READ) != 0;
    request.write = (access & GENERIC_WRITE) != 0;
    request.disposition = disposition;
    request.refusal = [access, share](const NodeInfo &file) {
      return SharingRefuses(file, access, share) ? DWORD(ERROR_SHARING_VIOLATION) : DWORD(0);
    };
    id = Store().Open(r.path, request, opened, error);
    if (id < 0) error = OpenError(r.path, access, share, error);
  }
  if (id < 0) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  // Windows says when CREATE_ALWAYS or OPEN_ALWAYS found the file there.
  bool found = (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) && !opened.made;
  SetLastError(found ? ERROR_ALREADY_EXISTS : 0);
  auto *object = new FileObject(&Store(), id, access, share, opened);
  auto cut = readCuts.empty() ? readCuts.end() : readCuts.find(r.path.Joined());
  if (cut != readCuts.end()) object->readable = cut->second;
  return Register(object);
}

// The checks ReadFile and WriteFile share: the call's contract, the count
// cleared before anything can fail, and the handle's file.
static FileObject *TransferTarget(HANDLE file, LPDWORD done, LPOVERLAPPED overlapped) {
  if (!contract::TransferAllowed(done, overlapped)) return nullptr;
  if (done) *done = 0;
  return static_cast<FileObject *>(Lookup(file, HostObject::kFile));
}

// Reads at the handle's own file pointer, from the store at the pointer's
// place; -1 with `error` set when the store fails.
static long long ReadAtPointer(FileObject *f, char *into, size_t count, DWORD &error) {
  ReadAhead &a = *f->ahead;
  if (a.storeAt != a.position) {
    // Every pointer the handle holds was one the store accepted, or lies
    // within bytes it read: the seek cannot fail.
    a.storeAt = f->store->Seek(f->id, a.position, SEEK_SET);
  }
  long long n = f->store->Read(f->id, into, count, error);
  a.storeAt = n < 0 ? -1 : a.storeAt + n;
  return n;
}

// The next bytes for a handle that reads ahead: what the buffer holds at the
// pointer, else a fresh buffer from there. A large read goes straight into
// the caller's memory, and a buffer that cannot be filled leaves the read
// to ask for no more than the caller did, so that the bytes past the
// request never make a read fail.
static long long ReadAheadOf(FileObject *f, char *into, size_t count, DWORD &error) {
  ReadAhead &a = *f->ahead;
  long long end = a.start + (long long)a.bytes.size();
  if (a.position < a.start || a.position >= end) {
    if (count >= kReadAhead) {
      long long n = ReadAtPointer(f, into, count, error);
      if (n > 0) a.position += n;
      return n;
    }
    a.bytes.resize(kReadAhead);
    a.start = a.position;
    DWORD ignored = 0;
    long long n = ReadAtPointer(f, a.bytes.data(), kReadAhead, ignored);
    a.bytes.resize(n < 0 ? 0 : size_t(n));
    if (n < 0) {
      n = ReadAtPointer(f, into, count, error);
      if (n > 0) a.position += n;
      return n;
    }
    end = a.start + n;
  }
  size_t n = std::min(count, size_t(end - a.position));
  std::copy_n(a.bytes.data() + (a.position - a.start), n, into);
  a.position += (long long)n;
  return (long long)n;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD got,
                     LPOVERLAPPED overlapped) {
  FileObject *f = TransferTarget(file, got, overlapped);
  if (!f) return FALSE;
  // A handle opened for neither reading nor writing may only be asked
  // about; the store would read through it.
  if (!(f->access & GENERIC_READ)) return Fail(ERROR_ACCESS_DENIED);
  if (f->readable >= 0 && (long long)count > f->readable) count = DWORD(f->readable);
  DWORD total = 0;
  while (total < count) {
    DWORD error = 0;
    char *into = static_cast<char *>(buffer) + total;
    long long n = f->ahead ? ReadAheadOf(f, into, count - total, error)
                           : f->store->Read(f->id, into, count - total, error);
    if (n < 0) {
      if (got) *got = total;
      return Fail(error);
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
  FileObject *f = TransferTarget(file, written, overlapped);
  if (!f) return FALSE;
  DWORD allowed = count;
  if (writeBudget >= 0 && (long long)count > writeBudget) allowed = DWORD(writeBudget);
  DWORD total = 0;
  DWORD error = ERROR_DISK_FULL;
  while (total < allowed) {
    long long n =
        f->store->Write(f->id, static_cast<const char *>(buffer) + total, allowed - total, error);
    if (n <= 0) break;
    total += DWORD(n);
  }
  if (writeBudget >= 0) writeBudget -= total;
  if (written) *written = total;
  if (writeHook && total > 0) writeHook(total);
  if (total < count) return Fail(total < allowed ? error : ERROR_DISK_FULL);
  return TRUE;
}

// Moves the file pointer of a handle that reads ahead. Within the bytes read
// it moves by itself; anywhere else the store moves it, so that every
// position the store would refuse is still refused.
static long long MovePointer(FileObject *f, long long offset, int whence) {
  ReadAhead &a = *f->ahead;
  long long end = a.start + (long long)a.bytes.size();
  if (whence != SEEK_END) {
    long long base = whence == SEEK_SET ? 0 : a.position;
    if (offset >= a.start - base && offset <= end - base) {
      a.position = base + offset;
      return a.position;
    }
  }
  // A move from the current place starts where the handle's pointer is.
  if (whence == SEEK_CUR && a.storeAt != a.position) {
    a.storeAt = f->store->Seek(f->id, a.position, SEEK_SET);
  }
  long long at = f->store->Seek(f->id, offset, whence);
  if (at < 0) return -1;
  a.position = a.storeAt = at;
  return at;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG high, DWORD method) {
  if (!contract::SeekAllowed(method)) return INVALID_SET_FILE_POINTER;
  auto *f = static_cast<FileObject *>(Lookup(file, HostObject::kFile));
  if (!f) return INVALID_SET_FILE_POINTER;
  long long offset = distance;
  if (high) offset = ((long long)*high << 32) | DWORD(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : SEEK_END;
  // A seek before the file's start fails and leaves the position as it was.
  long long at = f->ahead ? MovePointer(f, offset, whence) : f->store->Seek(f->id, offset, whence);
  if (at < 0) {
    SetLastError(kErrorNegativeSeek);
    return INVALID_SET_FILE_POINTER;
  }
  if (high) *high = LONG(at >> 32);
  SetLastError(0);
  return DWORD(at);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD high) {
  auto *f = static_cast<FileObject *>(Lookup(file, HostObject::kFile));
  if (!f) return INVALID_FILE_SIZE;
  // Windows 95 answers only for a handle opened to read or to write.
  if (!f->sizeKnown) {
    Fail(ERROR_ACCESS_DENIED);
    return INVALID_FILE_SIZE;
  }
  unsigned long long size = f->store->Size(f->id);
  if (high) *high = DWORD(size >> 32);
  return DWORD(size);
}

BOOL WINAPI CloseHandle(HANDLE handle) { return Unregister(handle); }

BOOL WINAPI DeleteFileA(LPCSTR name) {
  if (!contract::DeleteAllowed(name)) return FALSE;
  Resolved r = Resolve(name ? name : "", false);
  return r.ok && Succeeds(Store().RemoveFile(r.path));
}

BOOL WINAPI CreateDirectoryA(LPCSTR name, LPSECURITY_ATTRIBUTES attributes) {
  if (!contract::FolderCreationAllowed(name)) return FALSE;
  if (CallFails("CreateDirectoryA")) return FALSE;
  FolderSecurity security;
  if (!CaptureFolderSecurity(attributes, security)) return FALSE;
  Resolved r = Resolve(name ? name : "", true);
  if (!r.ok) return FALSE;
  if (Store().Stat(r.path).kind == NodeKind::kNone && CreationDenied(r.path)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (!Succeeds(Store().MakeFolder(r.path))) return FALSE;
  RecordFolderSecurity(r.path.Joined(), security);
  if (folderCreatedHook) folderCreatedHook(r.path.Joined());
  return TRUE;
}

// Windows NT keeps the process's current directory open: it cannot be
// removed while the program is in it.
BOOL WINAPI RemoveDirectoryA(LPCSTR name) {
  if (!contract::PathAllowed(name)) return FALSE;
  Resolved r = Resolve(name ? name : "", false);
  if (!r.ok) return FALSE;
  Resolved current = Resolve(CurrentDirectory(), false);
  if (current.ok && current.path.Joined() == r.path.Joined()) {
    SetLastError(ERROR_SHARING_VIOLATION);
    return FALSE;
  }
  return Succeeds(Store().RemoveFolder(r.path));
}

namespace {
// The path a search for one name looks up: the searched folder's path and
// the name, when the text is that folder's text followed by the name, as
// Resolve would make it ("." and ".." aside); otherwise the text resolved
// on its own. False when it names nothing reachable.
bool NameInFolder(const std::string &text, const Resolved &folder, const std::string &name,
                  StorePath &looked) {
  bool followsFolder =
      text.size() > name.size() && IsPathSeparator(text[text.size() - name.size() - 1]);
  if (!followsFolder || name == "." || name == "..") {
    Resolved exact = Resolve(text, false);
    looked = exact.path;
    return exact.ok;
  }
  looked = folder.path;
  auto names = hostNames.find(folder.drive);
  looked.parts.push_back(names != hostNames.end() ? names->second(name) : name);
  return true;
}

// The entry a search finds: for a name without wildcards the entry itself;
// for a pattern the first that matches, "." first in any folder but a plain
// drive's root (a substituted drive's root lists it, as any folder does).
bool FindEntry(const std::string &text, const Resolved &folder, const std::string &namePattern,
               std::string &match, NodeInfo &info, StorePath &looked) {
  FileStore &store = Store();
  if (namePattern.find_first_of("*?") == std::string::npos) {
    bool found = NameInFolder(text, folder, namePattern, looked);
    if (found) info = store.Stat(looked);
    if (info.kind == NodeKind::kNone) return false;
    match = namePattern;
    return true;
  }
  NodeInfo folderInfo = store.Stat(folder.path);
  if (folderInfo.kind != NodeKind::kFolder) return false;
  bool plainRoot = folder.path.parts.empty() && !substitutedDrives.count(folder.drive);
  if (!plainRoot && NameMatches(namePattern, ".")) {
    match = ".";
    info = folderInfo;
    return true;
  }
  auto matches = [&namePattern](const std::string &name) { return NameMatches(namePattern, name); };
  if (!store.FindFirst(folder.path, matches, match)) return false;
  StorePath entry = folder.path;
  entry.parts.push_back(match);
  info = store.Stat(entry);
  return true;
}

// Whether the folder of a search that found nothing is there. A name
// looked up directly in it has answered already (one look, not two); a
// name that led elsewhere ("..", or another drive's current folder) has not.
bool SearchedFolderThere(const StorePath &folder, const StorePath &looked, const NodeInfo &info) {
  if (looked.root == folder.root && looked.parts.size() == folder.parts.size() + 1 &&
      std::equal(folder.parts.begin(), folder.parts.end(), looked.parts.begin())) {
    return info.folderThere;
  }
  return Store().Stat(folder).kind == NodeKind::kFolder;
}
}  // namespace

// A name without wildcards is looked up directly; only a pattern reads the
// folder, so that testing for one file costs the same in a folder of ten
// thousand.
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found) {
  if (!contract::SearchAllowed(pattern)) return INVALID_HANDLE_VALUE;
  std::string text = pattern ? pattern : "";
  size_t cut = text.find_last_of("\\/");
  std::string folder = cut == std::string::npos ? "." : text.substr(0, cut + 1);
  std::string namePattern = cut == std::string::npos ? text : text.substr(cut + 1);
  Resolved r = Resolve(folder, false);
  if (namePattern.empty() || !r.ok) {
    SetLastError(namePattern.empty() ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string match;
  NodeInfo info;
  StorePath looked;
  if (!FindEntry(text, r, namePattern, match, info, looked)) {
    // The error Windows gives: no folder to search, or nothing found in it.
    bool folderThere = SearchedFolderThere(r.path, looked, info);
    SetLastError(folderThere ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *found = WIN32_FIND_DATAA{};
  found->dwFileAttributes = AttributesOf(info);
  found->ftLastWriteTime = FileTimeFromUnix(info.modified);
  found->nFileSizeLow = DWORD(info.size);
  found->nFileSizeHigh = DWORD(info.size >> 32);
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
  if (!r.ok) return INVALID_FILE_ATTRIBUTES;
  NodeInfo info = Store().Stat(r.path);
  if (info.kind == NodeKind::kNone) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(info);
}

// The path must exist. Unless the driver gave it a short form, a path is
// its own: a volume without 8.3 names gives the long path back.
DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size) {
  if (!contract::PathAllowed(longPath)) return 0;
  Resolved r = Resolve(longPath ? longPath : "", false);
  if (!r.ok) return 0;
  if (Store().Stat(r.path).kind == NodeKind::kNone) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  auto mapped = shortPaths.find(longPath);
  return CopyOut(mapped == shortPaths.end() ? std::string(longPath) : mapped->second, shortPath,
                 size);
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME *, const FILETIME *, const FILETIME *lastWrite) {
  auto *f = static_cast<FileObject *>(Lookup(file, HostObject::kFile));
  if (!f) return FALSE;
  if (!lastWrite) return TRUE;
  unsigned long long t = ((unsigned long long)lastWrite->dwHighDateTime << 32) | lastWrite->dwLowDateTime;
  long long unixHundreds = (long long)t - 116444736000000000LL;
  if (!f->store->SetModified(f->id, unixHundreds / 10000000, long(unixHundreds % 10000000) * 100)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  return TRUE;
}
