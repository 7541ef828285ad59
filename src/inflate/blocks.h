// The decoder's own procedures: the window the blocks write into, and one
// procedure per block type, each decoding one block's body from the bit
// input (bit_input.h) into the window. InflateMember (member.cpp) reads the
// block headers and calls them.
#ifndef VANTREL_INFLATE_BLOCKS_H
#define VANTREL_INFLATE_BLOCKS_H

#include "bit_input.h"
#include "huffman_tables.h"
#include "inflate.h"

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

// Each returns kStatusOk when its block ended as deflate ends it, or the
// status that ends the member.
int InflateBlock(DWORD *last);  // member.cpp: one block's header, then its body
int InflateStored();            // stored_block.cpp
int InflateFixed();             // fixed_block.cpp
int InflateDynamic();           // dynamic_block.cpp
int InflateCodes(const DWORD *literals, const DWORD *distances);  // decode_loop.cpp

// Writes `count` bytes of the window from `from` to the output file with one
// WriteFile call, folding what was written into the CRC; nothing is written
// past the member's declared size (window.cpp).
int FlushWindow(const BYTE *from, unsigned count);

// Writes the half that ends at `end` (kHalfWindow or kWindowSpan) when the
// position has reached it, and at the window's end moves what ran past it
// to the start. The position is updated.
int FlushHalf(unsigned end);

#endif
