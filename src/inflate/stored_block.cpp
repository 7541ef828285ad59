// Stored blocks (block type 0): bytes copied as they are.
#include "blocks.h"

// Copies bytes a word at a time where it can; the two ranges never overlap.
static void CopyRun(BYTE *to, const BYTE *from, unsigned count) {
  for (; count >= kWordBytes; count -= kWordBytes, to += kWordBytes, from += kWordBytes) {
    __builtin_memcpy(to, from, kWordBytes);
  }
  while (count--) *to++ = *from++;
}

// Copies a stored block: to the next byte boundary, LEN and its complement
// NLEN, then LEN bytes. A LEN whose NLEN disagrees is refused, and a byte
// that would come from past the member's data ends the block, so no end
// marker is ever taken for data; runs stop at the batch's end, where the
// batch is written out.
int InflateStored() {
  BitInput &in = bitInput;
  DumpBits(in.count & 7, in);
  NeedBits(16, in);
  unsigned length = PeekBits(16, in);
  DumpBits(16, in);
  NeedBits(16, in);
  unsigned complement = PeekBits(16, in);
  DumpBits(16, in);
  if (InputOverrun(in)) return kStatusInputEnded;
  if (complement != (~length & 0xFFFF)) return kStatusBadStoredLength;

  // The bytes still held in the bit buffer come first; once it is empty,
  // runs go straight from the input chunk to the window. One byte at a time
  // through the bit buffer crosses a chunk's end, and that byte may not be
  // an end marker.
  OutputWindow &w = outputWindow;
  while (length) {
    if (in.count == 0 && in.next < in.end) {
      unsigned run = (unsigned)(in.end - in.next);
      if (run > length) run = length;
      if (run > kBatchEnd - w.position) run = kBatchEnd - w.position;
      in.bits = 0;  // it held the low bits of the byte at `next`
      CopyRun(w.bytes + w.position, in.next, run);
      in.next += run;
      w.position += run;
      length -= run;
    } else {
      NeedBits(8, in);
      if (in.count < in.markerBits + 8) return kStatusInputEnded;
      w.bytes[w.position++] = (BYTE)PeekBits(8, in);
      DumpBits(8, in);
      --length;
    }
    if (w.position == kBatchEnd) {
      if (int status = FlushBatch()) return status;
    }
  }
  return kStatusOk;
}
