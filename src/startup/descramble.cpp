#include "descramble.h"

namespace {
const DWORD kSeed = 0x3A9;
const DWORD kMultiplier = 134775813u;
DWORD randomState;

// One draw with range 128: the top 7 bits of the advanced generator.
BYTE NextKeyByte() {
  randomState = randomState * kMultiplier + 1;
  return BYTE((randomState >> 25) | 0x80);
}
}  // namespace

void Descramble(BYTE *text, LONG length) {
  randomState = kSeed;
  for (LONG i = 1; i < length; ++i) text[i] ^= NextKeyByte();
}
