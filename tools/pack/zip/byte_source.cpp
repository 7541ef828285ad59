#include "byte_source.h"

#include <algorithm>

namespace vantrel_pack {

std::vector<uint8_t> ByteSource::ReadBytes(uint64_t offset, size_t count) const {
  std::vector<uint8_t> bytes(count);
  bytes.resize(Read(offset, bytes.data(), count));
  return bytes;
}

PieceSet::~PieceSet() {
  for (const Piece &piece : pieces_) std::fclose(piece.file);
}

bool PieceSet::AddFile(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  if (fseeko(file, 0, SEEK_END) != 0) {
    std::fclose(file);
    return false;
  }
  off_t end = ftello(file);
  if (end < 0) {
    std::fclose(file);
    return false;
  }
  pieces_.push_back(Piece{path, size_, uint64_t(end), file});
  size_ += uint64_t(end);
  return true;
}

size_t PieceSet::Read(uint64_t offset, void *buffer, size_t count) const {
  size_t done = 0;
  auto *out = static_cast<uint8_t *>(buffer);
  for (const Piece &piece : pieces_) {
    if (done == count) break;
    uint64_t position = offset + done;
    if (position >= piece.start + piece.size || position < piece.start) continue;
    uint64_t within = position - piece.start;
    size_t want = size_t(std::min<uint64_t>(count - done, piece.size - within));
    if (fseeko(piece.file, off_t(within), SEEK_SET) != 0) break;
    size_t got = std::fread(out + done, 1, want, piece.file);
    done += got;
    if (got < want) break;
  }
  return done;
}

}  // namespace vantrel_pack
