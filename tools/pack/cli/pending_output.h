// Output files written under temporary names beside their final names and
// renamed into place only when everything succeeded; whatever is still
// pending when the object goes away is deleted, so a failure never leaves
// a half-written package or part behind.
#ifndef VANTREL_PACK_CLI_PENDING_OUTPUT_H
#define VANTREL_PACK_CLI_PENDING_OUTPUT_H

#include <cstdio>
#include <string>
#include <vector>

namespace vantrel_pack {

class PendingOutput {
 public:
  PendingOutput() = default;
  ~PendingOutput();
  PendingOutput(const PendingOutput &) = delete;
  PendingOutput &operator=(const PendingOutput &) = delete;

  // Creates a temporary file beside `finalPath`, open for writing, to be
  // renamed to `finalPath` by Commit. Throws PackError.
  std::FILE *Create(const std::string &finalPath);

  // A scratch file beside `nearPath`, deleted at the end in every case.
  std::string Scratch(const std::string &nearPath);

  // Flushes the file pending for `finalPath` and returns its temporary
  // path, so that it can be read back before Commit. Throws PackError.
  std::string Flushed(const std::string &finalPath);

  // Closes every file and renames each to its final name, the first one
  // created last (a complete program file implies complete parts).
  void Commit();

 private:
  struct Entry {
    std::string temporaryPath;
    std::string finalPath;
    std::FILE *file;
  };
  std::vector<Entry> entries_;
  std::vector<std::string> scratch_;
};

// Writes all bytes or throws PackError naming `path`.
void WriteAll(std::FILE *file, const void *data, size_t count, const std::string &path);

}  // namespace vantrel_pack

#endif
