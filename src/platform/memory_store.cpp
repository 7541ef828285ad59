// Files and folders in memory: a tree of nodes whose drive folders are made
// on demand. It holds no links, devices or pipes, so every node is a plain
// file or folder.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string_view>

#include "file_store.h"
#include "host_state.h"

namespace host {
namespace {

struct Node {
  bool folder = false;
  std::string bytes;
  long long modified = 0;
  std::map<std::string, std::shared_ptr<Node>, std::less<>> children;
};

struct OpenFile {
  std::shared_ptr<Node> node;
  unsigned long long position = 0;
  bool write = false;
};

// What a node is; its address is its identity.
NodeInfo InfoOf(const Node &node) {
  NodeInfo info;
  info.kind = node.folder ? NodeKind::kFolder : NodeKind::kFile;
  info.size = node.bytes.size();
  info.modified = node.modified;
  info.inode = reinterpret_cast<uintptr_t>(&node);
  return info;
}

class MemoryFiles : public FileStore {
 public:
  MemoryFiles() { Clear(); }

  void Clear() {
    top_ = std::make_shared<Node>();
    top_->folder = true;
    open_.clear();
  }

  NodeInfo Stat(const StorePath &path) override {
    std::shared_ptr<Node> node = Find(path, path.parts.size());
    if (node) return InfoOf(*node);
    NodeInfo none;
    std::shared_ptr<Node> parent = Find(path, path.parts.size() - 1);
    none.folderThere = parent && parent->folder;
    return none;
  }

  int Open(const StorePath &path, const OpenRequest &request, NodeInfo &opened,
           DWORD &error) override {
    const DWORD disposition = request.disposition;
    std::shared_ptr<Node> parent = Find(path, path.parts.size() - 1);
    if (!parent || !parent->folder) {
      error = ERROR_PATH_NOT_FOUND;
      return -1;
    }
    auto it = parent->children.find(path.parts.back());
    std::shared_ptr<Node> node = it == parent->children.end() ? nullptr : it->second;
    if (node && node->folder) {
      error = ERROR_ACCESS_DENIED;
      return -1;
    }
    if (node && disposition == CREATE_NEW) {
      error = ERROR_FILE_EXISTS;
      return -1;
    }
    const bool made = !node;
    if (!node) {
      if (disposition == OPEN_EXISTING) {
        error = ERROR_FILE_NOT_FOUND;
        return -1;
      }
      node = std::make_shared<Node>();
      node->modified = time(nullptr);
      parent->children[path.parts.back()] = node;
    }
    // Admitted or refused before a CREATE_ALWAYS empties the file.
    DWORD refused = request.refusal ? request.refusal(InfoOf(*node)) : 0;
    if (refused) {
      error = refused;
      return -1;
    }
    if (disposition == CREATE_ALWAYS) node->bytes.clear();
    int id = nextId_++;
    open_[id] = OpenFile{node, 0, request.write};
    opened = InfoOf(*node);
    opened.made = made;
    return id;
  }

  long long Read(int id, void *buffer, size_t count, DWORD &error) override {
    OpenFile *f = Lookup(id, error);
    if (!f) return -1;
    const std::string &bytes = f->node->bytes;
    if (f->position >= bytes.size()) return 0;
    size_t n = std::min<size_t>(count, bytes.size() - size_t(f->position));
    bytes.copy(static_cast<char *>(buffer), n, size_t(f->position));
    f->position += n;
    return (long long)n;
  }

  long long Write(int id, const void *buffer, size_t count, DWORD &error) override {
    OpenFile *f = Lookup(id, error);
    if (!f) return -1;
    std::string &bytes = f->node->bytes;
    if (bytes.size() < f->position + count) bytes.resize(size_t(f->position + count));
    bytes.replace(size_t(f->position), count, static_cast<const char *>(buffer), count);
    f->position += count;
    return (long long)count;
  }

  long long Seek(int id, long long offset, int whence) override {
    DWORD ignored;
    OpenFile *f = Lookup(id, ignored);
    if (!f) return -1;
    long long base = whence == SEEK_SET   ? 0
                     : whence == SEEK_CUR ? (long long)f->position
                                          : (long long)f->node->bytes.size();
    if (base + offset < 0) return -1;
    f->position = (unsigned long long)(base + offset);
    return base + offset;
  }

  unsigned long long Size(int id) override {
    DWORD ignored;
    OpenFile *f = Lookup(id, ignored);
    return f ? f->node->bytes.size() : 0;
  }

  void Identify(int id, unsigned long long &device, unsigned long long &inode) override {
    DWORD ignored;
    OpenFile *f = Lookup(id, ignored);
    device = 0;
    inode = f ? reinterpret_cast<uintptr_t>(f->node.get()) : 0;
  }

  bool SetModified(int id, long long seconds, long) override {
    DWORD ignored;
    OpenFile *f = Lookup(id, ignored);
    if (!f) return false;
    f->node->modified = seconds;
    return true;
  }

  void Close(int id) override { open_.erase(id); }

  DWORD MakeFolder(const StorePath &path) override {
    if (path.parts.empty()) return ERROR_ACCESS_DENIED;
    std::shared_ptr<Node> parent = Find(path, path.parts.size() - 1);
    if (!parent || !parent->folder) return ERROR_PATH_NOT_FOUND;
    if (parent->children.count(path.parts.back())) return ERROR_ALREADY_EXISTS;
    auto folder = std::make_shared<Node>();
    folder->folder = true;
    parent->children[path.parts.back()] = folder;
    return 0;
  }

  DWORD RemoveFolder(const StorePath &path) override {
    return Remove(path, [](const Node &node) -> DWORD {
      if (!node.folder) return ERROR_DIRECTORY;
      return node.children.empty() ? 0 : ERROR_DIR_NOT_EMPTY;
    });
  }

  DWORD RemoveFile(const StorePath &path) override {
    return Remove(path, [](const Node &node) -> DWORD { return node.folder ? ERROR_ACCESS_DENIED : 0; });
  }

  bool FindFirst(const StorePath &folder, const std::function<bool(const std::string &)> &matches,
                 std::string &found) override {
    std::shared_ptr<Node> node = Find(folder, folder.parts.size());
    if (!node || !node->folder) return false;
    for (const auto &child : node->children) {
      if (matches(child.first)) {
        found = child.first;
        return true;
      }
    }
    return false;
  }

 private:
  // The node of the drive's folder and the first `count` components below
  // it; the drive's folder comes into being when first named.
  std::shared_ptr<Node> Find(const StorePath &path, size_t count) {
    std::shared_ptr<Node> node = top_;
    std::string_view root = path.root;
    while (!root.empty()) {
      size_t next = root.find('/');
      std::string_view part = root.substr(0, next);
      root = next == std::string_view::npos ? std::string_view() : root.substr(next + 1);
      if (part.empty()) continue;
      auto it = node->children.find(part);
      if (it == node->children.end()) {
        auto folder = std::make_shared<Node>();
        folder->folder = true;
        it = node->children.emplace(std::string(part), folder).first;
      }
      node = it->second;
    }
    for (size_t i = 0; i < count; ++i) {
      if (!node->folder) return nullptr;
      auto it = node->children.find(path.parts[i]);
      if (it == node->children.end()) return nullptr;
      node = it->second;
    }
    return node;
  }

  DWORD Remove(const StorePath &path, DWORD (*refusal)(const Node &)) {
    if (path.parts.empty()) return ERROR_ACCESS_DENIED;
    std::shared_ptr<Node> parent = Find(path, path.parts.size() - 1);
    if (!parent || !parent->folder) return ERROR_PATH_NOT_FOUND;
    auto it = parent->children.find(path.parts.back());
    if (it == parent->children.end()) return ERROR_FILE_NOT_FOUND;
    if (DWORD refused = refusal(*it->second)) return refused;
    parent->children.erase(it);
    return 0;
  }

  OpenFile *Lookup(int id, DWORD &error) {
    auto it = open_.find(id);
    if (it == open_.end()) {
      error = ERROR_INVALID_HANDLE;
      return nullptr;
    }
    return &it->second;
  }

  std::shared_ptr<Node> top_;
  std::map<int, OpenFile> open_;
  int nextId_ = 1;
};

MemoryFiles &Memory() {
  static MemoryFiles store;
  return store;
}

}  // namespace

FileStore &MemoryStore() { return Memory(); }

void ClearMemoryStore() { Memory().Clear(); }

}  // namespace host
