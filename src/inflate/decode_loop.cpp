#include "blocks.h"

// The decoding loop of fixed and dynamic blocks, where the decoder spends
// its time. It keeps the input and output state in locals: the window is
// written through byte pointers, which may alias anything, so fields of
// global records read in the loop would be reloaded after every byte.
//
// While the input chunk has bytes to spare and the output has not reached
// the end of its batch, the fast loop decodes without testing either: the
// bit buffer takes a whole word at a time without looking at the chunk's
// end, and a copy may write past its end into bytes nobody needs any more.
// Each pass ends by looking up the next symbol's entry before the copy
// starts, so that the lookup's wait overlaps the copy. Near the chunk's end
// a symbol is decoded carefully: bytes come one at a time through the byte
// source, which reads the next chunk, and past the member's data end
// markers come in, which the careful path watches for.

namespace {

enum {
  kGoOn = -1,  // the symbol was a literal or a copy; decoding goes on
  kLiteralMask = (1u << kLiteralRootBits) - 1,
  kDistanceMask = (1u << kDistanceRootBits) - 1,
  // The fast loop runs only while the chunk holds this many more bytes: a
  // pass moves `next` on by the bits it consumes (at most 8 bytes) and its
  // refills load a word beyond that.
  kFastInputMargin = 32,
};
// A 64-bit buffer refilled holds bits for three literals and what follows
// them, or for a length, a distance and the next lookup; a 32-bit one is
// refilled more often (see DecodeFastWith).
const bool kWide = kWordBits == 64;
const unsigned kLongestLength = kMaxCodeBits + 5;     // a length's code and extra bits
const unsigned kLongestDistance = kMaxCodeBits + 13;  // a distance's code and extra bits
// The bit counts in DecodeFastWith's comments, for the tables' root bits:
// what a pass consumes stays within what a refill makes valid, and what it
// looks up ahead within the word's real bits.
// (Unsigned copies of the constants, which come from enums of different types.)
const unsigned kLiteralRoot = kLiteralRootBits, kDistanceRoot = kDistanceRootBits;
const unsigned kValid = kRefillBits, kReal = kWordBits;
static_assert(!kWide || (3 * kLiteralRoot + 5 <= kValid &&
                         kLongestLength + kLongestDistance <= kValid && 4 * kLiteralRoot <= kReal &&
                         kLongestLength + kLongestDistance + kLiteralRoot <= kReal),
              "a 64-bit pass needs more bits than a refill gives");
static_assert(kWide || (kLongestLength <= kValid && kDistanceRoot + 13 <= kValid &&
                        kMaxCodeBits + kLiteralRoot <= kReal &&
                        kDistanceRoot + 13 + kLiteralRoot <= kReal),
              "a 32-bit pass needs more bits than a refill gives");

// For the branches of damaged streams and rare codes: the compiler lays
// the common path out straight.
inline bool Unlikely(DWORD condition) { return __builtin_expect(condition != 0, 0); }

struct Decoding {
  BitWord bits;
  unsigned count;  // only its low byte is exact (see RefillFromWord)
  const BYTE *next;
  const BYTE *end;
  BYTE *out;
  const BYTE *oldest;  // the member's earliest output still in the window
};

// Drops the bits an entry consumes.
__attribute__((always_inline)) inline void Consume(Decoding &d, DWORD entry) {
  d.bits >>= (BYTE)entry;
  d.count -= entry;
}

// Writes the literal of a literal entry.
__attribute__((always_inline)) inline void PutLiteral(Decoding &d, DWORD entry) {
  *d.out++ = EntryLiteral(entry);
}

__attribute__((always_inline)) inline void CopyWord(BYTE *to, const BYTE *from) {
  BitWord word;
  __builtin_memcpy(&word, from, kWordBytes);
  __builtin_memcpy(to, &word, kWordBytes);
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

// Copies the bytes from `to` up to `stop` from `distance` bytes back. The
// source lies behind the destination, so a copy of whole words is right
// wherever the distance is a word or more: each word read is complete
// before it is written again. Most copies are short, so the first words go
// without a test. Distance 1 repeats one byte, a word at a time; the other
// short distances move a word at a time by the distance, each word's first
// `distance` bytes being complete already. Words may run past the copy's
// end, into bytes no back-reference reaches any more.
__attribute__((always_inline)) inline void CopyMatch(BYTE *to, unsigned distance, BYTE *stop) {
  const BYTE *from = to - distance;
  if (distance >= kWordBytes) {
    do {
      CopyWord(to, from);
      CopyWord(to + kWordBytes, from + kWordBytes);
      CopyWord(to + 2 * kWordBytes, from + 2 * kWordBytes);
      CopyWord(to + 3 * kWordBytes, from + 3 * kWordBytes);
      CopyWord(to + 4 * kWordBytes, from + 4 * kWordBytes);
      to += 5 * kWordBytes;
      from += 5 * kWordBytes;
    } while (to < stop);
  } else if (distance == 1) {
    BitWord word = (BitWord)*from * (~(BitWord)0 / 0xFF);
    do {
      __builtin_memcpy(to, &word, kWordBytes);
      __builtin_memcpy(to + kWordBytes, &word, kWordBytes);
      __builtin_memcpy(to + 2 * kWordBytes, &word, kWordBytes);
      __builtin_memcpy(to + 3 * kWordBytes, &word, kWordBytes);
      to += 4 * kWordBytes;
    } while (to < stop);
  } else {
    do {
      CopyWord(to, from);
      from += distance;
      to += distance;
    } while (to < stop);
  }
}

// Copies `length` bytes from `distance` bytes back to the output position,
// or refuses a distance that reaches before the member's first byte: until
// a batch has been written, the history holds none of this member's output.
__attribute__((always_inline)) inline int Copy(Decoding &d, unsigned distance, unsigned length) {
  BYTE *to = d.out;
  if (Unlikely(distance > (unsigned)(to - d.oldest))) return kStatusInvalidCode;
  d.out = to + length;
  CopyMatch(to, distance, d.out);
  return kGoOn;
}

// Looks up a sub-table's entry for the bits after the root bits, which the
// pointer `entry` consumed.
__attribute__((always_inline)) inline DWORD SubtableEntry(const DWORD *table, DWORD entry,
                                                          BitWord bits) {
  return table[EntryValue(entry) + ((DWORD)bits & ((1u << EntryCodeBits(entry)) - 1))];
}

// The fast loop: decodes while `next` is before `inputLimit` and the output
// before `outputLimit`, then returns kGoOn; or returns the status that ends
// the block. Every pass starts with a refilled buffer and the entry of the
// next symbol looked up already. The comments count bits for 11 root bits
// of literals and lengths and 8 of distances (the static_asserts above hold
// it for the tables' sizes): a refill leaves kRefillBits (56, or 24 in a
// 32-bit buffer) valid, and the whole word holds real bits, so a lookup may
// read up to kWordBits (64 or 32) bits ahead of what was consumed.
__attribute__((always_inline)) inline int DecodeFastWith(Decoding &d, const DWORD *literals,
                                                         const DWORD *distances,
                                                         const BYTE *inputLimit,
                                                         const BYTE *outputLimit) {
  RefillFromWord(d.bits, d.count, d.next);
  DWORD entry = literals[d.bits & kLiteralMask];
  do {
    BitWord before = d.bits;
    Consume(d, entry);  // a root code and at most 5 extra bits: 16 bits
    if (EntryIsLiteral(entry)) {
      // Literals come in runs. A 64-bit buffer holds the bits of three
      // literals and of whatever follows them; each next entry is consumed
      // before it is known to be a literal, and what is not one goes on to
      // the length path below after a refill. A 32-bit buffer takes one
      // literal per pass.
      PutLiteral(d, entry);
      entry = literals[d.bits & kLiteralMask];  // 22 bits read
      if (!kWide) {
        RefillFromWord(d.bits, d.count, d.next);
        continue;
      }
      before = d.bits;
      Consume(d, entry);  // 27 bits consumed
      if (EntryIsLiteral(entry)) {
        PutLiteral(d, entry);
        entry = literals[d.bits & kLiteralMask];  // 33 bits read
        before = d.bits;
        Consume(d, entry);  // 38 bits consumed
        if (EntryIsLiteral(entry)) {
          PutLiteral(d, entry);
          entry = literals[d.bits & kLiteralMask];  // 44 bits read
          RefillFromWord(d.bits, d.count, d.next);
          continue;
        }
      }
      RefillFromWord(d.bits, d.count, d.next);
    }
    if (Unlikely(entry & kEntryExceptional)) {
      if (!(entry & kEntrySubtable)) {
        if (entry & kEntryEndOfBlock) return kStatusOk;
        return kStatusInvalidCode;
      }
      entry = SubtableEntry(literals, entry, d.bits);
      before = d.bits;
      Consume(d, entry);  // the rest of a code of at most 15 bits, 5 extra bits: 20
      if (EntryIsLiteral(entry)) {
        PutLiteral(d, entry);
        entry = literals[d.bits & kLiteralMask];  // 26 bits read
        RefillFromWord(d.bits, d.count, d.next);
        continue;
      }
      if (Unlikely(entry & kEntryExceptional)) {
        if (entry & kEntryEndOfBlock) return kStatusOk;
        return kStatusInvalidCode;
      }
    }

    // A length (its extra bits taken with its code), then its distance.
    unsigned length = EntryValue(entry) + EntryExtra(entry, before);
    if (!kWide) RefillFromWord(d.bits, d.count, d.next);
    entry = distances[d.bits & kDistanceMask];
    if (Unlikely(entry & kEntryExceptional)) {
      if (!(entry & kEntrySubtable)) return kStatusInvalidCode;
      d.bits >>= kDistanceRootBits;
      d.count -= kDistanceRootBits;
      if (!kWide) RefillFromWord(d.bits, d.count, d.next);
      entry = SubtableEntry(distances, entry, d.bits);
      if (Unlikely(entry & kEntryExceptional)) return kStatusInvalidCode;
    }
    before = d.bits;
    Consume(d, entry);  // 20 + 28 = 48 bits consumed (32-bit: 21 since a refill)
    unsigned distance = EntryValue(entry) + EntryExtra(entry, before);
    entry = literals[d.bits & kLiteralMask];  // 59 bits read (32-bit: 32)
    RefillFromWord(d.bits, d.count, d.next);
    if (Unlikely(Copy(d, distance, length) != kGoOn)) return kStatusInvalidCode;
  } while (d.out < outputLimit && d.next < inputLimit);
  return kGoOn;
}

int DecodeFast(Decoding &state, const DWORD *literals, const DWORD *distances,
               const BYTE *inputLimit, const BYTE *outputLimit) {
  // A copy whose address never leaves this procedure: its fields stay in
  // registers although bytes are stored through pointers that may alias.
  Decoding d = state;
  int status = DecodeFastWith(d, literals, distances, inputLimit, outputLimit);
  state = d;
  return status;
}

// Makes at least kRefillBits bits valid through the byte source, with the
// state brought up to date around it.
void RefillCarefully(Decoding &d) {
  bitInput.bits = d.bits;
  bitInput.count = (BYTE)d.count;
  bitInput.next = d.next;
  NeedBitsSlowly(kRefillBits, bitInput);
  d.bits = bitInput.bits;
  d.count = bitInput.count;
  d.next = bitInput.next;
  d.end = bitInput.end;
}

// Whether the bits consumed so far ran into the end markers.
inline bool Overran(const Decoding &d) { return (BYTE)d.count < bitInput.markerBits; }

// Decodes one literal, copy or block end near the chunk's end,
// refilling through the byte source before each code; bits taken from past
// the member's data end the block with kStatusInputEnded.
int DecodeCarefully(Decoding &d, const DWORD *literals, const DWORD *distances) {
  RefillCarefully(d);
  DWORD entry = literals[d.bits & kLiteralMask];
  if (!EntryIsLiteral(entry) && (entry & kEntrySubtable)) {
    Consume(d, entry);
    entry = SubtableEntry(literals, entry, d.bits);
  }
  BitWord before = d.bits;
  Consume(d, entry);
  if (Overran(d)) return kStatusInputEnded;
  if (EntryIsLiteral(entry)) {
    PutLiteral(d, entry);
    return kGoOn;
  }
  if (entry & kEntryExceptional) return entry & kEntryEndOfBlock ? kStatusOk : kStatusInvalidCode;
  unsigned length = EntryValue(entry) + EntryExtra(entry, before);

  RefillCarefully(d);
  entry = distances[d.bits & kDistanceMask];
  if (entry & kEntrySubtable) {
    Consume(d, entry);
    RefillCarefully(d);
    entry = SubtableEntry(distances, entry, d.bits);
  }
  if (entry & kEntryExceptional) return kStatusInvalidCode;
  before = d.bits;
  Consume(d, entry);
  if (Overran(d)) return kStatusInputEnded;
  return Copy(d, EntryValue(entry) + EntryExtra(entry, before), length);
}

}  // namespace

// Decodes the literals, lengths and distances of a fixed or dynamic block
// until its end-of-block code, writing into the window and out to the file
// a batch at a time. Safe on any input: an invalid code (a pattern no symbol
// owns, symbols 286, 287, 30 and 31) ends the block with kStatusInvalidCode;
// a distance before the member's first byte is refused; bits taken from
// past the member's data end it with kStatusInputEnded; and copies stay
// within the window and its slack, since a pass starts only before the end
// of the batch and writes at most a longest copy and a few words more.
int InflateCodes(const DWORD *literals, const DWORD *distances) {
  Decoding d;
  d.bits = bitInput.bits;
  d.count = bitInput.count;
  d.next = bitInput.next;
  d.end = bitInput.end;
  BYTE *window = outputWindow.bytes;
  d.out = window + outputWindow.position;
  d.oldest = outputWindow.full ? window : window + kHistory;
  BYTE *flushAt = window + kBatchEnd;

  int status;
  for (;;) {
    // The chunk's end moves only in the careful path.
    if (d.out < flushAt && d.end - d.next > kFastInputMargin) {
      status = DecodeFast(d, literals, distances, d.end - kFastInputMargin, flushAt);
      if (status != kGoOn) break;
    }
    if (d.out >= flushAt) {
      outputWindow.position = (unsigned)(d.out - window);
      status = FlushBatch();
      d.out = window + outputWindow.position;
      d.oldest = window;
      if (status) break;
      continue;
    }
    if (d.end - d.next > kFastInputMargin) continue;
    status = DecodeCarefully(d, literals, distances);
    if (status != kGoOn) break;
  }
  bitInput.bits = d.bits;
  bitInput.count = (BYTE)d.count;
  bitInput.next = d.next;
  outputWindow.position = (unsigned)(d.out - window);
  return status;
}
