// The archive seen as the stub sees it: local headers in file order from
// the archive's first byte, data descriptors skipped as 16 bytes, the walk
// ending at the first other record. Also the list of what the stub cannot
// handle in what it walked.
#ifndef VANTREL_PACK_ZIP_WALK_H
#define VANTREL_PACK_ZIP_WALK_H

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel_pack {

class ByteSource;

struct WalkedMember {
  uint64_t offset = 0;  // of the local header, from the start of the source
  std::string name;     // cut before the first NUL, as the stub cuts it
  std::string rawName;  // every byte of the name field
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  bool zip64 = false;        // a Zip64 extra field or a size of 0xFFFFFFFF
  bool sizeMissing = false;  // bit 3 with no compressed size where data follows
  bool crcMissing = false;   // bit 3 with a CRC of 0 for data that is not empty
  bool dataPastEnd = false;  // the member's data runs past the end of the source

  bool encrypted() const { return (flags & 1) != 0; }
  bool hasDescriptor() const { return (flags & 8) != 0; }
  bool isFolder() const;
};

struct ArchiveWalk {
  std::vector<WalkedMember> members;
  uint64_t endOffset = 0;  // where the walk stopped
  uint32_t endSignature = 0;
  bool endedAtEndOfFile = false;
  int descriptorsSkipped = 0;

  // The walk stopped at the central directory, the end record or the end of
  // the file, where a well-formed archive ends it.
  bool endedNormally() const;
  // What the walk stopped at, in words.
  std::string endDescription() const;
};

// Walks from `start` (the archive's first byte) to the end of `source`.
ArchiveWalk WalkArchive(const ByteSource &source, uint64_t start);

// One thing the stub cannot handle, naming the member. Most of them stop or
// derail the installation; too many files only leaves some behind.
struct WalkProblem {
  std::string text;
  bool stopsInstallation;
};
std::vector<WalkProblem> WalkWarnings(const ArchiveWalk &walk);

// The member name as written, with unprintable bytes escaped.
std::string DisplayName(const std::string &name);

}  // namespace vantrel_pack

#endif
