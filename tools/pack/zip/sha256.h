// SHA-256 (FIPS 180-4), for deriving reproducible bytes from a package's
// inputs. Not used to protect anything.
#ifndef VANTREL_PACK_ZIP_SHA256_H
#define VANTREL_PACK_ZIP_SHA256_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel_pack {

class Sha256 {
 public:
  Sha256();
  void Add(const void *data, size_t count);
  void Add(const std::string &text) { Add(text.data(), text.size()); }
  // The digest of everything added; the object is spent afterwards.
  std::array<uint8_t, 32> Finish();

 private:
  void Block(const uint8_t *block);
  uint32_t state_[8];
  uint8_t pending_[64];
  size_t pendingCount_ = 0;
  uint64_t totalBytes_ = 0;
};

}  // namespace vantrel_pack

#endif
