// The layouts read here are Microsoft's: the PE format's resource
// directory (type, name and language levels, then a data entry holding an
// RVA), and VS_VERSIONINFO (blocks of wLength, wValueLength, wType, a
// UTF-16 key, padding to 32 bits, the value, children on 32 bits). Every
// offset is checked against the image before use: --stub may name any file.
#include "stub_resources.h"

#include <algorithm>

#include "cli/errors.h"
#include "cli/text.h"

namespace vantrel_pack {
namespace {

constexpr uint16_t kRtVersion = 16;
constexpr uint16_t kRtManifest = 24;
constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoSize = 52;
constexpr size_t kChecksumInOptionalHeader = 64;

uint32_t Read(const std::string &bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | uint8_t(bytes[at + size_t(i)]);
  return value;
}

void Write(std::string &bytes, size_t at, int count, uint32_t value) {
  for (int i = 0; i < count; ++i) bytes[at + size_t(i)] = char(value >> (8 * i));
}

bool Fits(const std::string &bytes, size_t at, size_t count) {
  return at <= bytes.size() && count <= bytes.size() - at;
}

size_t Align4(size_t value) { return (value + 3) & ~size_t(3); }

// Where a resource's bytes lie in the file.
struct Span {
  size_t offset = 0;
  size_t size = 0;
};

// The PE header's offset, or 0 when the image has none.
size_t PeHeader(const std::string &image) {
  if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0) return 0;
  size_t pe = Read(image, 0x3C, 4);
  if (pe == 0 || !Fits(image, pe, 24 + 96 + 16 * 8) ||
      image.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
    return 0;
  }
  return pe;
}

class ResourceFinder {
 public:
  explicit ResourceFinder(const std::string &image) : image_(image) {
    size_t pe = PeHeader(image);
    if (!pe) return;
    size_t optional = pe + 24;
    size_t optionalSize = Read(image, pe + 20, 2);
    unsigned magic = Read(image, optional, 2);
    size_t directories = optional + (magic == 0x20B ? 112 : 96);
    if (!Fits(image, directories, 3 * 8)) return;
    uint32_t rva = Read(image, directories + 2 * 8, 4);
    sections_ = optional + optionalSize;
    sectionCount_ = Read(image, pe + 6, 2);
    if (!rva || !Offset(rva, 16, base_)) return;
    valid_ = true;
  }

  // The first language of resource `type`/`id`.
  bool Find(uint16_t type, uint16_t id, Span &span) const {
    size_t names, languages, leaf;
    if (!valid_ || !Entry(base_, type, false, names) || !Entry(names, id, false, languages) ||
        !Entry(languages, 0, true, leaf) || !Fits(image_, leaf, 16)) {
      return false;
    }
    span.size = Read(image_, leaf + 4, 4);
    return Offset(Read(image_, leaf, 4), span.size, span.offset);
  }

 private:
  // The file offset of `size` bytes at `rva`, all within one section's data.
  bool Offset(uint32_t rva, size_t size, size_t &offset) const {
    for (size_t i = 0; i < sectionCount_; ++i) {
      size_t header = sections_ + 40 * i;
      if (!Fits(image_, header, 40)) return false;
      uint32_t va = Read(image_, header + 12, 4);
      uint32_t rawSize = Read(image_, header + 16, 4);
      uint32_t raw = Read(image_, header + 20, 4);
      if (rva < va || rva - va >= rawSize) continue;
      if (size > rawSize - (rva - va)) return false;
      offset = size_t(raw) + (rva - va);
      return Fits(image_, offset, size);
    }
    return false;
  }

  // The entry of the directory at `directory` whose id is `id` (or its
  // first entry), and what it points to: a directory, or with `leaf` a
  // data entry.
  bool Entry(size_t directory, uint16_t id, bool first, size_t &target) const {
    if (!Fits(image_, directory, 16)) return false;
    size_t count = Read(image_, directory + 12, 2) + Read(image_, directory + 14, 2);
    for (size_t i = 0; i < count; ++i) {
      size_t entry = directory + 16 + 8 * i;
      if (!Fits(image_, entry, 8)) return false;
      uint32_t name = Read(image_, entry, 4);
      uint32_t data = Read(image_, entry + 4, 4);
      if (!first && name != id) continue;
      // Types and names point to directories, languages to data entries.
      if (bool(data & 0x80000000u) == first) return false;
      target = base_ + (data & 0x7FFFFFFFu);
      return true;
    }
    return false;
  }

  const std::string &image_;
  bool valid_ = false;
  size_t base_ = 0;
  size_t sections_ = 0;
  size_t sectionCount_ = 0;
};

// ---- the manifest -----------------------------------------------------------

// The room of the level in the manifest: from the first character of the
// level's value to the end of the element's attributes.
struct LevelRoom {
  size_t start = 0;     // file offset of the value
  size_t valueEnd = 0;  // its closing quote
  size_t end = 0;       // where "/>" or ">" begins
};

bool FindLevelRoom(const std::string &image, LevelRoom &room) {
  Span span;
  if (!ResourceFinder(image).Find(kRtManifest, 1, span)) return false;
  const std::string text = image.substr(span.offset, span.size);
  size_t element = text.find("<requestedExecutionLevel");
  if (element == std::string::npos) return false;
  size_t close = text.find('>', element);
  size_t level = text.find(" level=\"", element);
  if (close == std::string::npos || level == std::string::npos || level > close) return false;
  size_t start = level + 8;
  size_t quote = text.find('"', start);
  if (quote == std::string::npos || quote > close) return false;
  if (text[close - 1] == '/') --close;
  room.start = span.offset + start;
  room.valueEnd = span.offset + quote;
  room.end = span.offset + close;
  return true;
}

std::string Trimmed(const std::string &text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// ---- the version information ---------------------------------------------

struct Block {
  size_t start = 0;   // file offset
  size_t length = 0;  // wLength
  size_t valueLength = 0;
  bool text = false;
  std::string key;   // UTF-8
  size_t value = 0;  // file offset of the value
  size_t end() const { return start + length; }
};

// The block at `at` within `resource`; false when it does not fit.
bool ReadBlock(const std::string &image, const Span &resource, size_t at, Block &block) {
  const size_t limit = resource.offset + resource.size;
  if (at + 6 > limit) return false;
  block.start = at;
  block.length = Read(image, at, 2);
  block.valueLength = Read(image, at + 2, 2);
  block.text = Read(image, at + 4, 2) == 1;
  if (block.length < 6 || block.end() > limit) return false;
  size_t key = at + 6;
  std::string utf16;
  while (key + 2 <= block.end() && Read(image, key, 2) != 0) {
    utf16 += image.substr(key, 2);
    key += 2;
  }
  if (key + 2 > block.end()) return false;
  block.key = FromUtf16(utf16);
  block.value = resource.offset + Align4(key + 2 - resource.offset);
  return block.value <= block.end();
}

std::vector<Block> Children(const std::string &image, const Span &resource, const Block &parent) {
  size_t valueBytes = parent.text ? 2 * parent.valueLength : parent.valueLength;
  size_t at = resource.offset + Align4(parent.value + valueBytes - resource.offset);
  std::vector<Block> children;
  Block child;
  while (at < parent.end() && ReadBlock(image, resource, at, child) &&
         child.end() <= parent.end()) {
    children.push_back(child);
    at = resource.offset + Align4(child.end() - resource.offset);
  }
  return children;
}

// The version resource's root, its fixed part, and the String blocks of its
// first string table.
struct VersionLayout {
  size_t fixed = 0;
  std::vector<Block> strings;
};

bool FindVersionLayout(const std::string &image, VersionLayout &layout) {
  Span span;
  Block root;
  if (!ResourceFinder(image).Find(kRtVersion, 1, span) ||
      !ReadBlock(image, span, span.offset, root) || root.key != "VS_VERSION_INFO" ||
      root.valueLength < kFixedInfoSize || root.value + kFixedInfoSize > root.end() ||
      Read(image, root.value, 4) != kFixedSignature) {
    return false;
  }
  layout.fixed = root.value;
  for (const Block &child : Children(image, span, root)) {
    if (child.key != "StringFileInfo") continue;
    std::vector<Block> tables = Children(image, span, child);
    if (tables.empty()) return false;
    for (const Block &string : Children(image, span, tables[0])) {
      if (string.text) layout.strings.push_back(string);
    }
    return true;
  }
  return true;
}

// UTF-16 code units the slot of `string` holds, its final zero included.
size_t SlotUnits(const Block &string) { return (string.end() - string.value) / 2; }

std::array<uint16_t, 4> Numbers(const std::string &image, size_t at) {
  uint32_t high = Read(image, at, 4), low = Read(image, at + 4, 4);
  return {uint16_t(high >> 16), uint16_t(high), uint16_t(low >> 16), uint16_t(low)};
}

void WriteNumbers(std::string &image, size_t at, const std::array<uint16_t, 4> &numbers) {
  Write(image, at, 4, uint32_t(numbers[0]) << 16 | numbers[1]);
  Write(image, at + 4, 4, uint32_t(numbers[2]) << 16 | numbers[3]);
}

}  // namespace

const char *const kExecutionLevels[3] = {"asInvoker", "highestAvailable", "requireAdministrator"};

bool IsExecutionLevel(const std::string &level) {
  for (const char *known : kExecutionLevels) {
    if (level == known) return true;
  }
  return false;
}

std::optional<std::string> ReadExecutionLevel(const std::string &image) {
  LevelRoom room;
  if (!FindLevelRoom(image, room)) return std::nullopt;
  return image.substr(room.start, room.valueEnd - room.start);
}

void WriteExecutionLevel(std::string &image, const std::string &level) {
  LevelRoom room;
  if (!FindLevelRoom(image, room)) {
    throw PackError("the stub has no manifest with an execution level to set");
  }
  const size_t size = room.end - room.start;
  std::string rest = Trimmed(image.substr(room.valueEnd + 1, room.end - room.valueEnd - 1));
  std::string text = level + "\"" + (rest.empty() ? "" : " " + rest);
  if (text.size() > size && rest == "uiAccess=\"false\"") text = level + "\"";
  if (text.size() > size) {
    throw PackError("the stub's manifest has no room for the execution level " + level);
  }
  image.replace(room.start, size, text + std::string(size - text.size(), ' '));
}

const VersionString *VersionInfo::Find(const std::string &key) const {
  for (const VersionString &string : strings) {
    if (string.key == key) return &string;
  }
  return nullptr;
}

std::optional<VersionInfo> ReadVersionInfo(const std::string &image) {
  VersionLayout layout;
  if (!FindVersionLayout(image, layout)) return std::nullopt;
  VersionInfo info;
  info.fileVersion = Numbers(image, layout.fixed + 8);
  info.productVersion = Numbers(image, layout.fixed + 16);
  for (const Block &block : layout.strings) {
    size_t units = std::min(block.valueLength, SlotUnits(block));
    std::string utf16 = image.substr(block.value, 2 * units);
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
      if (utf16[i] == 0 && utf16[i + 1] == 0) {
        utf16.resize(i);
        break;
      }
    }
    info.strings.push_back({block.key, FromUtf16(utf16), SlotUnits(block) - 1});
  }
  return info;
}

void WriteVersionInfo(std::string &image, const VersionInfo &info,
                      const std::function<std::string(const std::string &key)> &describe) {
  VersionLayout layout;
  if (!FindVersionLayout(image, layout)) {
    throw PackError("the stub has no version information to fill in");
  }
  for (const VersionString &string : info.strings) {
    const Block *slot = nullptr;
    for (const Block &block : layout.strings) {
      if (block.key == string.key) slot = &block;
    }
    if (!slot) throw PackError("the stub's version information has no " + string.key);
    const std::string what = describe(string.key);
    std::string utf16 = ToUtf16(string.value, what);
    const size_t units = utf16.size() / 2, longest = SlotUnits(*slot) - 1;
    if (units > longest) {
      throw PackError(what + " is " + std::to_string(units) +
                      " UTF-16 characters long; the stub's slot for " + string.key +
                      " holds at most " + std::to_string(longest));
    }
    utf16.append(2 * (longest + 1) - utf16.size(), '\0');
    image.replace(slot->value, utf16.size(), utf16);
    Write(image, slot->start + 2, 2, uint32_t(units + 1));
  }
  WriteNumbers(image, layout.fixed + 8, info.fileVersion);
  WriteNumbers(image, layout.fixed + 16, info.productVersion);
}

std::optional<std::array<uint16_t, 4>> ParseVersionNumbers(const std::string &text) {
  std::array<uint16_t, 4> numbers{};
  size_t count = 0, at = 0;
  while (count < 4) {
    size_t end = text.find('.', at);
    std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (part.empty() || part.size() > 5 ||
        part.find_first_not_of("0123456789") != std::string::npos || std::stoul(part) > 65535) {
      return std::nullopt;
    }
    numbers[count++] = uint16_t(std::stoul(part));
    if (end == std::string::npos) return numbers;
    at = end + 1;
  }
  return std::nullopt;
}

std::string VersionNumbersText(const std::array<uint16_t, 4> &numbers) {
  return std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
         std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
}

void UpdateImageChecksum(std::string &image) {
  size_t pe = PeHeader(image);
  if (!pe) return;
  const size_t field = pe + 24 + kChecksumInOptionalHeader;
  Write(image, field, 4, 0);  // the field counts as zero
  uint64_t sum = 0;
  for (size_t at = 0; at < image.size(); at += 2) {
    uint32_t word = uint8_t(image[at]);
    if (at + 1 < image.size()) word |= uint32_t(uint8_t(image[at + 1])) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  Write(image, field, 4, uint32_t(sum + image.size()));
}

std::string WithoutPackageResources(std::string image) {
  LevelRoom room;
  if (FindLevelRoom(image, room)) {
    image.replace(room.start, room.end - room.start, room.end - room.start, ' ');
  }
  VersionLayout layout;
  if (FindVersionLayout(image, layout)) {
    for (const Block &block : layout.strings) {
      image.replace(block.value, block.end() - block.value, block.end() - block.value, '\0');
      Write(image, block.start + 2, 2, 0);
    }
    WriteNumbers(image, layout.fixed + 8, {});
    WriteNumbers(image, layout.fixed + 16, {});
  }
  return image;
}

}  // namespace vantrel_pack
