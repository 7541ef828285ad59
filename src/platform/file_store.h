// Where the host layer keeps files and folders: the machine's own file
// system, or memory (for fuzzing, where every input needs a fresh machine
// and real files would cost more than the program under test).
//
// A store knows nothing of Windows paths: files.cpp resolves them to a
// drive's folder and the components below it. Below that folder a store
// never follows a symbolic link, so that nothing the program writes can
// land outside the folder a drive stands for.
#ifndef VANTREL_HOST_FILE_STORE_H
#define VANTREL_HOST_FILE_STORE_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace host {

struct StorePath {
  std::string root;                // the drive's folder on this machine ("" is the root, /)
  std::vector<std::string> parts;  // the components below it, none empty
  // The POSIX path, for messages and for keys.
  std::string Joined() const;
};

enum class NodeKind { kNone, kFile, kFolder, kOther };

struct NodeInfo {
  NodeKind kind = NodeKind::kNone;
  bool link = false;  // a symbolic link (kOther), which Windows would call a reparse point
  unsigned long long size = 0;
  long long modified = 0;  // seconds since 1970
  // Which file it is, whatever the path: two paths or handles to the same
  // file share these.
  unsigned long long device = 0, inode = 0;
  bool identified = true;  // false: device and inode are not known yet (see Open)
  // For a path that names nothing (kNone): the folder that would hold it is
  // there, so a search for the name found the folder and not the name.
  bool folderThere = false;
  // From Open only: the open created the file, which was not there before.
  bool made = false;
};

struct OpenRequest {
  bool read = false, write = false;
  DWORD disposition = OPEN_EXISTING;
  // Sees the file once it is open and before anything in it changes (a
  // CREATE_ALWAYS empties it only after): an error code other than 0
  // closes it again and is the open's error. Null admits every file.
  std::function<DWORD(const NodeInfo &)> refusal;
};

class FileStore {
 public:
  virtual ~FileStore() = default;

  // What the path names; a symbolic link below the root is kOther, link.
  virtual NodeInfo Stat(const StorePath &path) = 0;

  // Opens a regular file (CreateFileA's dispositions); returns an id, or -1
  // with `error` set to a Windows error code. Anything but a regular file
  // is refused, so that a device or a pipe is never read or written.
  // `opened` receives what the file is once open (its identity and size):
  // the store has looked already, and need not be asked again. A file the
  // open made itself may come back new and empty but not identified.
  virtual int Open(const StorePath &path, const OpenRequest &request, NodeInfo &opened,
                   DWORD &error) = 0;
  // The identity (NodeInfo's device and inode) of an open file.
  virtual void Identify(int id, unsigned long long &device, unsigned long long &inode) = 0;
  // Bytes read or written (0 at the end of a file); -1 with `error` set.
  virtual long long Read(int id, void *buffer, size_t count, DWORD &error) = 0;
  virtual long long Write(int id, const void *buffer, size_t count, DWORD &error) = 0;
  // The new position; -1 when it would be negative.
  virtual long long Seek(int id, long long offset, int whence) = 0;
  virtual unsigned long long Size(int id) = 0;
  virtual bool SetModified(int id, long long seconds, long nanoseconds) = 0;
  virtual void Close(int id) = 0;

  // 0 or a Windows error code.
  virtual DWORD MakeFolder(const StorePath &path) = 0;
  virtual DWORD RemoveFolder(const StorePath &path) = 0;
  virtual DWORD RemoveFile(const StorePath &path) = 0;

  // The first name in the folder (other than "." and "..") that `matches`
  // accepts, in the store's own order; false when none does or the folder
  // cannot be read.
  virtual bool FindFirst(const StorePath &folder,
                         const std::function<bool(const std::string &)> &matches,
                         std::string &found) = 0;

  // Every name in the folder (other than "." and ".."); false when the
  // folder cannot be read.
  bool List(const StorePath &folder, std::vector<std::string> &names) {
    names.clear();
    std::string ignored;
    return FindFirst(folder,
                     [&names](const std::string &name) {
                       names.push_back(name);
                       return false;
                     },
                     ignored) ||
           Stat(folder).kind == NodeKind::kFolder;
  }
};

FileStore &PosixStore();
FileStore &MemoryStore();
// Empties the memory store (open files included).
void ClearMemoryStore();
// Closes the folders the real file system's store keeps open between calls
// (a fresh machine may have new folders under the same names).
void ForgetPosixFolders();
// The store files.cpp uses now.
FileStore &Store();

}  // namespace host

#endif
