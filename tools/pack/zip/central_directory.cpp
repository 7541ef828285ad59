#include "central_directory.h"

#include <algorithm>

#include "bridge/stub_package.h"
#include "byte_source.h"
#include "cli/text.h"
#include "records.h"

namespace vantrel_pack {
namespace {

struct DirectoryEntry {
  std::string name;
  uint16_t flags = 0, method = 0;
  uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0, offset = 0;
};

struct Directory {
  bool found = false;
  uint64_t entries = 0;  // as the end record counts them
  std::vector<DirectoryEntry> list;
  std::string problem;
};

// Central directory offsets count from the archive's first byte, or, for an
// archive whose offsets a tool adjusted for a prefix, from the file's.
Directory ReadDirectory(const ByteSource &source, uint64_t archiveStart) {
  Directory d;
  EndRecord record = FindEndRecord(source);
  const std::vector<uint8_t> &end = record.bytes;
  if (!record.found) {
    d.problem = "there is no central directory end record";
    return d;
  }
  d.found = true;
  d.entries = LittleEndian(end, 10, 2);
  uint64_t at = LittleEndian(end, 16, 4);
  std::vector<uint8_t> first = source.ReadBytes(archiveStart + at, 4);
  if (first.size() < 4 || LittleEndian(first, 0, 4) != kCentralHeaderSignature) {
    first = source.ReadBytes(at, 4);
    if (d.entries > 0 && (first.size() < 4 || LittleEndian(first, 0, 4) != kCentralHeaderSignature)) {
      d.problem = "the end record does not point to the central directory";
      return d;
    }
  } else {
    at += archiveStart;
  }
  for (uint64_t i = 0; i < d.entries; ++i) {
    std::vector<uint8_t> h = source.ReadBytes(at, kCentralHeaderSize);
    if (h.size() < kCentralHeaderSize || LittleEndian(h, 0, 4) != kCentralHeaderSignature) {
      d.problem = "the central directory ends after " + std::to_string(i) + " of its " +
                  std::to_string(d.entries) + " entries";
      return d;
    }
    DirectoryEntry e;
    e.flags = uint16_t(LittleEndian(h, 8, 2));
    e.method = uint16_t(LittleEndian(h, 10, 2));
    e.crc = LittleEndian(h, 16, 4);
    e.compressedSize = LittleEndian(h, 20, 4);
    e.uncompressedSize = LittleEndian(h, 24, 4);
    uint32_t nameLength = LittleEndian(h, 28, 2), extraLength = LittleEndian(h, 30, 2), commentLength = LittleEndian(h, 32, 2);
    e.offset = LittleEndian(h, 42, 4);
    std::vector<uint8_t> name = source.ReadBytes(at + kCentralHeaderSize, nameLength);
    e.name.assign(name.begin(), name.end());
    d.list.push_back(e);
    at += kCentralHeaderSize + nameLength + extraLength + commentLength;
  }
  return d;
}

// The fields of one member on which the two must agree.
void Compare(size_t i, const WalkedMember &m, const DirectoryEntry &e, uint64_t archiveStart,
             std::vector<std::string> &out) {
  std::string who = MemberLabel(i, m.rawName);
  auto differ = [&](const char *field, uint64_t local, uint64_t central) {
    out.push_back(who + ": the central directory gives another " + field + " (" +
                  std::to_string(central) + ") than the local header (" + std::to_string(local) +
                  ")");
  };
  if (e.name != m.rawName) {
    out.push_back(who + ": the central directory names it " + Quoted(e.name, Escape::kControls));
  }
  uint64_t relative = m.offset - archiveStart;
  if (e.offset != relative && e.offset != m.offset) differ("offset", relative, e.offset);
  if (e.flags != m.flags) differ("flags", m.flags, e.flags);
  if (e.method != m.method) differ("method", m.method, e.method);
  // A streamed member may leave its CRC and sizes to the data descriptor;
  // what the local header does give must agree.
  bool streamed = m.hasDescriptor();
  if (e.crc != m.crc && !(streamed && m.crc == 0)) differ("CRC", m.crc, e.crc);
  if (e.compressedSize != m.compressedSize && !(streamed && m.compressedSize == 0)) {
    differ("compressed size", m.compressedSize, e.compressedSize);
  }
  if (e.uncompressedSize != m.uncompressedSize && !(streamed && m.uncompressedSize == 0)) {
    differ("uncompressed size", m.uncompressedSize, e.uncompressedSize);
  }
}

}  // namespace

EndRecord FindEndRecord(const ByteSource &source) {
  EndRecord record;
  uint64_t size = source.Size();
  uint64_t window = std::min<uint64_t>(size, uint64_t(kMaxEndWindow));
  std::vector<uint8_t> tail = source.ReadBytes(size - window, size_t(window));
  if (tail.size() < size_t(kEndRecordSize)) return record;
  for (size_t i = tail.size() - size_t(kEndRecordSize) + 1; i-- > 0;) {
    if (LittleEndian(tail, i, 4) != kEndRecordSignature) continue;
    record.found = true;
    record.bytes.assign(tail.begin() + long(i), tail.begin() + long(i + size_t(kEndRecordSize)));
    record.zip64 = LittleEndian(tail, i + 10, 2) == 0xFFFF ||
                   LittleEndian(tail, i + 12, 4) == 0xFFFFFFFF ||
                   LittleEndian(tail, i + 16, 4) == 0xFFFFFFFF ||
                   (i >= 20 && LittleEndian(tail, i - 20, 4) == kZip64LocatorSignature);
    return record;
  }
  return record;
}

std::vector<std::string> DirectoryNames(const ByteSource &source, uint64_t archiveStart) {
  std::vector<std::string> names;
  for (const DirectoryEntry &entry : ReadDirectory(source, archiveStart).list) {
    names.push_back(entry.name);
  }
  return names;
}

std::vector<std::string> DirectoryDisagreements(const ByteSource &source, uint64_t archiveStart,
                                                const ArchiveWalk &walk) {
  std::vector<std::string> out;
  Directory d = ReadDirectory(source, archiveStart);
  if (!d.problem.empty()) {
    out.push_back(d.problem);
    return out;
  }
  if (d.entries != walk.members.size()) {
    out.push_back("the central directory lists " + std::to_string(d.entries) +
                  " members, the walk of local headers finds " +
                  std::to_string(walk.members.size()));
  }
  size_t common = std::min(d.list.size(), walk.members.size());
  for (size_t i = 0; i < common; ++i) Compare(i, walk.members[i], d.list[i], archiveStart, out);
  return out;
}

}  // namespace vantrel_pack
