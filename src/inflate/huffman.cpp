#include "huffman.h"

#include "../core/runtime.h"

const WORD lengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10,  11,  13,  15,  17,  19,  23, 27, 31,
                             35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
const BYTE lengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                              3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
const WORD distanceBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,   33,
                               49,   65,   97,   129,  193,  257,   385,   513,   769, 1025, 1537,
                               2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 0,   0};
const BYTE distanceExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 99, 99};

enum { kMaxCodeBits = 16, kMaxSymbols = 288 };

// Allocates a table of 2^bits entries behind a link entry that chains it onto
// the list; returns the table proper.
static HuffmanEntry *NewTable(unsigned bits, HuffmanEntry **list) {
  HuffmanEntry *block =
      (HuffmanEntry *)AllocateBlock(((1u << bits) + 1) * (DWORD)sizeof(HuffmanEntry));
  block->subtable = *list;
  *list = block + 1;
  return block + 1;
}

int BuildHuffmanTable(const WORD *lengths, unsigned n, unsigned s, const WORD *bases,
                      const BYTE *extras, HuffmanEntry **root, HuffmanEntry **list, unsigned *m) {
  unsigned c[kMaxCodeBits + 1];
  unsigned x[kMaxCodeBits + 1];
  WORD v[kMaxSymbols + 1];
  // Level arrays run from -1, kept at index 0 here: level h lives at h + 1.
  unsigned lxStore[kMaxCodeBits + 2];
  HuffmanEntry *u[kMaxCodeBits + 1];
  unsigned *lx = lxStore + 1;

  unsigned el = n > 256 ? lengths[256] : (unsigned)kMaxCodeBits;
  for (unsigned j = 0; j <= kMaxCodeBits; ++j) c[j] = 0;
  for (unsigned i = 0; i < n; ++i) c[lengths[i]]++;
  if (c[0] == n) {
    *root = nullptr;
    *m = 0;
    return kBuildComplete;
  }

  unsigned k = 1;
  while (c[k] == 0) ++k;
  unsigned g = kMaxCodeBits;
  while (c[g] == 0) --g;
  unsigned l = *m;
  if (l < k) l = k;
  if (l > g) l = g;

  // Kraft check; the patterns an incomplete code leaves free become extra
  // codes of the longest length, which decode as invalid.
  int y = 1 << k;
  for (unsigned j = k; j < g; ++j, y <<= 1) {
    y -= (int)c[j];
    if (y < 0) return kBuildOversubscribed;
  }
  y -= (int)c[g];
  if (y < 0) return kBuildOversubscribed;
  c[g] += (unsigned)y;

  // Symbols sorted by code length, by symbol within a length.
  x[1] = 0;
  for (unsigned j = 1; j < g; ++j) x[j + 1] = x[j] + c[j];
  for (unsigned i = 0; i < n; ++i) {
    if (lengths[i]) v[x[lengths[i]]++] = (WORD)i;
  }
  unsigned coded = n - c[0];

  *root = nullptr;
  unsigned i = 0;  // the current code, bit-reversed
  unsigned p = 0;
  int h = -1;
  unsigned w = 0;
  lx[-1] = 0;
  x[0] = 0;
  HuffmanEntry *q = nullptr;
  unsigned z = 0;
  for (; k <= g; ++k) {
    for (unsigned a = c[k]; a-- > 0;) {
      // Open tables down to the level in which this code ends.
      while (k > w + lx[h]) {
        w += lx[h];
        ++h;
        z = g - w < l ? g - w : l;
        unsigned j = k - w;
        unsigned f = 1u << j;
        if (f > a + 1 && j < z) {
          // Too few codes of this length to fill a j-bit table: grow it, up
          // to the limit, while the longer codes fill it.
          f -= a + 1;
          for (++j; j < z; ++j) {
            f <<= 1;
            if (f <= c[w + j]) break;
            f -= c[w + j];
          }
        }
        // The end-of-block code ends exactly at a table boundary, so a block
        // end never asks for bits beyond it.
        if (w + j > el && w < el) j = el - w;
        z = 1u << j;
        lx[h] = j;
        q = NewTable(j, list);
        u[h] = q;
        if (!*root) *root = q;
        if (h > 0) {
          x[h] = i;
          HuffmanEntry r;
          r.bits = (BYTE)lx[h - 1];
          r.op = (BYTE)(16 + j);
          r.value = 0;
          r.subtable = q;
          u[h - 1][(i & ((1u << w) - 1)) >> (w - lx[h - 1])] = r;
        }
      }

      HuffmanEntry r;
      r.bits = (BYTE)(k - w);
      r.subtable = nullptr;
      r.value = 0;
      if (p >= coded) {
        r.op = kOpInvalid;
      } else {
        unsigned symbol = v[p++];
        if (symbol < s) {
          r.op = symbol < 256 ? kOpLiteral : kOpEndOfBlock;
          r.value = (WORD)symbol;
        } else {
          r.op = extras[symbol - s];
          r.value = bases[symbol - s];
        }
      }
      for (unsigned j = i >> w; j < z; j += 1u << (k - w)) q[j] = r;

      unsigned j = 1u << (k - 1);
      while (i & j) {
        i ^= j;
        j >>= 1;
      }
      i ^= j;

      while ((i & ((1u << w) - 1)) != x[h]) {
        --h;
        w -= lx[h];
      }
    }
  }
  *m = lx[0];
  return (y != 0 && g != 1) ? kBuildIncomplete : kBuildComplete;
}

void FreeHuffmanTables(HuffmanEntry *list) {
  while (list) {
    HuffmanEntry *next = list[-1].subtable;
    ReleaseBlock(list - 1);
    list = next;
  }
}
