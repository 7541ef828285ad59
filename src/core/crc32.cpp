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

// The CRC of `count` bytes from register `r`, through the streams.
DWORD FoldBraided(const BYTE *buffer, LONG count, DWORD r) {
  LONG i = 0;
  if (count >= 2 * kBlockBytes) {
    LONG blocks = count / kBlockBytes;
    r = FoldBlocks(buffer, blocks, r);
    i = blocks * kBlockBytes;
  }
  for (; i < count; ++i) r = ZeroByte(r ^ buffer[i]);
  return r;
}

// Long buffers on a 64-bit processor need no table for most of their
// bytes. x^19200 + x^9920 + x^7488 + x^5696 + 1 is a multiple of the CRC's
// polynomial, so adding it, times any power of x, to a message leaves the
// CRC as it is: a 64-bit word may be cleared when it is added again 145,
// 183, 211 and 300 words further on. Done from the front, every word but
// the last 300 is cleared so; zeros in front of a message from a register
// of zero change nothing, and the last 300 words, with what was added to
// them, go through the streams. Word i's carried value is its own bytes
// plus the values of words i-145, i-183, i-211 and i-300: five loads and a
// store per eight bytes, in a loop the compiler may vectorise. The values
// are kept for the last 300 words only, in a history moved down once per
// chunk.
typedef unsigned long long QWORD;
const bool kCarriesWords = sizeof(void *) == 8;
const LONG kReach1 = 145, kReach2 = 183, kReach3 = 211, kReach4 = 300;
const LONG kChunkWords = 1024;
// Below this the last 300 words' slower fold and the setting up cost more
// than carrying saves (measured: level at 12 KiB, 1.2 times as fast at
// 16 KiB, 2 times at the decoder's 224 KiB batches).
const LONG kLeastCarriedBytes = 16384;

inline QWORD Load64(const BYTE *p) {
  QWORD w;
  __builtin_memcpy(&w, p, sizeof w);
  return w;
}

// The register after `count` bytes (at least kLeastCarriedBytes) from
// register `reg`, carrying all words but the last kReach4 forward.
DWORD FoldCarried(const BYTE *p, LONG count, DWORD reg) {
  const LONG words = count / 8, cleared = words - kReach4;
  QWORD history[kReach4 + kChunkWords];
  QWORD *value = history + kReach4;  // value[i] is word base + i's
  __builtin_memset(history, 0, sizeof(QWORD) * kReach4);  // the words before the first
  LONG base = 0;
  // The register enters as the first four bytes of a run from zero.
  value[0] = Load64(p) ^ reg;
  for (LONG i = 1;;) {
    const LONG end = cleared - base < kChunkWords ? cleared - base : kChunkWords;
    const BYTE *q = p + 8 * base;
    for (; i < end; ++i) {
      value[i] = Load64(q + 8 * i) ^ value[i - kReach1] ^ value[i - kReach2] ^
                 value[i - kReach3] ^ value[i - kReach4];
    }
    if (base + end == cleared) break;
    __builtin_memcpy(history, history + kChunkWords, sizeof(QWORD) * kReach4);
    base += kChunkWords;
    i = 0;
  }
  // The last words, and the bytes after them, with what was carried into
  // them: from a word at most kReach4 back, all within the history.
  BYTE rest[8 * kReach4 + 8];
  const LONG restBytes = count - 8 * cleared;
  __builtin_memcpy(rest, p + 8 * cleared, (unsigned)restBytes);
  const LONG reach[] = {kReach1, kReach2, kReach3, kReach4};
  for (LONG w = cleared; w < words; ++w) {
    QWORD word = Load64(rest + 8 * (w - cleared));
    for (LONG from : reach) {
      if (w - from < cleared) word ^= value[w - from - base];
    }
    __builtin_memcpy(rest + 8 * (w - cleared), &word, sizeof word);
  }
  return FoldBraided(rest, restBytes, 0);
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
  if (kCarriesWords && count >= kLeastCarriedBytes) {
    reg = FoldCarried(buffer, count, reg);
  } else {
    reg = FoldBraided(buffer, count, reg);
  }
}
