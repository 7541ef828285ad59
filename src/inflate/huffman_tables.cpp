#include "huffman_tables.h"

// Base lengths and extra bits of length symbols 257..285, and of distance
// symbols 0..29. Symbols 286, 287, 30 and 31 may be given code lengths but
// mean nothing: they decode as invalid codes.
static const WORD lengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const BYTE lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
static const WORD distanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const BYTE distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The table entry of one symbol whose code has `codeBits` bits at its level.
static inline DWORD SymbolEntry(CodeKind kind, unsigned symbol, unsigned codeBits) {
  DWORD bits = (DWORD)codeBits << 8 | codeBits;
  if (kind == kCodeLengthCode) return (DWORD)symbol << 16 | bits;
  if (kind == kDistanceCode) {
    if (symbol >= 30) return kEntryInvalid;
    return (DWORD)distanceBase[symbol] << 16 | (bits + distanceExtra[symbol]);
  }
  if (symbol < 256) return kEntryLiteral | symbol << 8 | codeBits;
  if (symbol == 256) return kEntryExceptional | kEntryEndOfBlock | bits;
  if (symbol - 257 >= 29) return kEntryInvalid;
  return (DWORD)lengthBase[symbol - 257] << 16 | (bits + lengthExtra[symbol - 257]);
}

// Step 1, counting: how many symbols have a code of each length.
static void CountLengths(const BYTE *lengths, unsigned count, unsigned *ofLength) {
  for (unsigned length = 0; length <= kMaxCodeBits; ++length) ofLength[length] = 0;
  for (unsigned symbol = 0; symbol < count; ++symbol) ofLength[lengths[symbol]]++;
}

// Step 2, the completeness check: a code of length L owns 2^(15 - L) of the
// 2^15 patterns of 15 bits; a prefix code can own all of them at most.
static CodeShape ShapeOf(const unsigned *ofLength) {
  const DWORD allPatterns = 1u << kMaxCodeBits;
  DWORD owned = 0;
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
    owned += (DWORD)ofLength[length] << (kMaxCodeBits - length);
  }
  if (owned > allPatterns) return kCodeOversubscribed;
  if (owned == allPatterns) return kCodeComplete;
  if (owned == 0) return kCodeEmpty;
  // The one incomplete code a deflate encoder must make: a single
  // distance (or literal) with a 1-bit code.
  if (owned == allPatterns / 2 && ofLength[1] == 1) return kCodeSingle;
  return kCodeIncomplete;
}

// Step 3, sorting: the symbols that have a code, by code length and by
// symbol within a length, which is the order canonical codes are handed out
// in. Returns how many there are. The symbols without a code go after
// them, so that every symbol is stored without a test: which symbols have
// a code follows no pattern a branch could predict.
static unsigned SortSymbols(const BYTE *lengths, unsigned count, const unsigned *ofLength,
                            WORD *sorted) {
  unsigned start[kMaxCodeBits + 2];
  start[1] = 0;
  for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
    start[length + 1] = start[length] + ofLength[length];
  }
  unsigned coded = start[kMaxCodeBits + 1];
  start[0] = coded;
  for (unsigned symbol = 0; symbol < count; ++symbol) {
    sorted[start[lengths[symbol]]++] = (WORD)symbol;
  }
  return coded;
}

// The code after `code` (both of `length` bits), kept bit-reversed: the
// stream sends a code's most significant bit first, and the table is
// indexed with the bits in the order they arrive. Moving on to a longer
// length appends zero bits, which the reversed form keeps as it is.
// Adding one turns the lowest zero bit of the unreversed code to one and
// the ones below it to zeros: here the highest zero bit of the `length`
// bits, and the bits above it, found without a loop whose length a branch
// would have to guess. (After the last code of a complete code, all ones,
// the result means nothing and is not used.)
static unsigned NextCode(unsigned code, unsigned length) {
  unsigned zeros = (code ^ ((1u << length) - 1)) | 1;
  unsigned bit = 1u << (31 - __builtin_clz(zeros));
  return (code & (bit - 1)) | bit;
}

// Writes `entry` at `first` and every `stride` entries after it, up to `size`:
// a code shorter than the table's index bits owns every index that starts
// with it.
static void Replicate(DWORD *table, unsigned first, unsigned stride, unsigned size, DWORD entry) {
  for (unsigned i = first; i < size; i += stride) table[i] = entry;
}

// The index bits of a sub-table whose first code has `length` bits: the
// fewest that the codes still to be placed, shortest first, fill; or, for
// the last sub-table of an incomplete code, enough for its longest code.
static unsigned SubtableBits(unsigned length, unsigned rootBits, const unsigned *left,
                             unsigned longest) {
  unsigned bits = length - rootBits;
  LONG space = 1 << bits;
  for (;;) {
    space -= (LONG)left[rootBits + bits];
    if (space <= 0 || rootBits + bits >= longest) return bits;
    ++bits;
    space <<= 1;
  }
}

// How much room a table needs. All sub-tables but the last are filled by
// their codes (canonical codes are handed out without gaps), and a filled
// sub-table of b index bits holds at least b + 1 codes longer than the
// root, since a complete code b bits deep has b + 1 codes or more. With at
// most 15 - root index bits each, n symbols need no more than the root and
// n / (16 - root) + 1 sub-tables of 2^(15 - root) entries: TableCapacity.

struct TableFill {
  DWORD *table;
  unsigned rootBits;
  unsigned capacity;
  bool complete;    // every entry gets written; no need to preset invalid ones
  unsigned used;    // entries taken by the root and the sub-tables so far
  unsigned prefix;  // the root index the open sub-table hangs from
  unsigned subtable, subtableBits;
};

// Opens the sub-table for the codes that start with root index `prefix`.
static bool OpenSubtable(TableFill &f, unsigned prefix, unsigned length, const unsigned *left,
                         unsigned longest) {
  unsigned bits = SubtableBits(length, f.rootBits, left, longest);
  if (f.used + (1u << bits) > f.capacity) return false;
  f.prefix = prefix;
  f.subtable = f.used;
  f.subtableBits = bits;
  f.used += 1u << bits;
  if (!f.complete) Replicate(f.table, f.subtable, 1, f.used, kEntryInvalid);
  f.table[prefix] =
      kEntryExceptional | kEntrySubtable | (DWORD)f.subtable << 16 | (DWORD)bits << 8 | f.rootBits;
  return true;
}

// Copies `count` entries (a power of two, at least 2), a machine word at a
// time; the two ranges never overlap.
static void CopyEntries(DWORD *to, const DWORD *from, unsigned count) {
  const unsigned perWord = kWordBytes / sizeof(DWORD);
  unsigned i = 0;
  for (; i + 4 * perWord <= count; i += 4 * perWord) {
    BitWord words[4];
    __builtin_memcpy(words, from + i, sizeof words);
    __builtin_memcpy(to + i, words, sizeof words);
  }
  for (; i < count; i += perWord) {
    BitWord word;
    __builtin_memcpy(&word, from + i, kWordBytes);
    __builtin_memcpy(to + i, &word, kWordBytes);
  }
}

// Step 4, the root: the codes of each length from the shortest up to the
// root bits, in canonical order. The first 2^L entries of the root hold
// every code of L bits or fewer once all codes of length L are in: each
// code at its own index, the shorter ones repeated by the copies that
// doubled the filled part on the way up. Where the code is not complete,
// the filled part first reads as invalid. Returns how many symbols went in
// and leaves `code` at the next code.
static unsigned FillRoot(TableFill &f, CodeKind kind, const WORD *sorted, const unsigned *ofLength,
                         unsigned shortest, unsigned &code) {
  unsigned first = shortest < f.rootBits ? shortest : f.rootBits;
  unsigned filled = 1u << first;
  if (!f.complete) Replicate(f.table, 0, 1, filled, kEntryInvalid);
  unsigned i = 0;
  for (unsigned length = first;; ++length) {
    for (unsigned n = ofLength[length]; n; --n, ++i) {
      f.table[code] = SymbolEntry(kind, sorted[i], length);
      code = NextCode(code, length);
    }
    if (length == f.rootBits) return i;
    CopyEntries(f.table + filled, f.table, filled);
    filled *= 2;
  }
}

// Step 5, the longer codes: each in the sub-table of its root index, at
// every index of the sub-table that starts with it. `left` counts the codes
// of each length still to be placed (those of the root are never read).
static bool FillSubtables(TableFill &f, CodeKind kind, const BYTE *lengths, const WORD *sorted,
                          unsigned i, unsigned coded, unsigned code, unsigned *left) {
  unsigned rootSize = 1u << f.rootBits;
  unsigned longest = lengths[sorted[coded - 1]];
  for (; i < coded; ++i) {
    unsigned symbol = sorted[i];
    unsigned length = lengths[symbol];
    unsigned prefix = code & (rootSize - 1);
    if (prefix != f.prefix && !OpenSubtable(f, prefix, length, left, longest)) return false;
    unsigned rest = length - f.rootBits;
    Replicate(f.table + f.subtable, code >> f.rootBits, 1u << rest, 1u << f.subtableBits,
              SymbolEntry(kind, symbol, rest));
    --left[length];
    code = NextCode(code, length);
  }
  return true;
}

CodeShape BuildHuffmanTable(const BYTE *lengths, unsigned count, CodeKind kind, DWORD *table,
                            unsigned rootBits, unsigned capacity) {
  unsigned ofLength[kMaxCodeBits + 1];
  CountLengths(lengths, count, ofLength);
  CodeShape shape = ShapeOf(ofLength);
  if (shape == kCodeOversubscribed) return shape;
  if (shape == kCodeEmpty) {
    Replicate(table, 0, 1, 1u << rootBits, kEntryInvalid);
    return shape;
  }
  WORD sorted[kMaxLiteralSymbols];
  unsigned coded = SortSymbols(lengths, count, ofLength, sorted);
  TableFill fill;
  fill.table = table;
  fill.rootBits = rootBits;
  fill.capacity = capacity;
  fill.complete = shape == kCodeComplete;
  fill.used = 1u << rootBits;
  fill.prefix = 1u << rootBits;  // no sub-table open
  fill.subtable = 0;
  fill.subtableBits = 0;
  unsigned code = 0;
  unsigned placed = FillRoot(fill, kind, sorted, ofLength, lengths[sorted[0]], code);
  // Never for lengths of at most 15 (see TableCapacity); a table that would
  // not fit is refused rather than written past its end.
  if (!FillSubtables(fill, kind, lengths, sorted, placed, coded, code, ofLength)) {
    return kCodeOversubscribed;
  }
  return shape;
}
