// Blocks of the fixed codes (block type 1).
#include "blocks.h"

// The fixed codes never change: their tables are built by the first fixed
// block the program meets and serve every fixed block after it.
static DWORD fixedLiteralTable[kLiteralTableSize];
static DWORD fixedDistanceTable[1u << kDistanceRootBits];
static BYTE fixedTablesBuilt;

static void BuildFixedTables() {
  BYTE lengths[kMaxLiteralSymbols];
  unsigned i = 0;
  for (; i < 144; ++i) lengths[i] = 8;
  for (; i < 256; ++i) lengths[i] = 9;
  for (; i < 280; ++i) lengths[i] = 7;
  for (; i < 288; ++i) lengths[i] = 8;
  BuildHuffmanTable(lengths, 288, kLiteralLengthCode, fixedLiteralTable, kLiteralRootBits,
                    kLiteralTableSize);
  // Thirty 5-bit codes: the two free patterns decode as invalid.
  for (i = 0; i < 30; ++i) lengths[i] = 5;
  BuildHuffmanTable(lengths, 30, kDistanceCode, fixedDistanceTable, kDistanceRootBits,
                    1u << kDistanceRootBits);
  fixedTablesBuilt = 1;
}

// Decodes a block of the fixed codes. Their tables are complete for the
// literal/length code and leave two distance patterns free, which decode as
// invalid codes; the loop itself is InflateCodes.
int InflateFixed() {
  if (!fixedTablesBuilt) BuildFixedTables();
  return InflateCodes(fixedLiteralTable, fixedDistanceTable);
}
