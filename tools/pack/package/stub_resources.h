// The two resources of the stub that each package fills in: the execution
// level in the manifest, and the version information. Both are patched in
// the room the stub keeps for them, so the image keeps its size and every
// offset in it; the image checksum is then brought up to date.
#ifndef VANTREL_PACK_PACKAGE_STUB_RESOURCES_H
#define VANTREL_PACK_PACKAGE_STUB_RESOURCES_H

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantrel_pack {

// The levels a manifest's requestedExecutionLevel takes.
extern const char *const kExecutionLevels[3];
bool IsExecutionLevel(const std::string &level);

// The level the image's manifest asks for; empty optional when the image
// has no manifest (RT_MANIFEST 1) with a requestedExecutionLevel.
std::optional<std::string> ReadExecutionLevel(const std::string &image);

// Writes `level` over the manifest's in place. The attribute's value, the
// blanks after it and the uiAccess attribute form the room; uiAccess="false"
// (also what its absence means) is left out when the level would not fit
// otherwise. Throws PackError when there is no manifest or no room.
void WriteExecutionLevel(std::string &image, const std::string &level);

// One string of the version information, in its fixed-size slot.
struct VersionString {
  std::string key;     // "CompanyName", ...
  std::string value;   // UTF-8
  size_t longest = 0;  // UTF-16 code units the slot holds, without the final zero
};

// The version information as the image holds it: the strings of its first
// string table, and the binary file and product versions.
struct VersionInfo {
  std::vector<VersionString> strings;
  std::array<uint16_t, 4> fileVersion{};
  std::array<uint16_t, 4> productVersion{};

  // The string called `key`, or null.
  const VersionString *Find(const std::string &key) const;
};

// Empty optional when the image has no version information (RT_VERSION 1)
// of the expected shape.
std::optional<VersionInfo> ReadVersionInfo(const std::string &image);

// Writes the values of `info` (UTF-8; converted to UTF-16) into the slots
// of the strings of the same key, and the binary versions. A key the image
// has no slot for, or a value longer than its slot, throws PackError naming
// the value as `describe(key)` says and the slot's length.
void WriteVersionInfo(std::string &image, const VersionInfo &info,
                      const std::function<std::string(const std::string &key)> &describe);

// Up to four dotted decimal numbers of 0..65535 ("2.1" is 2.1.0.0); empty
// optional for anything else.
std::optional<std::array<uint16_t, 4>> ParseVersionNumbers(const std::string &text);
std::string VersionNumbersText(const std::array<uint16_t, 4> &numbers);

// The PE image checksum over `image` as it stands (Windows' CheckSumMappedFile
// computes the same), written into the optional header. Nothing happens to
// an image without a PE header.
void UpdateImageChecksum(std::string &image);

// The image with what a package fills in blanked out: the level's room,
// every string slot and its length, the binary versions. A package's stub
// and the stub file it was made from give the same bytes.
std::string WithoutPackageResources(std::string image);

}  // namespace vantrel_pack

#endif
