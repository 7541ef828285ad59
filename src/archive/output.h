// The file side of one member: the copy of a stored member and the closing
// of its output file.
#ifndef VANTREL_OUTPUT_H
#define VANTREL_OUTPUT_H

#include "../core/program_state.h"

// Copies `state.bytesLeft` bytes from the package file to `state.outFile`,
// deciphering them when the member is encrypted and folding what was written
// into `state.memberCrc`. A package that ends inside the member ends the
// copy with `bytesLeft` still above 0.
void CopyStored();

// Gives the output file the member's DOS date and time as its last-write
// time and closes it; `path` names it in the message when closing fails.
void StampAndClose(const char *path);

#endif
