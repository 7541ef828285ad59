#include "../core/text.h"
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

  // The bit buffer is empty now: after the byte boundary it held at most 16
  // bits, and LEN and NLEN took 32. The bytes come straight from the input
  // chunk, in runs; at the chunk's end one byte goes through the byte source,
  // which refills the chunk, and it may not be the end marker.
  while (length) {
    unsigned run =
        (LONG)state.inputCount - (LONG)state.inputPos > 0 ? state.inputCount - state.inputPos : 0;
    if (run == 0) {
      LONG c = NextCompressedByte();
      if (c < 0) return kStatusInputEnded;
      window[w++] = (BYTE)c;
      --length;
    } else {
      if (run > length) run = length;
      if (run > kWindowSize - w) run = kWindowSize - w;
      CopyBytes(window + w, state.inputBuffer + state.inputPos, run);
      state.inputPos = (WORD)(state.inputPos + run);
      state.bytesLeft -= (LONG)run;
      w += run;
      length -= run;
    }
    if (w == kWindowSize) {
      if (int status = FlushWindow(w)) return status;
      w = 0;
    }
  }
  state.bitBuffer = 0;
  state.bitCount = 0;
  state.windowPos = (WORD)w;
  return kStatusOk;
}
