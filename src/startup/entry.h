// The program's entry routine and its exit sequence.
#ifndef VANTREL_ENTRY_H
#define VANTREL_ENTRY_H

// The whole run: buffers, CRC table, package, main dialog, exit sequence.
// Returns the exit code of every path it controls (0).
int RunProgram();

#endif
