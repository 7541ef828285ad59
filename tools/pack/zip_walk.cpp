#include "zip_walk.h"

#include <cstdio>

#include "archive/walker.h"
#include "archive/member_names.h"
#include "byte_source.h"
#include "package_format.h"
#include "startup/package.h"
#include "zip_records.h"

namespace vantrel_pack {
namespace {

constexpr uint64_t kLocalHeaderSize = 30;
// The stub reads a name into a buffer of this size and refuses longer ones.
constexpr size_t kNameBufferSize = 258;

bool HasZip64Extra(const std::vector<uint8_t> &extra) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    uint32_t id = LittleEndian(extra, at, 2);
    uint32_t length = LittleEndian(extra, at + 2, 2);
    if (id == 0x0001) return true;
    at += 4 + length;
  }
  return false;
}

bool IsRecordSignature(uint32_t signature) {
  return signature == kLocalHeaderSignature || signature == kOddLocalHeaderSignature ||
         signature == kDescriptorSignature || signature == kCentralHeaderSignature ||
         signature == kEndRecordSignature || signature == kZip64EndRecordSignature;
}

WalkedMember ReadMember(const ByteSource &source, uint64_t offset,
                        const std::vector<uint8_t> &header) {
  WalkedMember m;
  m.offset = offset;
  m.flags = uint16_t(LittleEndian(header, 6, 2));
  m.method = uint16_t(LittleEndian(header, 8, 2));
  m.dosTime = uint16_t(LittleEndian(header, 10, 2));
  m.dosDate = uint16_t(LittleEndian(header, 12, 2));
  m.crc = LittleEndian(header, 14, 4);
  m.compressedSize = LittleEndian(header, 18, 4);
  m.uncompressedSize = LittleEndian(header, 22, 4);
  m.nameLength = uint16_t(LittleEndian(header, 26, 2));
  m.extraLength = uint16_t(LittleEndian(header, 28, 2));
  std::vector<uint8_t> name = source.ReadBytes(offset + kLocalHeaderSize, m.nameLength);
  m.rawName.assign(name.begin(), name.end());
  m.name = m.rawName.substr(0, m.rawName.find('\0'));
  std::vector<uint8_t> extra =
      source.ReadBytes(offset + kLocalHeaderSize + m.nameLength, m.extraLength);
  m.zip64 =
      HasZip64Extra(extra) || m.compressedSize == 0xFFFFFFFF || m.uncompressedSize == 0xFFFFFFFF;
  uint64_t dataEnd =
      offset + kLocalHeaderSize + m.nameLength + m.extraLength + uint64_t(m.compressedSize);
  m.dataPastEnd = dataEnd > source.Size();
  // With bit 3 set an encoder may leave the sizes to the descriptor. The
  // stub trusts the local header; when it says 0 and no record follows,
  // the member's data is really there and the walk would derail.
  if (m.hasDescriptor() && m.compressedSize == 0) {
    std::vector<uint8_t> next = source.ReadBytes(dataEnd, 4);
    m.sizeMissing = next.size() == 4 && !IsRecordSignature(LittleEndian(next, 0, 4));
  }
  // The stub tests the extracted data against the local header's CRC; only
  // empty data has a CRC of 0.
  m.crcMissing = m.hasDescriptor() && m.crc == 0 && (m.uncompressedSize != 0 || m.sizeMissing);
  return m;
}

// The shortest temporary folder the stub can have ("C:" and its own folder
// name) and a typical one: C:\Users\<name>\AppData\Local\Temp\$Vantrel.Tmp
// with a user name of about twenty characters.
constexpr DWORD kShortestTempFolder = 2 + sizeof kTempFolderName - 1;
constexpr DWORD kTypicalTempFolder = 64;

// The member as the stub holds its header, for the stub's own rules.
LocalHeader AsLocalHeader(const WalkedMember &m) {
  LocalHeader h{};
  h.flags = m.flags;
  h.method = m.method;
  h.crc = m.crc;
  h.compressedSize = m.compressedSize;
  h.uncompressedSize = m.uncompressedSize;
  h.nameLength = m.nameLength;
  h.extraLength = m.extraLength;
  return h;
}

// The stub's own rule, so that nothing is packed that it would refuse.
bool LeavesFolder(const std::string &name) {
  return !name.empty() && !NameStaysInside(name.data(), DWORD(name.size()));
}

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

}  // namespace

bool WalkedMember::isFolder() const {
  return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

bool ArchiveWalk::endedNormally() const {
  return endedAtEndOfFile || endSignature == kCentralHeaderSignature ||
         endSignature == kEndRecordSignature;
}

std::string ArchiveWalk::endDescription() const {
  if (endedAtEndOfFile) return "the end of the file";
  if (endSignature == kCentralHeaderSignature) return "the central directory";
  if (endSignature == kEndRecordSignature) return "the end record";
  return "an unknown record (signature " + Hex32(endSignature) + ")";
}

ArchiveWalk WalkArchive(const ByteSource &source, uint64_t start) {
  ArchiveWalk walk;
  uint64_t offset = start;
  for (;;) {
    std::vector<uint8_t> header = source.ReadBytes(offset, kLocalHeaderSize);
    walk.endOffset = offset;
    if (header.size() < 4) {
      walk.endedAtEndOfFile = true;
      break;
    }
    uint32_t signature = LittleEndian(header, 0, 4);
    if (signature == kDescriptorSignature) {
      ++walk.descriptorsSkipped;
      offset += 16;
      continue;
    }
    if ((signature != kLocalHeaderSignature && signature != kOddLocalHeaderSignature) ||
        header.size() < kLocalHeaderSize) {
      walk.endSignature = signature;
      break;
    }
    WalkedMember member = ReadMember(source, offset, header);
    offset += kLocalHeaderSize + member.nameLength + member.extraLength + member.compressedSize;
    walk.members.push_back(member);
  }
  return walk;
}

std::string DisplayName(const std::string &name) {
  std::string shown;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += char(c);
    }
  }
  return shown;
}

std::vector<WalkProblem> WalkWarnings(const ArchiveWalk &walk) {
  std::vector<WalkProblem> warnings;
  auto add = [&warnings](const std::string &text, bool stops = true) {
    warnings.push_back({text, stops});
  };
  int files = 0;
  for (size_t i = 0; i < walk.members.size(); ++i) {
    const WalkedMember &m = walk.members[i];
    std::string who = "member " + std::to_string(i + 1) + " \"" + DisplayName(m.name) + "\"";
    if (m.sizeMissing) {
      add(who +
          ": the local header has no compressed size (sizes in a data "
          "descriptor only)");
    }
    if (m.crcMissing) add(who + ": the local header has no CRC (only in a data descriptor)");
    if (m.zip64) add(who + ": Zip64");
    if (m.method != 0 && m.method != 8) {
      add(who + ": compression method " + std::to_string(m.method) +
          " (only stored and deflated can be extracted)");
    }
    if (m.name.empty()) add(who + ": empty name");
    if (m.nameLength > kNameBufferSize) {
      add(who + ": name longer than " + std::to_string(kNameBufferSize) + " bytes");
    }
    if (LeavesFolder(m.name)) add(who + ": name leads outside the extraction folder or names a device");
    if (m.encrypted() && m.compressedSize < 12) {
      add(who + ": encrypted member shorter than its 12-byte encryption header");
    } else if (m.method == 8 && MemberDataBytes(AsLocalHeader(m)) <= 0) {
      add(who + ": deflated member without data (a deflate stream is never empty)");
    }
    if (!m.name.empty() && !OutputPathFits(kShortestTempFolder, m.name.data(), DWORD(m.name.size()))) {
      add(who + ": name too long for any temporary folder (Windows paths end at " +
          std::to_string(kLongestFilePath) + " characters, folders at " +
          std::to_string(kLongestFolderPath) + ")");
    } else if (!m.name.empty() &&
               !OutputPathFits(kTypicalTempFolder, m.name.data(), DWORD(m.name.size()))) {
      add(who + ": name too long for a typical temporary folder of " +
              std::to_string(kTypicalTempFolder) +
              " characters; the installation fails where the temporary folder is that long",
          false);
    }
    if (m.dataPastEnd) add(who + ": data runs past the end of the package");
    if (!m.isFolder()) ++files;
  }
  if (files > kMaxRecordedFiles) {
    add(std::to_string(files) + " files: only the first " + std::to_string(kMaxRecordedFiles) +
            " are cleaned up after installation",
        false);
  }
  if (walk.members.empty()) add("no local header at the start of the archive");
  if (!walk.endedNormally()) {
    add("the walk ends at offset " + std::to_string(walk.endOffset) +
        " on an unknown record (signature " + Hex32(walk.endSignature) +
        "); anything after it is not extracted");
  }
  return warnings;
}

}  // namespace vantrel_pack
