// The program's entry routine and its exit sequence.
#ifndef VANTREL_ENTRY_H
#define VANTREL_ENTRY_H

// The state every run starts from: the name and path buffers and the
// CRC-32 table. Tools and tests that drive the program's procedures on the
// host begin here too.
void InitProgramState();

// Closes the package, deletes a rebuilt package file and removes the
// temporary folder when the clean-up has left it empty.
void RunExitSequence();

// The whole run: buffers, CRC table, package, main dialog, exit sequence.
// Returns the exit code of every path it controls (0).
int RunProgram();

#endif
