// Writing the package bytes to the program file, or spread over the program
// file and its numbered parts.
#ifndef VANTREL_PACK_PACKAGE_WRITER_H
#define VANTREL_PACK_PACKAGE_WRITER_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/pending_output.h"
#include "cli/progress.h"

namespace vantrel_pack {

// The paths of the pieces a package of `totalSize` bytes split into pieces
// of `pieceSize` bytes needs (the program file first); throws PackError
// when the stub could not find or count them.
std::vector<std::string> SplitPieceNames(const std::string &output, uint64_t totalSize,
                                         uint64_t pieceSize, uint64_t firstPieceMinimum);

class PackageWriter {
 public:
  // `pieceSize` 0 writes everything to `paths[0]`.
  PackageWriter(PendingOutput &pending, const std::vector<std::string> &paths, uint64_t pieceSize);
  void Write(const void *data, size_t count);
  // Appends the whole file at `path`, reporting the bytes copied.
  void CopyFile(const std::string &path, Progress &progress);

 private:
  PendingOutput &pending_;
  const std::vector<std::string> &paths_;
  uint64_t pieceSize_;
  size_t current_ = 0;
  uint64_t usedInPiece_ = 0;
  std::FILE *file_ = nullptr;
};

}  // namespace vantrel_pack

#endif
