// The traditional zip encryption, done with the stub's own cipher: what the
// packer encrypts is deciphered by the very procedures that will decipher
// it on the user's machine.
#ifndef VANTREL_PACK_BRIDGE_STUB_CIPHER_H
#define VANTREL_PACK_BRIDGE_STUB_CIPHER_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrel_pack {

class StubCipher {
 public:
  explicit StubCipher(const std::string &password);
  // Encrypts `count` bytes in place, first to last, as one stream with
  // every call before.
  void Encrypt(uint8_t *bytes, size_t count);

 private:
  uint32_t keys_[3];
};

}  // namespace vantrel_pack

#endif
