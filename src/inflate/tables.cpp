#include "inflate.h"

int InflateFixed() {
  // Built once per member and shared by all its fixed blocks.
  if (!state.fixedLiteralRoot) {
    WORD lengths[288];
    unsigned i = 0;
    for (; i < 144; ++i) lengths[i] = 8;
    for (; i < 256; ++i) lengths[i] = 9;
    for (; i < 280; ++i) lengths[i] = 7;
    for (; i < 288; ++i) lengths[i] = 8;
    unsigned bits = 7;
    BuildHuffmanTable(lengths, 288, 257, lengthBase, lengthExtra, &state.fixedLiteralRoot,
                      &fixedTableList, &bits);
    for (i = 0; i < 30; ++i) lengths[i] = 5;
    bits = 5;
    // Incomplete by design: the two free patterns decode as invalid.
    BuildHuffmanTable(lengths, 30, 0, distanceBase, distanceExtra, &state.fixedDistanceRoot,
                      &fixedTableList, &bits);
  }
  return InflateCodes(state.fixedLiteralRoot, state.fixedDistanceRoot, 7, 5);
}

static const BYTE codeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

// Reads the `total` literal/length and distance code lengths with the
// code-length code. A repeat may run from one list into the other, never
// past the end.
static int ReadCodeLengths(const HuffmanEntry *root, unsigned bits, WORD *lengths, unsigned total) {
  DWORD b = state.bitBuffer;
  unsigned k = state.bitCount;
  unsigned i = 0, previous = 0;
  while (i < total) {
    const HuffmanEntry *t = DecodeSymbol(root, bits, b, k);
    if (!t) return kStatusInvalidCode;
    unsigned symbol = t->value;
    if (symbol < 16) {
      lengths[i++] = (WORD)(previous = symbol);
      continue;
    }
    unsigned extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    NeedBits(extra, b, k);
    unsigned count = (symbol == 18 ? 11 : 3) + (b & maskBits[extra]);
    DumpBits(extra, b, k);
    if (symbol != 16) previous = 0;
    if (count > total - i) return kStatusInvalidCode;
    while (count--) lengths[i++] = (WORD)previous;
  }
  state.bitBuffer = b;
  state.bitCount = (WORD)k;
  return InputOverrun(k) ? kStatusInputEnded : kStatusOk;
}

int InflateDynamic() {
  DWORD b = state.bitBuffer;
  unsigned k = state.bitCount;
  NeedBits(14, b, k);
  unsigned nl = 257 + (b & 31);
  unsigned nd = 1 + ((b >> 5) & 31);
  unsigned nb = 4 + ((b >> 10) & 15);
  DumpBits(14, b, k);

  WORD lengths[320];
  for (unsigned j = 0; j < 19; ++j) {
    unsigned length = 0;
    if (j < nb) {
      NeedBits(3, b, k);
      length = b & 7;
      DumpBits(3, b, k);
    }
    lengths[codeLengthOrder[j]] = (WORD)length;
  }
  state.bitBuffer = b;
  state.bitCount = (WORD)k;

  HuffmanEntry *root, *list = nullptr;
  unsigned bits = 7;
  int status = BuildHuffmanTable(lengths, 19, 19, nullptr, nullptr, &root, &list, &bits);
  if (status == kStatusOk) status = ReadCodeLengths(root, bits, lengths, nl + nd);
  FreeHuffmanTables(list);
  if (status) return status;

  HuffmanEntry *tl, *td, *literalList = nullptr, *distanceList = nullptr;
  unsigned bl = 9, bd = 6;
  status = BuildHuffmanTable(lengths, nl, 257, lengthBase, lengthExtra, &tl, &literalList, &bl);
  if (status == kStatusOk) {
    // An incomplete distance code is accepted; its free patterns are invalid.
    status = BuildHuffmanTable(lengths + nl, nd, 0, distanceBase, distanceExtra, &td, &distanceList,
                               &bd);
    if (status <= kBuildIncomplete) status = InflateCodes(tl, td, bl, bd);
  }
  FreeHuffmanTables(literalList);
  FreeHuffmanTables(distanceList);
  return status;
}
