#include "writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/errors.h"
#include "format.h"

namespace vantrel_pack {

std::vector<std::string> SplitPieceNames(const std::string &output, uint64_t totalSize,
                                         uint64_t pieceSize, uint64_t firstPieceMinimum) {
  if (pieceSize < firstPieceMinimum) {
    throw PackError("--split " + std::to_string(pieceSize) + " is too small: the program file " +
                    "must hold the stub, header and texts (" + std::to_string(firstPieceMinimum) +
                    " bytes)");
  }
  size_t slash = output.rfind('/');
  std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
  // The stub replaces the last three characters of its own path; with a
  // shorter file name that would reach into the folder name.
  if (base.size() < 3) {
    throw PackError("the output name " + output + " is too short to number parts after it");
  }
  uint64_t numbered =
      totalSize > pieceSize ? (totalSize - pieceSize + pieceSize - 1) / pieceSize : 0;
  if (numbered > uint64_t(kLastPartNumber)) {
    throw PackError("--split " + std::to_string(pieceSize) + " would need " +
                    std::to_string(numbered) + " numbered parts; at most " +
                    std::to_string(kLastPartNumber) + " are possible");
  }
  std::vector<std::string> names = {output};
  for (int number = 1; number <= int(numbered); ++number) {
    names.push_back(PartName(output, number));
    if (names.back() == output) {
      throw PackError("part " + std::to_string(number) + " would have the name of " + output);
    }
  }
  return names;
}

PackageWriter::PackageWriter(PendingOutput &pending, const std::vector<std::string> &paths,
                             uint64_t pieceSize)
    : pending_(pending), paths_(paths), pieceSize_(pieceSize) {
  file_ = pending_.Create(paths_[0]);
}

void PackageWriter::Write(const void *data, size_t count) {
  auto *bytes = static_cast<const uint8_t *>(data);
  while (count > 0) {
    if (pieceSize_ && usedInPiece_ == pieceSize_) {
      if (current_ + 1 >= paths_.size()) throw PackError("the package outgrew its parts");
      file_ = pending_.Create(paths_[++current_]);
      usedInPiece_ = 0;
    }
    size_t now = pieceSize_ ? size_t(std::min<uint64_t>(count, pieceSize_ - usedInPiece_)) : count;
    WriteAll(file_, bytes, now, paths_[current_]);
    bytes += now;
    count -= now;
    usedInPiece_ += now;
  }
}

void PackageWriter::CopyFile(const std::string &path, Progress &progress) {
  std::unique_ptr<std::FILE, int (*)(std::FILE *)> in(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!in) throw PackError("cannot open " + path + ": " + std::strerror(errno));
  std::vector<uint8_t> buffer(1 << 16);
  size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), in.get())) > 0) {
    Write(buffer.data(), got);
    progress.AddBytes(got);
  }
  if (std::ferror(in.get())) throw PackError("cannot read " + path);
}

}  // namespace vantrel_pack
