// Prefix-code lookup tables. A code is decoded by indexing its root table
// with the next lookup bits of the stream; longer codes continue into
// sub-tables, one lookup per level.
#ifndef VANTREL_HUFFMAN_H
#define VANTREL_HUFFMAN_H

#include "bit_input.h"

enum {
  kOpEndOfBlock = 15,
  kOpLiteral = 16,  // also a symbol of the code-length code
  kOpInvalid = 99,  // a pattern no symbol owns, or a symbol without meaning
};

// One table entry. op 0..13: length or distance base in `value` with that
// many extra bits; 15: end of block; 16: literal `value`; 17..32: `subtable`
// is indexed by op - 16 further bits; 99: invalid code. `bits` is the number
// of bits this entry consumes at its level.
struct HuffmanEntry {
  BYTE op;
  BYTE bits;
  WORD value;
  HuffmanEntry *subtable;
};

enum {
  kBuildComplete = 0,
  kBuildIncomplete = 1,
  kBuildOversubscribed = 2,
};

extern const WORD lengthBase[31];
extern const BYTE lengthExtra[31];
// Distance symbols 30 and 31 may be declared by a block but mean nothing:
// their entries exist so that a table for them is never built from bytes
// beyond the table, and they decode as invalid codes.
extern const WORD distanceBase[32];
extern const BYTE distanceExtra[32];

// Builds the tables for the `n` code lengths at `lengths` onto `*list`. Symbols
// below `s` stand for themselves; the others take op and value from
// extras/bases at symbol - s. `*m` is the requested root lookup bits in and the
// real ones out. `*root` is null when no symbol has a code. Returns a
// kBuild* result; an oversubscribed code allocates nothing.
int BuildHuffmanTable(const WORD *lengths, unsigned n, unsigned s, const WORD *bases,
                      const BYTE *extras, HuffmanEntry **root, HuffmanEntry **list, unsigned *m);

// Releases every table on a list, newest first.
void FreeHuffmanTables(HuffmanEntry *list);

// Decodes one code with the table tree at `root` (root lookup bits `m`) and
// drops its bits; null for an invalid code, and for any lookup in a code
// without symbols (null root).
inline const HuffmanEntry *DecodeSymbol(const HuffmanEntry *root, unsigned m, DWORD &b,
                                        unsigned &k) {
  if (!root) return nullptr;
  NeedBits(m, b, k);
  const HuffmanEntry *t = root + (b & maskBits[m]);
  while (t->op > kOpLiteral) {
    if (t->op == kOpInvalid) return nullptr;
    DumpBits(t->bits, b, k);
    unsigned e = t->op - 16u;
    NeedBits(e, b, k);
    t = t->subtable + (b & maskBits[e]);
  }
  DumpBits(t->bits, b, k);
  return t;
}

#endif
