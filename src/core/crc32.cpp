#include "crc32.h"

namespace {
// Fifteen more tables for the member CRC, which folds sixteen bytes per
// step: the CRC is a good part of the decoder's time, and sixteen bytes
// looked up in sixteen tables are sixteen independent loads, where a byte
// at a time waits for each step's result before the next. Entry n of slice
// k is the CRC register after byte n and then k zero bytes (slice 0 is
// `state.crcTable`). They live in the image's uninitialised data, so they
// cost no file space.
const int kSlices = 16;
DWORD crcSlices[kSlices - 1][256];

void BuildCrcSlices() {
  for (DWORD n = 0; n < 256; ++n) {
    DWORD c = state.crcTable[n];
    for (int k = 0; k < kSlices - 1; ++k) {
      c = state.crcTable[c & 0xFF] ^ (c >> 8);
      crcSlices[k][n] = c;
    }
  }
}

// The table of a byte followed by `zeros` more bytes of the block.
inline const DWORD *Slice(int zeros) { return zeros == 0 ? state.crcTable : crcSlices[zeros - 1]; }

inline DWORD LoadWord(const BYTE *p) {
  DWORD w;
  __builtin_memcpy(&w, p, sizeof w);
  return w;
}

// The four bytes of `w`, the first of them followed by `zeros` more bytes.
inline DWORD FoldWord(DWORD w, int zeros) {
  return Slice(zeros)[w & 0xFF] ^ Slice(zeros - 1)[(w >> 8) & 0xFF] ^
         Slice(zeros - 2)[(w >> 16) & 0xFF] ^ Slice(zeros - 3)[w >> 24];
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
  for (; i + kSlices <= count; i += kSlices) {
    const BYTE *p = buffer + i;
    r = FoldWord(LoadWord(p) ^ r, 15) ^ FoldWord(LoadWord(p + 4), 11) ^
        FoldWord(LoadWord(p + 8), 7) ^ FoldWord(LoadWord(p + 12), 3);
  }
  for (; i < count; ++i) r = table[(r ^ buffer[i]) & 0xFF] ^ (r >> 8);
  reg = r;
}
