#include "inflate.h"

// The hot loop keeps the whole input and output state in locals: the window
// is written through a byte pointer, which may alias anything, so fields of
// `state` read in the loop would be reloaded after every byte written. The
// chunk's bytes are taken directly; only at the chunk's end does a byte come
// through NextCompressedByte, with `state` brought up to date around it.
struct CodeInput {
  const BYTE *next;
  LONG available;  // bytes of the chunk not yet taken, all within the member
  bool markers;    // an end marker has entered the bit buffer
};

static LONG SlowByte(CodeInput &in) {
  LONG taken = (LONG)(in.next - state.inputBuffer) - state.inputPos;
  state.bytesLeft -= taken;
  state.inputPos = (WORD)(in.next - state.inputBuffer);
  LONG c = NextCompressedByte();
  in.next = state.inputBuffer + state.inputPos;
  in.available = (LONG)state.inputCount - state.inputPos;
  if (c < 0) in.markers = true;
  return c;
}

static inline void Need(unsigned n, DWORD &b, unsigned &k, CodeInput &in) {
  while (k < n) {
    LONG c;
    if (in.available > 0) {
      c = *in.next++;
      --in.available;
    } else {
      c = SlowByte(in);
    }
    b |= (DWORD)c << k;
    k += 8;
  }
}

__attribute__((always_inline)) static inline const HuffmanEntry *Decode(const HuffmanEntry *t,
                                                                        unsigned m, DWORD &b,
                                                                        unsigned &k,
                                                                        CodeInput &in) {
  if (!t) return nullptr;
  Need(m, b, k, in);
  t += b & maskBits[m];
  while (t->op > kOpLiteral) {
    if (t->op == kOpInvalid) return nullptr;
    DumpBits(t->bits, b, k);
    unsigned e = t->op - 16u;
    Need(e, b, k, in);
    t = t->subtable + (b & maskBits[e]);
  }
  DumpBits(t->bits, b, k);
  return t;
}

static int Finish(int status, const CodeInput &in) {
  state.bytesLeft -= (LONG)(in.next - state.inputBuffer) - state.inputPos;
  state.inputPos = (WORD)(in.next - state.inputBuffer);
  return status;
}

int InflateCodes(const HuffmanEntry *tl, const HuffmanEntry *td, unsigned bl, unsigned bd) {
  DWORD b = state.bitBuffer;
  unsigned k = state.bitCount;
  unsigned w = state.windowPos;
  BYTE *window = state.slideWindow;
  CodeInput in;
  in.next = state.inputBuffer + state.inputPos;
  in.available = (LONG)state.inputCount - state.inputPos;
  in.markers = state.bytesLeft < 0;

  for (;;) {
    const HuffmanEntry *t = Decode(tl, bl, b, k, in);
    if (!t) return Finish(kStatusInvalidCode, in);
    if (in.markers && InputOverrun(k)) return Finish(kStatusInputEnded, in);
    unsigned e = t->op;
    if (e == kOpLiteral) {
      window[w++] = (BYTE)t->value;
      if (w == kWindowSize) {
        if (int status = FlushWindow(w)) return Finish(status, in);
        w = 0;
      }
      continue;
    }
    if (e == kOpEndOfBlock) break;

    Need(e, b, k, in);
    unsigned length = t->value + (b & maskBits[e]);
    DumpBits(e, b, k);
    t = Decode(td, bd, b, k, in);
    if (!t) return Finish(kStatusInvalidCode, in);
    e = t->op;
    Need(e, b, k, in);
    unsigned distance = t->value + (b & maskBits[e]);
    DumpBits(e, b, k);
    if (in.markers && InputOverrun(k)) return Finish(kStatusInputEnded, in);
    // Before the window first fills, only this member's output may be copied:
    // the rest of the window is another member's data or uninitialised.
    if (distance > w && !windowWrapped) return Finish(kStatusInvalidCode, in);

    // Copy in chunks that end at the window end; a chunk whose source lies
    // wholly behind it moves as one block, an overlapping one byte by byte so
    // that it repeats the bytes it has just written.
    unsigned d = (w - distance) & (kWindowSize - 1);
    do {
      unsigned chunk = kWindowSize - (d > w ? d : w);
      if (chunk > length) chunk = length;
      length -= chunk;
      BYTE *to = window + w;
      const BYTE *from = window + d;
      w += chunk;
      d += chunk;
      if (d <= (unsigned)(to - window)) {
        __builtin_memcpy(to, from, chunk);
      } else {
        do *to++ = *from++;
        while (--chunk);
      }
      if (w == kWindowSize) {
        if (int status = FlushWindow(w)) return Finish(status, in);
        w = 0;
      }
      d &= kWindowSize - 1;
    } while (length);
  }
  state.bitBuffer = b;
  state.bitCount = (WORD)k;
  state.windowPos = (WORD)w;
  return Finish(kStatusOk, in);
}
