// Random access to the bytes of a package, whether it lies in one file or
// in a program file followed by numbered part files.
#ifndef VANTREL_PACK_ZIP_BYTE_SOURCE_H
#define VANTREL_PACK_ZIP_BYTE_SOURCE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vantrel_pack {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Copies up to `count` bytes from `offset`; returns how many were there.
  virtual size_t Read(uint64_t offset, void *buffer, size_t count) const = 0;

  // Convenience for small reads: the bytes available, possibly fewer.
  std::vector<uint8_t> ReadBytes(uint64_t offset, size_t count) const;
};

// The little-endian number of `count` bytes at `at` of `bytes`.
inline uint32_t LittleEndian(const std::vector<uint8_t> &bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[at + size_t(i)];
  return value;
}

// Several files read as one stream, in order. Used for a single file too.
// Small reads are served from a window of bytes read ahead, so that a walk
// over thousands of headers costs a system call per window, not per
// header; like a stdio buffer, it assumes nobody writes the files while
// they are read.
class PieceSet : public ByteSource {
 public:
  PieceSet() = default;
  ~PieceSet() override;
  PieceSet(const PieceSet &) = delete;
  PieceSet &operator=(const PieceSet &) = delete;

  // Appends a file; false when it cannot be opened.
  bool AddFile(const std::string &path);

  uint64_t Size() const override { return size_; }
  size_t Read(uint64_t offset, void *buffer, size_t count) const override;

  struct Piece {
    std::string path;
    uint64_t start;
    uint64_t size;
    std::FILE *file;
  };
  const std::vector<Piece> &pieces() const { return pieces_; }

 private:
  // Reads from the files themselves, past the window.
  size_t ReadPieces(uint64_t offset, uint8_t *out, size_t count) const;

  std::vector<Piece> pieces_;
  uint64_t size_ = 0;
  mutable std::vector<uint8_t> window_;  // the bytes from windowStart_
  mutable uint64_t windowStart_ = 0;
};

}  // namespace vantrel_pack

#endif
