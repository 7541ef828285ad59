#include "crc32.h"

void BuildCrcTable() {
  for (DWORD n = 0; n < 256; ++n) {
    DWORD c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    state.crcTable[n] = c;
  }
}

void CrcUpdateBuffer(const BYTE *buffer, LONG count, DWORD &reg) {
  DWORD r = reg;
  const DWORD *table = state.crcTable;
  for (LONG i = 0; i < count; ++i) r = table[(r ^ buffer[i]) & 0xFF] ^ (r >> 8);
  reg = r;
}
