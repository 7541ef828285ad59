// The archive's own table of contents, the central directory, and whether
// the stub's walk of local headers finds the same members in it. Zip tools
// list and test an archive by its central directory; the stub extracts by
// its local headers. An archive on which the two disagree shows one set of
// files and installs another, so it is refused.
#ifndef VANTREL_PACK_ZIP_CENTRAL_DIRECTORY_H
#define VANTREL_PACK_ZIP_CENTRAL_DIRECTORY_H

#include <cstdint>
#include <string>
#include <vector>

#include "walk_view.h"

namespace vantrel_pack {

class ByteSource;

// The end record nearest the end of the file, where readers look for it.
struct EndRecord {
  bool found = false;
  std::vector<uint8_t> bytes;  // its 22 bytes, without the comment
  bool zip64 = false;          // Zip64 marks or a Zip64 locator in front of it
};
EndRecord FindEndRecord(const ByteSource &source);

// The names the central directory lists, in its order, as zip tools show
// the archive that starts at `archiveStart`; empty when there is none.
std::vector<std::string> DirectoryNames(const ByteSource &source, uint64_t archiveStart);

// Each way the central directory of the archive that starts at
// `archiveStart` differs from `walk`, the stub's walk of that archive,
// naming the member and the field; empty when they agree member for member
// (names, local header offsets, sizes, CRCs, flags and methods).
std::vector<std::string> DirectoryDisagreements(const ByteSource &source, uint64_t archiveStart,
                                                const ArchiveWalk &walk);

}  // namespace vantrel_pack

#endif
