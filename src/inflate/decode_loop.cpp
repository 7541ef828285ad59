#include "blocks.h"

// The decoding loop of fixed and dynamic blocks, where the decoder spends
// its time. It keeps the input and output state in locals: the window is
// written through byte pointers, which may alias anything, so fields of
// global records read in the loop would be reloaded after every byte.
//
// While the input chunk has bytes to spare, the bit buffer is refilled a
// whole word at a time without looking at the chunk's end, and a symbol is
// decoded with no test of the input at all. Near the chunk's end a symbol
// is decoded carefully: bytes come one at a time through the byte source,
// which reads the next chunk, and past the member's data end markers come
// in, which the careful path watches for.

namespace {

enum {
  kGoOn = -1,  // the symbol was a literal or a copy; decoding goes on
  // The most bytes one symbol's refills read ahead of `next`.
  kFastInputMargin = 4 * kWordBytes,
  kLiteralMask = (1u << kLiteralRootBits) - 1,
  kDistanceMask = (1u << kDistanceRootBits) - 1,
};

struct Decoding {
  BitWord bits;
  unsigned count;
  const BYTE *next;
  const BYTE *end;
  BYTE *out;
  BYTE *window;
  BYTE full;  // every distance up to 32 KiB reaches this member's output
};

inline void Drop(Decoding &d, unsigned n) {
  d.bits >>= n;
  d.count -= n;
}

// Makes at least kRefillBits bits valid. The careful way goes through the
// byte source with the state brought up to date around it.
__attribute__((always_inline)) inline void Refill(Decoding &d, bool careful) {
  if (!careful) {
    RefillFromWord(d.bits, d.count, d.next);
    return;
  }
  if (d.count >= kRefillBits) return;
  bitInput.bits = d.bits;
  bitInput.count = d.count;
  bitInput.next = d.next;
  NeedBitsSlowly(kRefillBits, bitInput);
  d.bits = bitInput.bits;
  d.count = bitInput.count;
  d.next = bitInput.next;
  d.end = bitInput.end;
}

// In the careful path: whether the bits consumed so far, less `pending` of
// them, ran into the end markers.
inline bool Overran(const Decoding &d, bool careful, unsigned pending = 0) {
  return careful && d.count + pending < bitInput.markerBits;
}

// Copies words from `from` to `to` until `to` reaches `stop`, running up to
// a word past it.
__attribute__((always_inline)) inline void CopyWords(BYTE *to, const BYTE *from, BYTE *stop) {
  do {
    BitWord word;
    __builtin_memcpy(&word, from, kWordBytes);
    __builtin_memcpy(to, &word, kWordBytes);
    from += kWordBytes;
    to += kWordBytes;
  } while (to < stop);
}

// Copies `length` bytes from `distance` bytes back. The source lies behind
// the destination, so a copy of whole words is right wherever the distance
// is a word or more: each word read is complete before it is written again.
// Distance 1 repeats one byte, a word at a time; the other short distances
// go byte by byte, each byte read after it was written. Words may run past
// the copy's end, into bytes no back-reference reaches any more.
__attribute__((always_inline)) inline void CopyMatch(BYTE *to, unsigned distance, unsigned length) {
  const BYTE *from = to - distance;
  BYTE *stop = to + length;
  if (distance >= kWordBytes) {
    CopyWords(to, from, stop);
  } else if (distance == 1) {
    BitWord word = (BitWord)*from * (~(BitWord)0 / 0xFF);
    do {
      __builtin_memcpy(to, &word, kWordBytes);
      to += kWordBytes;
    } while (to < stop);
  } else {
    do *to++ = *from++;
    while (to < stop);
  }
}

// Looks up the literal/length entry at the buffer's next bits, following a
// sub-table pointer (the root bits are then dropped).
__attribute__((always_inline)) inline DWORD LiteralEntry(Decoding &d, const DWORD *literals) {
  DWORD entry = literals[d.bits & kLiteralMask];
  if (entry & kEntrySubtable) {
    Drop(d, kLiteralRootBits);
    entry = literals[EntryValue(entry) + ((DWORD)d.bits & ((1u << EntryCodeBits(entry)) - 1))];
  }
  return entry;
}

// Decodes one literal, copy or block end, and writes what it stands for.
// Returns kGoOn or the status that ends the block (kStatusOk at its end).
// `careful` is a constant at each call, so each path compiles on its own.
__attribute__((always_inline)) inline int DecodeOne(Decoding &d, const DWORD *literals,
                                                    const DWORD *distances, bool careful) {
  Refill(d, careful);
  DWORD entry = LiteralEntry(d, literals);
  if ((LONG)entry < 0) {
    Drop(d, EntryBits(entry));
    if (Overran(d, careful)) return kStatusInputEnded;
    *d.out++ = (BYTE)(entry >> 16);
    // Literals come in runs. A 64-bit buffer holds bits enough for two more
    // literals of the root table, a 32-bit one often for one more; anything
    // else waits for the next refill.
    if (kWordBits == 32 && !careful && d.count >= kLiteralRootBits) {
      entry = literals[d.bits & kLiteralMask];
      if ((LONG)entry >= 0) return kGoOn;
      Drop(d, EntryBits(entry));
      *d.out++ = (BYTE)(entry >> 16);
    }
    if (kWordBits == 64 && !careful) {
      entry = literals[d.bits & kLiteralMask];
      if ((LONG)entry >= 0) return kGoOn;
      Drop(d, EntryBits(entry));
      *d.out++ = (BYTE)(entry >> 16);
      entry = literals[d.bits & kLiteralMask];
      if ((LONG)entry >= 0) return kGoOn;
      Drop(d, EntryBits(entry));
      *d.out++ = (BYTE)(entry >> 16);
    }
    return kGoOn;
  }
  if (entry & kEntryExceptional) {
    if (!(entry & kEntryEndOfBlock)) return kStatusInvalidCode;
    Drop(d, EntryBits(entry));
    return Overran(d, careful) ? kStatusInputEnded : kStatusOk;
  }

  // A length, its extra bits taken with its code.
  BitWord before = d.bits;
  Drop(d, EntryBits(entry));
  if (Overran(d, careful, EntryBits(entry) - EntryCodeBits(entry))) return kStatusInputEnded;
  unsigned length = EntryValue(entry) + EntryExtra(entry, before);

  // Its distance. A 64-bit buffer still holds enough bits for the longest
  // distance code and its extra bits; a 32-bit one is refilled, and again
  // between code and extra bits when they do not fit together.
  if (kWordBits == 32 || careful) Refill(d, careful);
  entry = distances[d.bits & kDistanceMask];
  if (entry & kEntrySubtable) {
    Drop(d, kDistanceRootBits);
    entry = distances[EntryValue(entry) + ((DWORD)d.bits & ((1u << EntryCodeBits(entry)) - 1))];
  }
  if (entry & kEntryExceptional) return kStatusInvalidCode;
  unsigned distance;
  if (kWordBits == 32 && d.count < EntryBits(entry)) {
    unsigned codeBits = EntryCodeBits(entry), extraBits = EntryBits(entry) - codeBits;
    Drop(d, codeBits);
    Refill(d, careful);
    distance = EntryValue(entry) + ((DWORD)d.bits & ((1u << extraBits) - 1));
    Drop(d, extraBits);
  } else {
    before = d.bits;
    Drop(d, EntryBits(entry));
    distance = EntryValue(entry) + EntryExtra(entry, before);
  }
  if (Overran(d, careful)) return kStatusInputEnded;

  // A source behind the window's start continues at its end, in the half
  // written out before; before the first half is written, there is no
  // such output and the distance is invalid. That part of the source lies
  // at least 32 KiB after the destination, so whole words serve; what they
  // write past the part is written again by the rest of the copy.
  unsigned behind = (unsigned)(d.out - d.window);
  if (distance > behind) {
    if (!d.full) return kStatusInvalidCode;
    unsigned first = distance - behind;
    if (first > length) first = length;
    CopyWords(d.out, d.window + kWindowSpan - (distance - behind), d.out + first);
    d.out += first;
    length -= first;
    if (!length) return kGoOn;
  }
  CopyMatch(d.out, distance, length);
  d.out += length;
  return kGoOn;
}

}  // namespace

// Decodes the literals, lengths and distances of a fixed or dynamic block
// until its end-of-block code, writing into the window and out to the file
// a half at a time. Safe on any input: an invalid code (a pattern no symbol
// owns, symbols 286, 287, 30 and 31) ends the block with kStatusInvalidCode;
// a distance before the member's first byte is refused until the window has
// been filled once; bits taken from past the member's data end it with
// kStatusInputEnded; and copies stay within the window and its slack.
int InflateCodes(const DWORD *literals, const DWORD *distances) {
  Decoding d;
  d.bits = bitInput.bits;
  d.count = bitInput.count;
  d.next = bitInput.next;
  d.end = bitInput.end;
  d.window = outputWindow.bytes;
  d.out = d.window + outputWindow.position;
  d.full = outputWindow.full;
  BYTE *flushAt = d.window + (outputWindow.position < kHalfWindow ? kHalfWindow : kWindowSpan);

  int status;
  for (;;) {
    // Where the careful path takes over; the chunk's end moves only there.
    const BYTE *fastEnd = d.end - d.next > kFastInputMargin ? d.end - kFastInputMargin : d.next;
    while (d.out < flushAt && d.next < fastEnd) {
      status = DecodeOne(d, literals, distances, false);
      if (status != kGoOn) goto done;
    }
    if (d.out >= flushAt) {
      outputWindow.position = (unsigned)(d.out - d.window);
      status = FlushHalf((unsigned)(flushAt - d.window));
      d.out = d.window + outputWindow.position;
      if (status) goto done;
      d.full = 1;
      flushAt = d.window + (flushAt == d.window + kHalfWindow ? kWindowSpan : kHalfWindow);
      continue;
    }
    status = DecodeOne(d, literals, distances, true);
    if (status != kGoOn) goto done;
  }
done:
  bitInput.bits = d.bits;
  bitInput.count = d.count;
  bitInput.next = d.next;
  outputWindow.position = (unsigned)(d.out - d.window);
  return status;
}
