// The package appended to the stub: the fixed header, the five texts and
// the part naming, shared by every command that writes or reads packages.
// How the stub judges a package is the stub's own code (package_reader.h).
#ifndef VANTREL_PACK_PACKAGE_FORMAT_H
#define VANTREL_PACK_PACKAGE_FORMAT_H

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel_pack {

// The stub image size, which is also the offset of the header.
constexpr uint64_t kStubSize = 35328;
constexpr uint64_t kFixedHeaderSize = 25;
constexpr uint64_t kTextsOffset = kStubSize + kFixedHeaderSize;
// The stub's package file positions are signed 32-bit.
constexpr uint64_t kMaxPackageSize = 0x7FFFFFFF;
// The stub's part counter is 8 bits wide: the program file and 255 parts.
constexpr int kMaxNumberedParts = 255;
// The stub records at most this many extracted files for the clean-up.
constexpr int kMaxRecordedFiles = 255;

struct PackageHeader {
  bool stayOpen = false;
  bool adminRequired = false;
  bool multiPart = false;
  bool skipIntegrityCheck = false;
  bool useAdvpack = false;
  uint8_t reserved16 = 0;
  uint8_t reserved20 = 0;
  int32_t totalSize = 0;
};

// The texts in plain form, as bytes in the package's ANSI code page.
struct PackageTexts {
  std::string title;
  std::string infName;
  std::string storedPassword;
  std::string welcomeText;
  std::string licenceText;
};

// Scrambles or unscrambles (the same operation) a stored text.
std::string ScrambleText(const std::string &text);

// The fixed header and the texts as they follow the stub; throws PackError
// when a text is too long for its length field.
std::vector<uint8_t> EncodePackageHeader(const PackageHeader &header, const PackageTexts &texts);

// The offset of the archive's first byte for these texts.
uint64_t ArchiveBase(const PackageTexts &texts);

// The name of numbered part `number` (1..255) of a package whose program
// file is `programPath`: its last three characters replaced by the number.
std::string PartName(const std::string &programPath, int number);

}  // namespace vantrel_pack

#endif
