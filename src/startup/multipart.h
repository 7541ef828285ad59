// Rebuilding a package split over several part files into one file in the
// temporary folder, which then serves as the package file.
#ifndef VANTREL_MULTIPART_H
#define VANTREL_MULTIPART_H

#include "../core/program_state.h"

// The decimal digits of n, left-padded with '0' to `width` characters
// (at most 3); `out` receives them NUL-terminated.
void FormatPartNumber(BYTE n, BYTE width, char *out);

// Makes `path`, the program file's path, that of part `partNumber`: its
// last three characters replaced by the part's three digits (SETUP.EXE,
// SETUP.001). False, with `path` unchanged, when it has fewer characters.
bool NamePart(CountedString &path, BYTE partNumber);

// Concatenates the program file and its numbered parts into
// tempDir\Vantrel.pkg, prompting for a disk when a part is missing; true when
// the rebuilt file is open for reading as the package file.
bool RebuildPackage();

#endif
