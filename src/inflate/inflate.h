// The deflate decoder: decodes one deflated member from the package file
// into `state.outFile` through a window that keeps the last 32 KiB of
// output, folding every byte written into `state.memberCrc`. This is all the rest of the program
// uses of it; blocks.h holds the decoder's own procedures.
#ifndef VANTREL_INFLATE_H
#define VANTREL_INFLATE_H

#include "../core/program_state.h"

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

#endif
