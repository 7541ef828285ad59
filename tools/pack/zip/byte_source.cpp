#include "byte_source.h"

#include <unistd.h>

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
  window_.clear();
  return true;
}

size_t PieceSet::ReadPieces(uint64_t offset, uint8_t *out, size_t count) const {
  size_t done = 0;
  for (const Piece &piece : pieces_) {
    if (done == count) break;
    uint64_t position = offset + done;
    if (position >= piece.start + piece.size || position < piece.start) continue;
    uint64_t within = position - piece.start;
    size_t want = size_t(std::min<uint64_t>(count - done, piece.size - within));
    size_t got = 0;
    while (got < want) {
      ssize_t n = pread(fileno(piece.file), out + done + got, want - got, off_t(within + got));
      if (n <= 0) break;
      got += size_t(n);
    }
    done += got;
    if (got < want) break;
  }
  return done;
}

size_t PieceSet::Read(uint64_t offset, void *buffer, size_t count) const {
  const size_t kWindow = 65536;
  auto *out = static_cast<uint8_t *>(buffer);
  if (count == 0) return 0;
  if (count >= kWindow) return ReadPieces(offset, out, count);
  if (offset < windowStart_ || offset + count > windowStart_ + window_.size()) {
    window_.resize(kWindow);
    window_.resize(ReadPieces(offset, window_.data(), kWindow));
    windowStart_ = offset;
  }
  size_t n = std::min<uint64_t>(count, windowStart_ + window_.size() - offset);
  std::copy_n(window_.data() + (offset - windowStart_), n, out);
  return n;
}

}  // namespace vantrel_pack
