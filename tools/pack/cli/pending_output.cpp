#include "pending_output.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "errors.h"

namespace vantrel_pack {
namespace {

std::string Folder(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + (slash == 0));
}

std::string BaseName(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Opens a new uniquely named file in the folder of `nearPath`.
std::FILE *OpenUnique(const std::string &nearPath, std::string &created) {
  std::string pattern = Folder(nearPath) + "/." + BaseName(nearPath) + ".tmp-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    throw PackError("cannot create a file beside " + nearPath + ": " + std::strerror(errno));
  }
  created = name.data();
  std::FILE *file = fdopen(fd, "w+b");
  if (!file) {
    close(fd);
    unlink(created.c_str());
    throw PackError("cannot open " + created + ": " + std::strerror(errno));
  }
  return file;
}

}  // namespace

PendingOutput::~PendingOutput() {
  for (Entry &entry : entries_) {
    if (entry.file) std::fclose(entry.file);
    unlink(entry.temporaryPath.c_str());
  }
  for (const std::string &path : scratch_) unlink(path.c_str());
}

std::FILE *PendingOutput::Create(const std::string &finalPath) {
  Entry entry{std::string(), finalPath, nullptr};
  entry.file = OpenUnique(finalPath, entry.temporaryPath);
  entries_.push_back(entry);
  return entry.file;
}

std::string PendingOutput::Scratch(const std::string &nearPath) {
  std::string created;
  std::FILE *file = OpenUnique(nearPath, created);
  std::fclose(file);
  scratch_.push_back(created);
  return created;
}

std::string PendingOutput::Flushed(const std::string &finalPath) {
  for (Entry &entry : entries_) {
    if (entry.finalPath != finalPath) continue;
    if (std::fflush(entry.file) != 0) {
      throw PackError("cannot write " + finalPath + ": " + std::strerror(errno));
    }
    return entry.temporaryPath;
  }
  throw PackError("nothing is being written to " + finalPath);
}

void PendingOutput::Commit() {
  for (Entry &entry : entries_) {
    int failed = std::fflush(entry.file) != 0 || fsync(fileno(entry.file)) != 0;
    failed |= std::fclose(entry.file) != 0;
    entry.file = nullptr;
    if (failed) throw PackError("cannot write " + entry.finalPath + ": " + std::strerror(errno));
    // mkstemp makes the file private; a package is an ordinary file.
    mode_t mask = umask(0);
    umask(mask);
    chmod(entry.temporaryPath.c_str(), 0666 & ~mask);
  }
  // Parts first, the program file last. A failed rename takes back the
  // parts already renamed: a package missing a piece is of no use.
  std::vector<std::string> renamed;
  for (size_t i = entries_.size(); i-- > 0;) {
    Entry &entry = entries_[i];
    if (std::rename(entry.temporaryPath.c_str(), entry.finalPath.c_str()) != 0) {
      std::string reason = std::strerror(errno);
      for (const std::string &path : renamed) unlink(path.c_str());
      throw PackError("cannot create " + entry.finalPath + ": " + reason);
    }
    renamed.push_back(entry.finalPath);
    entries_.erase(entries_.begin() + long(i));
  }
}

void WriteAll(std::FILE *file, const void *data, size_t count, const std::string &path) {
  if (count && std::fwrite(data, 1, count, file) != count) {
    throw PackError("cannot write " + path + ": " + std::strerror(errno));
  }
}

}  // namespace vantrel_pack
