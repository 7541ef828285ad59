// The deflate decoder: decodes one deflated member from the package file
// into `state.outFile` through a 32 KiB window, folding every byte written
// into `state.memberCrc`.
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
  kStatusInvalidCode = 1,      // also an incomplete literal/length code
  kStatusOversubscribed = 2,   // a code with more codes than bit patterns
  kStatusInputEnded = 4,       // the block needs bits beyond the member's data
  kStatusWriteFailed = 5,      // the output file took fewer bytes than asked
  kStatusBadStoredLength = 6,  // NLEN is not the complement of LEN
  kStatusTooLong = 7,          // the output would pass the member's declared size
};

int InflateBlock(DWORD *last);
int InflateStored();
int InflateFixed();
int InflateDynamic();
int InflateCodes(const HuffmanEntry *tl, const HuffmanEntry *td, unsigned bl, unsigned bd);
// Writes the first `count` bytes of the window and folds what was written
// into the CRC; nothing is written past the member's declared size.
int FlushWindow(unsigned count);

// Set once the window has been written out whole: from then on every
// distance up to 32,768 reaches output of this member.
extern BYTE windowWrapped;
// Both fixed codes' tables, built by the member's first fixed block.
extern HuffmanEntry *fixedTableList;

#endif
