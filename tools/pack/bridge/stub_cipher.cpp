#include "stub_cipher.h"

#include "core/zipcrypto.h"
#include "startup/entry.h"

namespace vantrel_pack {
namespace {

// The cipher's keys live in the program state, and its key schedule uses
// the stub's CRC table; each cipher keeps its own keys between calls.
void Load(const uint32_t keys[3]) {
  if (!state.crcTable) InitProgramState();
  state.key0 = keys[0];
  state.key1 = keys[1];
  state.key2 = keys[2];
}

void Save(uint32_t keys[3]) {
  keys[0] = state.key0;
  keys[1] = state.key1;
  keys[2] = state.key2;
}

}  // namespace

StubCipher::StubCipher(const std::string &password) : keys_{0, 0, 0} {
  Load(keys_);
  InitKeys(password.data(), DWORD(password.size()));
  Save(keys_);
}

void StubCipher::Encrypt(uint8_t *bytes, size_t count) {
  Load(keys_);
  for (size_t i = 0; i < count; ++i) {
    BYTE plain = bytes[i];
    bytes[i] = plain ^ DecryptByte();
    UpdateKeys(plain);
  }
  Save(keys_);
}

}  // namespace vantrel_pack
