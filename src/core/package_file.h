// The open package file, positioned for the loader and the archive walker.
#ifndef VANTREL_PACKAGE_FILE_H
#define VANTREL_PACKAGE_FILE_H

#include <windows.h>

// Positions the package file; `state.seekResult` receives the new position,
// -1 when the seek failed.
void SeekPackage(LONG offset, DWORD origin);

#endif
