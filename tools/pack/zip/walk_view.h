// An archive as the stub walks it: each member the stub's own walk met
// (bridge/stub_session.h), with the bytes of its header the packer shows,
// and where the walk ended. Also what the stub cannot handle in it, named
// member by member: the stub's own verdicts, and what the zip format tells
// of members that would fail once extracted.
#ifndef VANTREL_PACK_ZIP_WALK_VIEW_H
#define VANTREL_PACK_ZIP_WALK_VIEW_H

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/stub_session.h"

namespace vantrel_pack {

class ByteSource;

struct WalkedMember {
  uint64_t offset = 0;  // of the local header, from the start of the source
  std::string name;     // as the stub takes it (cut before the first NUL)
  std::string rawName;  // every byte of the name field there is
  uint16_t nameLength = 0;
  uint16_t extraLength = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint32_t compressedSize = 0;
  uint32_t uncompressedSize = 0;
  MemberVerdict verdict = kMemberListed;  // the stub's
  uint64_t next = 0;         // where the stub looks for the next record (0: nowhere)
  bool zip64 = false;        // a Zip64 extra field or a size of 0xFFFFFFFF
  bool dataPastEnd = false;  // the member's data runs past the end of the source

  bool encrypted() const { return (flags & 1) != 0; }
  bool hasDescriptor() const { return (flags & 8) != 0; }
  bool isFolder() const;
};

struct ArchiveWalk {
  std::vector<WalkedMember> members;
  bool ranOut = false;  // the walk ran out of members (else one stopped it)
  WalkEnd end = kWalkEndAtRecord;
  uint64_t endOffset = 0;
  uint32_t endSignature = 0;
  bool endedAtEndOfFile = false;
  bool fatal = false;  // the stub ended its process during the walk

  // The walk ended on a zip record or the end of the file, as it should.
  bool endedNormally() const { return ranOut && end == kWalkEndAtRecord; }
  // What the walk stopped at, in words.
  std::string endDescription() const;
};

// One member of a stub's walk over the bytes it walked.
WalkedMember ViewMember(const ByteSource &source, const StubMember &member);

// The stub's walk `walk` over the bytes it walked.
ArchiveWalk ViewWalk(const ByteSource &source, const StubWalk &walk);

// The stub's listing walk of the zip archive in the file `path` (from its
// first byte), whose bytes `source` reads.
ArchiveWalk WalkZipFile(const std::string &path, const ByteSource &source);

// One thing the stub cannot handle, naming the member. Most of them stop or
// derail the installation; too many files only leaves some behind.
struct WalkProblem {
  std::string text;
  bool stopsInstallation;
};
std::vector<WalkProblem> WalkWarnings(const ArchiveWalk &walk);

// Why the stub's extraction walk `walk` failed: each member it refused or
// skipped, named, and an archive without members or a walk derailed.
std::vector<std::string> ExtractionFailures(const ArchiveWalk &walk);

// "member 3 "name"", the name escaped for display; messages name members so.
std::string MemberLabel(size_t index, const std::string &name);

// What the stub's verdict on the member means, in words ("" when it passed).
std::string VerdictText(const WalkedMember &member);

}  // namespace vantrel_pack

#endif
