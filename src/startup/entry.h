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

// The whole run: the command line's switch, buffers, CRC table, package,
// the installation (with its dialogs, or quietly), exit sequence. Returns
// the run's exit code; the paths that end the process at once give theirs
// to ExitProcess.
int RunProgram();

#endif
