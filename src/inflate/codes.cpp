#include "../startup/text.h"
#include "inflate.h"

int InflateCodes(const HuffmanEntry *tl, const HuffmanEntry *td, unsigned bl, unsigned bd) {
  DWORD b = state.bitBuffer;
  unsigned k = state.bitCount;
  unsigned w = state.windowPos;
  BYTE *window = state.slideWindow;

  for (;;) {
    const HuffmanEntry *t = DecodeSymbol(tl, bl, b, k);
    if (!t) return kStatusInvalidCode;
    if (InputOverrun(k)) return kStatusInputEnded;
    unsigned e = t->op;
    if (e == kOpLiteral) {
      window[w++] = (BYTE)t->value;
      if (w == kWindowSize) {
        if (FlushWindow(w)) return kStatusWriteFailed;
        w = 0;
      }
      continue;
    }
    if (e == kOpEndOfBlock) break;

    NeedBits(e, b, k);
    unsigned length = t->value + (b & maskBits[e]);
    DumpBits(e, b, k);
    t = DecodeSymbol(td, bd, b, k);
    if (!t) return kStatusInvalidCode;
    e = t->op;
    NeedBits(e, b, k);
    unsigned distance = t->value + (b & maskBits[e]);
    DumpBits(e, b, k);
    if (InputOverrun(k)) return kStatusInputEnded;
    // Before the window first fills, only this member's output may be copied:
    // the rest of the window is another member's data or uninitialised.
    if (distance > w && !windowWrapped) return kStatusInvalidCode;

    // Copy in chunks that end at the window end; a chunk whose source lies
    // wholly behind it moves as one block, an overlapping one byte by byte so
    // that it repeats the bytes it has just written.
    unsigned d = (w - distance) & (kWindowSize - 1);
    do {
      unsigned chunk = kWindowSize - (d > w ? d : w);
      if (chunk > length) chunk = length;
      length -= chunk;
      if (w >= d + chunk) {
        CopyBytes(window + w, window + d, chunk);
        w += chunk;
        d += chunk;
      } else {
        do window[w++] = window[d++];
        while (--chunk);
      }
      if (w == kWindowSize) {
        if (FlushWindow(w)) return kStatusWriteFailed;
        w = 0;
      }
      d &= kWindowSize - 1;
    } while (length);
  }
  state.bitBuffer = b;
  state.bitCount = (WORD)k;
  state.windowPos = (WORD)w;
  return kStatusOk;
}
