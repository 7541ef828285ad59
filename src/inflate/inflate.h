// The deflate decoder: decodes one deflated member from the package file
// into `state.outFile` through a window of two 32 KiB halves, folding every
// byte written into `state.memberCrc`.
#ifndef VANTREL_INFLATE_H
#define VANTREL_INFLATE_H

#include "huffman.h"

// Decodes the member at the package file's position, `state.bytesLeft`
// compressed bytes long. Returns kStatusOk only when the stream ended as
// deflate ends, every byte was written and the output stayed within the
// declared size; a damaged member ends early with another status. A short
// write also sets `state.ioError`.
int InflateMember();

// Statuses of the block procedures. Any non-zero status ends the member.
enum {
  kStatusOk = 0,
  kStatusInvalidCode = 1,      // also an incomplete code where none may be
  kStatusOversubscribed = 2,   // a code with more codes than bit patterns
  kStatusInputEnded = 4,       // the block needs bits beyond the member's data
  kStatusWriteFailed = 5,      // the output file took fewer bytes than asked
  kStatusBadStoredLength = 6,  // NLEN is not the complement of LEN
  kStatusTooLong = 7,          // the output would pass the member's declared size
};

// The window. Output goes into one half while the other, written out
// already, still serves back-references: a copy reaches back at most 32,768
// bytes, so the bytes just after the write position are never needed
// again, and a copy may run past its end in whole words. A half is written
// to the file when the position passes its end; what a copy wrote beyond the
// window's end then moves to its start.
enum {
  kHalfWindow = kWindowSize,
  kWindowSpan = 2 * kWindowSize,
  kWindowSlack = 512,  // a longest copy past the end, and a word more
  kWindowAllocation = kWindowSpan + kWindowSlack,
};

// The decoder's output position, kept from block to block.
struct OutputWindow {
  BYTE *bytes;        // state.slideWindow
  unsigned position;  // index of the next output byte, 0..65,535 between blocks
  BYTE full;          // a whole half has been written: every distance reaches output
};
extern OutputWindow outputWindow;

int InflateBlock(DWORD *last);
int InflateStored();
int InflateFixed();
int InflateDynamic();
int InflateCodes(const DWORD *literals, const DWORD *distances);

// Writes the half that ends at `end` (kHalfWindow or kWindowSpan) when the
// position has reached it, and at the window's end moves what ran past it
// to the start. The position is updated.
int FlushHalf(unsigned end);

#endif
