// Blocks of codes the block itself defines (block type 2): the code-length
// code, the lengths it codes, and the two codes built from them.
#include "blocks.h"

// The tables of the block being decoded. One member is decoded at a time,
// so they live in uninitialised data: no allocation, no file space.
static DWORD codeLengthTable[kCodeLengthTableSize];
static DWORD literalTable[kLiteralTableSize];
static DWORD distanceTable[kDistanceTableSize];

// What each code's shape means for its block. Every code must be complete
// (or the single 1-bit code) and none oversubscribed; a literal/length code
// without any symbol only fails at its first lookup; the distance code may
// also leave patterns free, which fail only when used.
struct ShapesAllowed {
  bool empty;
  bool incomplete;
};
static const ShapesAllowed kCodeLengthShapes = {false, false};
static const ShapesAllowed kLiteralShapes = {true, false};
static const ShapesAllowed kDistanceShapes = {true, true};

static int CodeStatus(CodeShape shape, ShapesAllowed allowed) {
  switch (shape) {
    case kCodeComplete:
    case kCodeSingle:
      return kStatusOk;
    case kCodeEmpty:
      return allowed.empty ? kStatusOk : kStatusInvalidCode;
    case kCodeIncomplete:
      return allowed.incomplete ? kStatusOk : kStatusInvalidCode;
    case kCodeOversubscribed:
      return kStatusOversubscribed;
  }
  return kStatusInvalidCode;
}

static const BYTE codeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

// Reads the `total` literal/length and distance code lengths with the
// code-length code. A repeat may run from one list into the other, never
// past the end; a repeat of the previous length before any length repeats 0.
static int ReadCodeLengths(BYTE *lengths, unsigned total) {
  BitInput &in = bitInput;
  unsigned i = 0, previous = 0;
  while (i < total) {
    NeedBits(14, in);  // a 7-bit code and up to 7 extra bits
    DWORD entry = DecodeEntry(codeLengthTable, kCodeLengthRootBits, in);
    if (entry & kEntryExceptional) return kStatusInvalidCode;
    unsigned symbol = EntryValue(entry);
    if (symbol < 16) {
      lengths[i++] = (BYTE)(previous = symbol);
      continue;
    }
    unsigned extra = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
    unsigned repeat = (symbol == 18 ? 11 : 3) + PeekBits(extra, in);
    DumpBits(extra, in);
    if (symbol != 16) previous = 0;
    if (repeat > total - i) return kStatusInvalidCode;
    while (repeat--) lengths[i++] = (BYTE)previous;
  }
  return InputOverrun(in) ? kStatusInputEnded : kStatusOk;
}

// Decodes a block of dynamic codes. The counts of its header cannot exceed
// the arrays (at most 288 + 32 lengths), a repeat may not run past the last
// length, and a code is used only when its shape allows (the statuses
// above); the tables are filled within their fixed sizes by
// BuildHuffmanTable, and the loop itself is InflateCodes.
int InflateDynamic() {
  BitInput &in = bitInput;
  NeedBits(14, in);
  unsigned literals = 257 + PeekBits(5, in);
  unsigned distances = 1 + (PeekBits(10, in) >> 5);
  unsigned codeLengths = 4 + (PeekBits(14, in) >> 10);
  DumpBits(14, in);

  BYTE lengths[kMaxLiteralSymbols + kMaxDistanceSymbols];
  for (unsigned j = 0; j < 19; ++j) {
    unsigned length = 0;
    if (j < codeLengths) {
      NeedBits(3, in);
      length = PeekBits(3, in);
      DumpBits(3, in);
    }
    lengths[codeLengthOrder[j]] = (BYTE)length;
  }
  int status = CodeStatus(BuildHuffmanTable(lengths, 19, kCodeLengthCode, codeLengthTable,
                                             kCodeLengthRootBits, kCodeLengthTableSize),
                          kCodeLengthShapes);
  if (status) return status;
  status = ReadCodeLengths(lengths, literals + distances);
  if (status) return status;
  status = CodeStatus(BuildHuffmanTable(lengths, literals, kLiteralLengthCode, literalTable,
                                        kLiteralRootBits, kLiteralTableSize),
                      kLiteralShapes);
  if (status) return status;
  status = CodeStatus(BuildHuffmanTable(lengths + literals, distances, kDistanceCode,
                                        distanceTable, kDistanceRootBits, kDistanceTableSize),
                      kDistanceShapes);
  if (status) return status;
  return InflateCodes(literalTable, distanceTable);
}
