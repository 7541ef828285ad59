// Signs packages for tests the way Authenticode signing tools lay a
// signature out, without the cryptography: the certificates are opaque
// bytes here, because the program only looks at where they lie.
#ifndef VANTREL_TEST_SIGNING_H
#define VANTREL_TEST_SIGNING_H

#include <cstdint>
#include <optional>
#include <vector>

#include "support/package_builder.h"

namespace testing_support {

// Where the stand-in image's optional header keeps its fields.
constexpr size_t kImageHeaderAt = 0x80;
constexpr size_t kChecksumAt = kImageHeaderAt + 24 + 64;
constexpr size_t kSecurityEntryAt = kImageHeaderAt + 24 + 96 + 4 * 8;

struct SignatureLayout {
  // Each is wrapped in a certificate entry (length, revision 2.0, type
  // PKCS#7) and padded to 8 bytes, as the table holds them.
  std::vector<Bytes> certificates = {Bytes(1203, 0x30)};
  std::optional<uint32_t> tableStart;  // replaces the start the entry records
  std::optional<uint32_t> tableSize;   // replaces the size the entry records
  Bytes appended;                      // bytes after the table, as damage would add them
};

// Gives a stand-in image (zero bytes) the headers of a 32-bit PE image with
// an empty security entry: an unsigned program.
void AddImageHeaders(Bytes &file);

// Pads the file with zeros to a multiple of 8 bytes, appends the
// certificate table and records it in the security entry, then brings the
// image checksum up to date over the whole file.
Bytes SignPackage(Bytes package, const SignatureLayout &layout = {});

// The image checksum of the file as signing tools compute it: 32-bit
// little-endian words (the checksum field counted as zero) summed with the
// carries folded back, folded to 16 bits, plus the file's length.
uint32_t ImageChecksum(const Bytes &file);
void UpdateImageChecksum(Bytes &file);

uint32_t Le32At(const Bytes &file, size_t at);
void PutLe32At(Bytes &file, size_t at, uint32_t value);

}  // namespace testing_support

#endif
