// The decoder's byte source and bit buffer. Bits are taken least significant
// first, as deflate packs them. The bit buffer is a machine word (32 bits in
// the stub, 64 on the build machine) that is refilled a whole word at a time
// while the input chunk has bytes to spare, and a byte at a time near the
// chunk's end, where the next chunk is read.
#ifndef VANTREL_BIT_INPUT_H
#define VANTREL_BIT_INPUT_H

#include "../core/program_state.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the bit buffer loads input words in little-endian order");

// A build on the build machine may take the stub's 32-bit buffer
// (VANTREL_DECODER_WORD32), so that the stub's paths of the decoder run in
// its tests too: this machine cannot run the 32-bit stub itself.
#ifdef VANTREL_DECODER_WORD32
typedef DWORD BitWord;
#else
typedef UINT_PTR BitWord;
#endif

enum {
  kWordBytes = sizeof(BitWord),
  kWordBits = 8 * sizeof(BitWord),
  // A refill leaves at least this many bits: all but a partial top byte.
  kRefillBits = kWordBits - 8,
};

// The read position and bit buffer of the member being decoded; the block
// procedures keep copies in locals where it pays and store them back.
struct BitInput {
  const BYTE *next;  // the chunk's next byte not yet taken into `bits`
  const BYTE *end;   // the end of the bytes the chunk holds
  BitWord bits;      // unconsumed bits, the stream's next bit in bit 0
  unsigned count;    // how many bits of `bits` are valid
  // One bits taken in past the end of the member's data. They sit above
  // the real bits, so the decoder has consumed bits the member does not
  // have exactly when fewer than these are left.
  unsigned markerBits;
};
extern BitInput bitInput;

// Bits above `count` are not always zero: a word refill leaves there the
// low bits of the byte at `next`, which the next refill ORs in again with
// the same values. Every reader masks what it takes.

// Starts a member: no chunk, no bits.
void ResetBitInput();

// Makes at least n (<= kRefillBits) bits valid a byte at a time, reading
// the member's next chunk when this one is used up; past the member's data
// the buffer fills with one bits (end markers).
void NeedBitsSlowly(unsigned n, BitInput &in);

// Takes a whole word of the chunk: afterwards at least kRefillBits bits are
// valid. Only while the chunk holds kWordBytes bytes or more. No branch: the
// word goes in above the valid bits, and `next` moves on by the bytes that
// went in whole. Only the low byte of `count` is read and kept exact, so the
// decoding loop may subtract whole table entries from it (their low byte
// is the number of bits they consume).
inline void RefillFromWord(BitWord &bits, unsigned &count, const BYTE *&next) {
  BitWord word;
  __builtin_memcpy(&word, next, sizeof word);
  bits |= word << (BYTE)count;
  next += kWordBytes - 1;
  next -= (count >> 3) & (kWordBytes - 1);
  count |= kRefillBits;
}

inline void NeedBits(unsigned n, BitInput &in) {
  if (in.count >= n) return;
  if (in.end - in.next >= (LONG)kWordBytes) {
    RefillFromWord(in.bits, in.count, in.next);
  } else {
    NeedBitsSlowly(n, in);
  }
}

inline DWORD PeekBits(unsigned n, const BitInput &in) { return (DWORD)in.bits & ((1u << n) - 1); }

inline void DumpBits(unsigned n, BitInput &in) {
  in.bits >>= n;
  in.count -= n;
}

// True when bits beyond the member's compressed data have been consumed.
inline bool InputOverrun(const BitInput &in) { return in.count < in.markerBits; }

#endif
