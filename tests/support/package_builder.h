// Builds packages and zip archives byte by byte for tests, including the
// malformed and hostile ones no real tool would write.
#ifndef VANTREL_TEST_PACKAGE_BUILDER_H
#define VANTREL_TEST_PACKAGE_BUILDER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<unsigned char>;

struct ZipMember {
  std::string name;
  Bytes data;
  int method = 0;        // 0 stores; 8 deflates with zlib; any other value is written as is
  std::string password;  // not empty: traditional encryption
  bool descriptor =
      false;  // bit 3 and a data descriptor after the data (sizes still in the header)
  bool descriptorSigned = true;  // false: the descriptor's short form, without its signature
  Bytes extra;
  uint16_t dosTime = 0x6000;                 // 12:00:00
  uint16_t dosDate = 0x5A21;                 // 2025-01-01
  std::optional<uint32_t> signature;         // replaces 50 4B 03 04
  std::optional<uint32_t> crc;               // replaces the real CRC-32
  std::optional<Bytes> rawData;              // replaces the (compressed) data as written
  std::optional<uint32_t> uncompressedSize;  // replaces the data's size in both headers
  uint16_t flags = 0;                        // further bits of the general-purpose flags
  // A streaming writer's local header: CRC or sizes 0 there, given only in
  // the central directory (and the descriptor, if any).
  bool crcInLocalHeader = true;
  bool sizesInLocalHeader = true;
};

// The traditional zip cipher, written here from the format description so
// that the program's own cipher is checked against a second implementation.
class ZipCipher {
 public:
  explicit ZipCipher(const std::string &password);
  uint8_t Encrypt(uint8_t plain);
  uint8_t Decrypt(uint8_t cipher);

 private:
  void Update(uint8_t plain);
  uint8_t Stream() const;
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

// Local headers and data, then a central directory and its end record.
Bytes BuildZip(const std::vector<ZipMember> &members, const std::string &comment = "");

// The zip CRC-32, computed independently of the program's table.
uint32_t Crc32(const Bytes &data);

struct PackageContents {
  bool magic = true;
  bool stayOpen = false;
  bool admin = false;
  bool multiPart = false;
  bool skipCheck = false;
  bool advpack = false;
  std::string title;
  std::string infName = "setup.inf";
  std::string storedPassword;
  std::string welcome;
  std::string licence;
  std::optional<int32_t> welcomeLength;  // replaces the real length in the header
  std::optional<int32_t> licenceLength;
  std::optional<int32_t> totalSize;  // default: the size of the whole package
  Bytes archive;
};

// A 35,328-byte stand-in image, the header, the texts (scrambled as the
// program expects) and the archive.
Bytes BuildPackage(const PackageContents &contents);

// Scrambles (or descrambles) a text as the package header stores it.
Bytes Scramble(const std::string &text);

Bytes ToBytes(const std::string &text);
std::string ToString(const Bytes &bytes);

}  // namespace testing_support

#endif
