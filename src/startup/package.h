// Loading the package appended to the program's own file.
#ifndef VANTREL_PACKAGE_H
#define VANTREL_PACKAGE_H

#include <windows.h>

// Reads the header and texts, chooses the temporary folder, checks the
// package; true when the main dialog may run.
bool LoadPackage();

// Positions the package file; `state.seekResult` receives the new position,
// -1 when the seek failed.
void SeekPackage(LONG offset, DWORD origin);

// Returns only when the archive's end record reaches the end of the file;
// otherwise shows the "corrupted" message and ends the program.
void CheckPackageIntegrity();

// The "corrupted" message, then the end of the program with exit code 0,
// without the exit sequence (no temporary folder exists yet).
[[noreturn]] void RejectCorruptPackage();

// Releases the texts LoadPackage allocated.
void ReleasePackageTexts();

extern const char kDefaultWelcomeText[];

// The temporary folder's name, with its leading backslash, as it is appended
// to the temporary path (or the system directory).
extern const char kTempFolderName[];

#endif
