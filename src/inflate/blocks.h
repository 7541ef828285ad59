// The decoder's own procedures: the window the blocks write into, and one
// procedure per block type, each decoding one block's body from the bit
// input (bit_input.h) into the window. InflateMember (member.cpp) reads the
// block headers and calls them.
#ifndef VANTREL_INFLATE_BLOCKS_H
#define VANTREL_INFLATE_BLOCKS_H

#include "bit_input.h"
#include "huffman_tables.h"
#include "inflate.h"

// The window: the last 32 KiB of output, which back-references reach into,
// followed by room for a batch of new output. Every copy is thus a plain
// copy from behind the write position, and may run past its end in whole
// words. When the position passes the batch's end, the batch is written to
// the file with one call (a few large writes cost the system less than
// many small ones), and the last 32 KiB of output, with what ran past the
// end, move to the window's start.
// The fuzz build takes batches of one window (VANTREL_DECODER_BATCH_WINDOWS),
// so that inputs of a few KiB reach a batch's end and its move.
#ifndef VANTREL_DECODER_BATCH_WINDOWS
#define VANTREL_DECODER_BATCH_WINDOWS 7
#endif
enum {
  kHistory = kWindowSize,
  kBatch = VANTREL_DECODER_BATCH_WINDOWS * kWindowSize,
  kBatchEnd = kHistory + kBatch,
  kWindowSlack = 512,  // a longest copy past the end, and its words
  kWindowAllocation = kBatchEnd + kWindowSlack,
};

// The decoder's output position, kept from block to block.
struct OutputWindow {
  BYTE *bytes;        // state.slideWindow
  unsigned position;  // index of the next output byte, kHistory..kBatchEnd between blocks
  BYTE full;          // a batch has been written: the history holds 32 KiB of output
};
extern OutputWindow outputWindow;

// Each returns kStatusOk when its block ended as deflate ends it, or the
// status that ends the member.
int InflateBlock(DWORD *last);  // member.cpp: one block's header, then its body
int InflateStored();            // stored_block.cpp
int InflateFixed();             // fixed_block.cpp
int InflateDynamic();           // dynamic_block.cpp
int InflateCodes(const DWORD *literals, const DWORD *distances);  // decode_loop.cpp

// Writes `count` bytes of the window from `from` to the output file with
// one WriteFile call, folding what was written into the CRC; nothing is
// written past the member's declared size (window.cpp).
int FlushWindow(const BYTE *from, unsigned count);

// Writes the batch once the position has reached its end, and moves the
// last 32 KiB of output and what ran past the end to the window's start.
// The position is updated.
int FlushBatch();

#endif
