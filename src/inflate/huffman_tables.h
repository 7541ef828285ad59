// Prefix-code lookup tables. A code is decoded by indexing its table with
// the next root bits of the stream; the few codes longer than that continue
// into a sub-table that the root entry points to, indexed by further bits.
//
// An entry is one 32-bit word that carries everything the decoder needs
// next, so that a lookup is one load and one shift drops what it read:
//   bits 0..7    bits the entry consumes: the code's bits at this level, and
//                for a length or distance also its extra bits
//   bits 8..15   a literal's byte, where a store takes it without a shift;
//                otherwise the code's bits at this level (bits 8..11), where
//                a length's or distance's extra bits start, or for a
//                sub-table pointer the sub-table's index bits; and the kind
//                flags below (bits 12..15)
//   bits 16..30  the value: code-length symbol, base length or distance, or
//                the sub-table's first index
//   bit 31       literal, so that a sign test finds the commonest case
#ifndef VANTREL_HUFFMAN_TABLES_H
#define VANTREL_HUFFMAN_TABLES_H

#include "bit_input.h"

enum : DWORD {
  kEntryLiteral = 0x80000000u,
  kEntryExceptional = 0x4000,  // end of block, sub-table pointer or invalid code
  kEntrySubtable = 0x2000,
  kEntryEndOfBlock = 0x1000,
  kEntryInvalid = kEntryExceptional,  // a pattern no symbol owns, or a symbol without meaning
};

inline bool EntryIsLiteral(DWORD entry) { return (LONG)entry < 0; }
inline BYTE EntryLiteral(DWORD entry) { return (BYTE)(entry >> 8); }
inline unsigned EntryBits(DWORD entry) { return entry & 0xFF; }
// The flags and code bits below mean nothing in a literal entry.
inline unsigned EntryCodeBits(DWORD entry) { return (entry >> 8) & 0xF; }
inline unsigned EntryValue(DWORD entry) { return (entry >> 16) & 0x7FFF; }
// The extra bits of a length or distance entry, from the bits as they
// stood before the entry's bits were dropped.
inline DWORD EntryExtra(DWORD entry, BitWord before) {
  return ((DWORD)before & ((1u << EntryBits(entry)) - 1)) >> EntryCodeBits(entry);
}

// What the symbols of a code stand for.
enum CodeKind {
  kCodeLengthCode,     // symbols 0..18 of a dynamic block's header
  kLiteralLengthCode,  // literals 0..255, end of block 256, lengths 257..285
  kDistanceCode,       // distances 0..29
};

// How a list of code lengths covers the bit patterns.
enum CodeShape {
  kCodeComplete,        // every pattern starts a symbol's code
  kCodeSingle,          // one symbol with a 1-bit code; the other pattern is invalid
  kCodeIncomplete,      // some patterns are free; they decode as invalid
  kCodeEmpty,           // no symbol has a code; every pattern is invalid
  kCodeOversubscribed,  // more codes than patterns: no table is made
};

// Root bits of each table, and the room a table needs: the root, plus the
// sub-tables of the longest codes (see huffman_tables.cpp for the bound).
// Literal and length codes of 11 bits are common in binary data; an
// 11-bit root resolves them in one look-up, for 4 KiB more table to fill
// per block (measured: about 4 % faster than a 10-bit root on the mixed
// corpus, no slower on 10,000 small files).
enum {
  kMaxCodeBits = 15,
  kCodeLengthRootBits = 7,
  kLiteralRootBits = 11,
  kDistanceRootBits = 8,
  kMaxLiteralSymbols = 288,
  kMaxDistanceSymbols = 32,
};
constexpr unsigned TableCapacity(unsigned rootBits, unsigned symbols) {
  return (1u << rootBits) +
         (symbols / (kMaxCodeBits + 1 - rootBits) + 1) * (1u << (kMaxCodeBits - rootBits));
}
enum : unsigned {
  kCodeLengthTableSize = 1u << kCodeLengthRootBits,
  kLiteralTableSize = TableCapacity(kLiteralRootBits, kMaxLiteralSymbols),
  kDistanceTableSize = TableCapacity(kDistanceRootBits, kMaxDistanceSymbols),
};

// Fills `table` (capacity `capacity` entries) for the `count` code lengths at
// `lengths` (each 0..15, 0 = no code; `count` at most kMaxLiteralSymbols),
// with `rootBits` root bits. Writes nothing for an oversubscribed code.
CodeShape BuildHuffmanTable(const BYTE *lengths, unsigned count, CodeKind kind, DWORD *table,
                            unsigned rootBits, unsigned capacity);

// Decodes one code with a table and drops its bits, leaving a length's or
// distance's extra bits in the buffer. The entry tells the caller what the
// code was; nothing is dropped for an invalid code. The caller has made
// kMaxCodeBits bits valid. (Not for literals, whose entries keep their
// byte where the code bits would be: the code-length code has none.)
inline DWORD DecodeEntry(const DWORD *table, unsigned rootBits, BitInput &in) {
  DWORD entry = table[PeekBits(rootBits, in)];
  if (entry & kEntrySubtable) {
    DumpBits(rootBits, in);
    entry = table[EntryValue(entry) + PeekBits(EntryCodeBits(entry), in)];
  }
  DumpBits(EntryCodeBits(entry), in);
  return entry;
}

#endif
