#include "crc32.h"

namespace {
// Three more tables for the member CRC, which folds four bytes per step:
// the CRC is a good part of the decoder's time. Entry n of slice k is the
// CRC register after n and then k zero bytes. They live in the image's
// uninitialised data, so they cost no file space.
DWORD crcSlices[3][256];

void BuildCrcSlices() {
  for (DWORD n = 0; n < 256; ++n) {
    DWORD c = state.crcTable[n];
    for (int k = 0; k < 3; ++k) {
      c = state.crcTable[c & 0xFF] ^ (c >> 8);
      crcSlices[k][n] = c;
    }
  }
}
}  // namespace

void BuildCrcTable() {
  for (DWORD n = 0; n < 256; ++n) {
    DWORD c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    state.crcTable[n] = c;
  }
  BuildCrcSlices();
}

void CrcUpdateBuffer(const BYTE *buffer, LONG count, DWORD &reg) {
  DWORD r = reg;
  const DWORD *table = state.crcTable;
  LONG i = 0;
  for (; i + 4 <= count; i += 4) {
    r ^= DWORD(buffer[i]) | DWORD(buffer[i + 1]) << 8 | DWORD(buffer[i + 2]) << 16 |
         DWORD(buffer[i + 3]) << 24;
    r = crcSlices[2][r & 0xFF] ^ crcSlices[1][(r >> 8) & 0xFF] ^ crcSlices[0][(r >> 16) & 0xFF] ^
        table[r >> 24];
  }
  for (; i < count; ++i) r = table[(r ^ buffer[i]) & 0xFF] ^ (r >> 8);
  reg = r;
}
