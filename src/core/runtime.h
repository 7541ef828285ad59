// Memory blocks and the fatal error report.
#ifndef VANTREL_RUNTIME_H
#define VANTREL_RUNTIME_H

#include <windows.h>

enum { kErrorOutOfMemory = 203 };

// Allocates a block of at least `bytes` bytes; running out of memory is
// fatal (error 203), so callers never see a null pointer.
void *AllocateBlock(DWORD bytes);
// Releases a block of AllocateBlock; a null pointer releases nothing.
void ReleaseBlock(void *block);

// Shows the fatal error report (caption "Error", MB_OK, the error number and
// the code address where it arose) and ends the process with `code` as its
// exit code. The exit sequence does not run.
[[noreturn]] void FatalError(DWORD code);
// The same for a failed folder operation: the number is the system's error
// code of the call that failed.
[[noreturn]] void FatalSystemError();

#endif
