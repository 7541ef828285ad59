// The decoder's byte source and bit buffer. Bits are taken least significant
// first, as deflate packs them; the block procedures keep the bit state in
// locals and use these helpers on them.
#ifndef VANTREL_BIT_INPUT_H
#define VANTREL_BIT_INPUT_H

#include "../core/program_state.h"

// maskBits[n] = 2^n - 1 for n = 0..16.
extern const WORD maskBits[17];

// The next byte of the current chunk, refilling the chunk when it is used
// up; -1 when a refill delivers nothing.
LONG RefillAndReadByte();
inline LONG ReadPackageByte() {
  if ((LONG)state.inputPos < (LONG)state.inputCount) return state.inputBuffer[state.inputPos++];
  return RefillAndReadByte();
}

// The next byte of the member's compressed data, or -1 past its end. Past the
// end the count goes on down below zero: its negative then tells how many end
// markers the bit buffer has received, which is how a decoder notices that it
// consumed bits the member does not have.
inline LONG NextCompressedByte() {
  LONG c = state.bytesLeft > 0 ? ReadPackageByte() : -1;
  --state.bytesLeft;
  return c;
}

// Makes at least n (<= 16) bits valid. An end marker fills with one bits.
inline void NeedBits(unsigned n, DWORD &b, unsigned &k) {
  while (k < n) {
    b |= (DWORD)NextCompressedByte() << k;
    k += 8;
  }
}

inline void DumpBits(unsigned n, DWORD &b, unsigned &k) {
  b >>= n;
  k -= n;
}

// True when the k bits still held are fewer than the end-marker bits taken in,
// that is when bits beyond the member's compressed data have been consumed.
inline bool InputOverrun(unsigned k) {
  if (state.bytesLeft >= 0) return false;
  DWORD markers = 0u - (DWORD)state.bytesLeft;
  return markers > 4 || k < markers * 8;
}

#endif
