#include "utf8_names.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "byte_source.h"
#include "central_directory.h"
#include "cli/errors.h"
#include "cli/pending_output.h"
#include "cli/text.h"
#include "records.h"

namespace vantrel_pack {
namespace {

bool IsAscii(const std::string &text) {
  for (unsigned char c : text) {
    if (c > 127) return false;
  }
  return true;
}

void Patch(std::vector<uint8_t> &bytes, size_t at, uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes[at + size_t(i)] = uint8_t(value >> (8 * i));
}

struct FileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

class Output {
 public:
  explicit Output(const std::string &path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) throw PackError("cannot write " + path);
  }
  void Write(const std::vector<uint8_t> &bytes) {
    WriteAll(file_.get(), bytes.data(), bytes.size(), path_);
    written_ += bytes.size();
  }
  void Write(const std::string &text) { Write(std::vector<uint8_t>(text.begin(), text.end())); }
  // Copies `count` bytes of `source` from `offset`.
  void Copy(const ByteSource &source, uint64_t offset, uint64_t count) {
    std::vector<uint8_t> buffer(1 << 16);
    while (count) {
      size_t chunk = size_t(std::min<uint64_t>(count, buffer.size()));
      if (source.Read(offset, buffer.data(), chunk) != chunk) {
        throw PackError("the archive ended early while its names were rewritten");
      }
      WriteAll(file_.get(), buffer.data(), chunk, path_);
      written_ += chunk;
      offset += chunk;
      count -= chunk;
    }
  }
  uint64_t Written() const { return written_; }
  void Close() {
    if (std::fclose(file_.release()) != 0) throw PackError("cannot write " + path_);
  }

 private:
  std::string path_;
  std::unique_ptr<std::FILE, FileCloser> file_;
  uint64_t written_ = 0;
};

// Well-formed UTF-8 with at least one sequence beyond ASCII: no stray
// continuation byte, no overlong form, nothing above U+10FFFF.
bool ReadsAsUtf8(const std::string &text) {
  bool beyondAscii = false;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                                  : c >= 0xF0 && c <= 0xF4                             ? 4
                                                                                       : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    unsigned char second = length > 1 ? static_cast<unsigned char>(text[i + 1]) : 0;
    if ((c == 0xE0 && second < 0xA0) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second > 0x8F)) {
      return false;
    }
    beyondAscii = beyondAscii || length > 1;
    i += length;
  }
  return beyondAscii;
}

}  // namespace

std::string UnmarkedUtf8Name(const ArchiveWalk &walk) {
  for (const WalkedMember &member : walk.members) {
    if (!(member.flags & kUtf8NameFlag) && ReadsAsUtf8(member.rawName)) return member.rawName;
  }
  return "";
}

bool HasUtf8Names(const ArchiveWalk &walk) {
  for (const WalkedMember &member : walk.members) {
    if ((member.flags & kUtf8NameFlag) && !IsAscii(member.rawName)) return true;
  }
  return false;
}

std::vector<std::string> CodePageNames(const ArchiveWalk &walk, int codePage,
                                       bool unmarkedToo) {
  std::vector<std::string> names;
  for (size_t i = 0; i < walk.members.size(); ++i) {
    const WalkedMember &member = walk.members[i];
    const bool utf8 = (member.flags & kUtf8NameFlag) || (unmarkedToo && ReadsAsUtf8(member.rawName));
    if (!utf8 || IsAscii(member.rawName)) {
      names.push_back(member.rawName);
      continue;
    }
    try {
      names.push_back(
          ToCodePage(member.rawName, codePage, "the member \"" + member.rawName + "\""));
    } catch (const PackError &e) {
      throw PackError(std::string(e.what()) +
                      "; the stub creates names in the package's code page: choose the one "
                      "the names are written in with --codepage (932 for Japanese, for "
                      "instance), or rename the file");
    }
  }
  return names;
}

void WriteRenamedZip(const ByteSource &source, const ArchiveWalk &walk,
                     const std::vector<std::string> &names, const std::string &outPath) {
  EndRecord end = FindEndRecord(source);
  if (!end.found || walk.members.empty() || walk.members[0].offset != 0) {
    throw PackError("the archive's names cannot be rewritten: it does not start with a member");
  }
  const uint64_t directoryStart = LittleEndian(end.bytes, 16, 4);
  const uint64_t directorySize = LittleEndian(end.bytes, 12, 4);
  Output out(outPath);
  std::vector<uint64_t> offsets;
  uint32_t kept = 0;
  for (size_t i = 0; i < walk.members.size(); ++i) {
    const WalkedMember &m = walk.members[i];
    offsets.push_back(out.Written());
    if (names[i].empty()) continue;
    ++kept;
    std::vector<uint8_t> header = source.ReadBytes(m.offset, size_t(kLocalHeaderSize));
    if (header.size() != kLocalHeaderSize) throw PackError("the archive ended in a local header");
    Patch(header, 6, m.flags & ~kUtf8NameFlag, 2);
    Patch(header, 26, uint32_t(names[i].size()), 2);
    out.Write(header);
    out.Write(names[i]);
    // The extra field, the data and any data descriptor, up to the next
    // member or the central directory.
    uint64_t from = m.offset + kLocalHeaderSize + m.nameLength;
    uint64_t to = i + 1 < walk.members.size() ? walk.members[i + 1].offset : directoryStart;
    if (to < from) throw PackError("the archive's members overlap");
    out.Copy(source, from, to - from);
  }
  const uint64_t newDirectoryStart = out.Written();
  uint64_t at = directoryStart;
  for (size_t i = 0; i < walk.members.size(); ++i) {
    std::vector<uint8_t> header = source.ReadBytes(at, size_t(kCentralHeaderSize));
    if (header.size() != kCentralHeaderSize ||
        LittleEndian(header, 0, 4) != kCentralHeaderSignature) {
      throw PackError("the archive's central directory ends early");
    }
    uint32_t nameLength = LittleEndian(header, 28, 2);
    uint32_t rest = LittleEndian(header, 30, 2) + LittleEndian(header, 32, 2);
    const uint64_t next = at + kCentralHeaderSize + nameLength + rest;
    if (names[i].empty()) {
      at = next;
      continue;
    }
    Patch(header, 8, LittleEndian(header, 8, 2) & ~kUtf8NameFlag, 2);
    Patch(header, 28, uint32_t(names[i].size()), 2);
    Patch(header, 42, uint32_t(offsets[i]), 4);
    out.Write(header);
    out.Write(names[i]);
    out.Copy(source, at + kCentralHeaderSize + nameLength, rest);
    at = next;
  }
  if (at - directoryStart != directorySize) {
    throw PackError("the archive's central directory is not the size its end record gives");
  }
  std::vector<uint8_t> record = end.bytes;
  Patch(record, 8, kept, 2);   // the entries on this disk
  Patch(record, 10, kept, 2);  // and in all
  Patch(record, 12, uint32_t(out.Written() - newDirectoryStart), 4);
  Patch(record, 16, uint32_t(newDirectoryStart), 4);
  Patch(record, 20, 0, 2);  // the archive's comment is left out
  out.Write(record);
  out.Close();
}

}  // namespace vantrel_pack
