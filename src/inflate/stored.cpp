#include "inflate.h"

int InflateStored() {
  DWORD b = state.bitBuffer;
  unsigned k = state.bitCount;
  unsigned w = state.windowPos;
  BYTE *window = state.slideWindow;

  DumpBits(k & 7, b, k);
  NeedBits(16, b, k);
  unsigned length = b & 0xFFFF;
  DumpBits(16, b, k);
  NeedBits(16, b, k);
  unsigned complement = b & 0xFFFF;
  DumpBits(16, b, k);
  if (InputOverrun(k)) return kStatusInputEnded;
  if (complement != (~length & 0xFFFF)) return kStatusBadStoredLength;

  // Whole bytes may still sit in the bit buffer; after them the bytes come
  // straight from the input. Neither may be an end marker.
  for (; length; --length) {
    LONG c;
    if (k) {
      c = b & 0xFF;
      DumpBits(8, b, k);
      if (InputOverrun(k)) return kStatusInputEnded;
    } else {
      c = NextCompressedByte();
      if (c < 0) return kStatusInputEnded;
    }
    window[w++] = (BYTE)c;
    if (w == kWindowSize) {
      if (FlushWindow(w)) return kStatusWriteFailed;
      w = 0;
    }
  }
  state.bitBuffer = b;
  state.bitCount = (WORD)k;
  state.windowPos = (WORD)w;
  return kStatusOk;
}
