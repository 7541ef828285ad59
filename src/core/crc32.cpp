#include "crc32.h"

namespace {
// The member CRC folds long buffers as kBraids interleaved streams: the
// n-th piece of kPieceBytes bytes belongs to stream n mod kBraids. Each
// stream keeps a register of its own, so the table look-ups of one stream
// never wait for another's; a byte at a time, every step waits for the
// step before it. The registers meet again over the last block.
//
// A stream's piece is followed by the other streams' pieces, which it takes
// as zero bytes, so its register moves over a whole block per piece: byte k
// of the piece (k = 0 first) is followed by kBlockBytes - 1 - k bytes. Entry
// n of slice k is the register after byte n and that many zero bytes. Only
// the first four bytes of a piece meet the register; the others index their
// slices as they are, straight from the buffer. The slices live in the
// image's uninitialised data, so they cost no file space.
// Five streams keep a 64-bit processor's units busy; a 32-bit x86 has
// registers for three.
const int kPieceBytes = 8;
const int kBraids = sizeof(void *) == 8 ? 5 : 3;
const int kBlockBytes = kBraids * kPieceBytes;
DWORD crcSlices[kPieceBytes][256];

inline DWORD ZeroByte(DWORD c) { return state.crcTable[c & 0xFF] ^ (c >> 8); }

void BuildCrcSlices() {
  for (DWORD n = 0; n < 256; ++n) {
    DWORD c = state.crcTable[n];
    for (int z = 0; z < kBlockBytes - kPieceBytes; ++z) c = ZeroByte(c);
    for (int k = kPieceBytes - 1; k >= 0; --k) {
      crcSlices[k][n] = c;
      c = ZeroByte(c);
    }
  }
}

inline DWORD Load32(const BYTE *p) {
  DWORD w;
  __builtin_memcpy(&w, p, sizeof w);
  return w;
}

// A stream's register after its piece at `p` and the rest of the block.
inline DWORD FoldOverBlock(DWORD reg, const BYTE *p) {
  DWORD w = reg ^ Load32(p);
  DWORD c = crcSlices[0][w & 0xFF] ^ crcSlices[1][(w >> 8) & 0xFF] ^
            crcSlices[2][(w >> 16) & 0xFF] ^ crcSlices[3][w >> 24];
#pragma GCC unroll 16
  for (int k = 4; k < kPieceBytes; ++k) c ^= crcSlices[k][p[k]];
  return c;
}

// The register after the piece at `p`, a byte at a time.
inline DWORD FoldPieceSlowly(DWORD reg, const BYTE *p) {
  for (int k = 0; k < kPieceBytes; ++k) reg = ZeroByte(reg ^ p[k]);
  return reg;
}

// Folds `blocks` whole blocks (at least two) into `reg`: all but the last
// through the streams, the last one piece after the other into one register.
DWORD FoldBlocks(const BYTE *p, LONG blocks, DWORD reg) {
  DWORD c[kBraids] = {reg};
  for (LONG b = 1; b < blocks; ++b, p += kBlockBytes) {
#pragma GCC unroll 8
    for (int i = 0; i < kBraids; ++i) c[i] = FoldOverBlock(c[i], p + i * kPieceBytes);
  }
  DWORD r = 0;
  for (int i = 0; i < kBraids; ++i) r = FoldPieceSlowly(c[i] ^ r, p + i * kPieceBytes);
  return r;
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
  LONG i = 0;
  if (count >= 2 * kBlockBytes) {
    LONG blocks = count / kBlockBytes;
    r = FoldBlocks(buffer, blocks, r);
    i = blocks * kBlockBytes;
  }
  for (; i < count; ++i) r = ZeroByte(r ^ buffer[i]);
  reg = r;
}
