#include "support/signing.h"

namespace testing_support {

uint32_t Le32At(const Bytes &file, size_t at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | file[at + size_t(i)];
  return value;
}

void PutLe32At(Bytes &file, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) file[at + size_t(i)] = uint8_t(value >> (8 * i));
}

void AddImageHeaders(Bytes &file) {
  file[0] = 'M';
  file[1] = 'Z';
  PutLe32At(file, 0x3C, kImageHeaderAt);
  const uint8_t signature[] = {'P', 'E', 0, 0, 0x4C, 0x01};  // and the i386 machine type
  std::copy(std::begin(signature), std::end(signature), file.begin() + kImageHeaderAt);
  file[kImageHeaderAt + 20] = 0xE0;  // SizeOfOptionalHeader: 224
  file[kImageHeaderAt + 24] = 0x0B;  // PE32 magic 0x10B
  file[kImageHeaderAt + 25] = 0x01;
  file[kImageHeaderAt + 24 + 92] = 16;  // NumberOfRvaAndSizes
}

uint32_t ImageChecksum(const Bytes &file) {
  uint64_t sum = 0;
  for (size_t i = 0; i < file.size(); i += 4) {
    uint32_t word = 0;
    for (size_t k = 0; k < 4 && i + k < file.size(); ++k) {
      bool inField = i + k >= kChecksumAt && i + k < kChecksumAt + 4;
      if (!inField) word |= uint32_t(file[i + k]) << (8 * k);
    }
    sum += word;
    sum = (sum & 0xFFFFFFFFu) + (sum >> 32);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum + (sum >> 16)) & 0xFFFF;
  return uint32_t(sum + file.size());
}

void UpdateImageChecksum(Bytes &file) { PutLe32At(file, kChecksumAt, ImageChecksum(file)); }

Bytes SignPackage(Bytes file, const SignatureLayout &layout) {
  AddImageHeaders(file);
  file.resize((file.size() + 7) / 8 * 8, 0);
  uint32_t start = uint32_t(file.size());
  for (const Bytes &certificate : layout.certificates) {
    Bytes entry(8);
    PutLe32At(entry, 0, uint32_t(certificate.size() + 8));
    entry[5] = 0x02;  // WIN_CERT_REVISION_2_0
    entry[6] = 0x02;  // WIN_CERT_TYPE_PKCS_SIGNED_DATA
    entry.insert(entry.end(), certificate.begin(), certificate.end());
    entry.resize((entry.size() + 7) / 8 * 8, 0);
    file.insert(file.end(), entry.begin(), entry.end());
  }
  PutLe32At(file, kSecurityEntryAt, layout.tableStart.value_or(start));
  PutLe32At(file, kSecurityEntryAt + 4, layout.tableSize.value_or(uint32_t(file.size()) - start));
  file.insert(file.end(), layout.appended.begin(), layout.appended.end());
  UpdateImageChecksum(file);
  return file;
}

}  // namespace testing_support
