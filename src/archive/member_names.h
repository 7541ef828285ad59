// Which member names the extraction accepts. The packaging tool asks the
// same question, so that it never builds a package the stub would refuse.
#ifndef VANTREL_MEMBER_NAMES_H
#define VANTREL_MEMBER_NAMES_H

#include <windows.h>

// Both separators name folders in a member's name.
inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A member may only name a place inside the temporary folder: no root or
// UNC prefix, no drive (nor any other ':'), no component of dots and spaces
// alone (".." climbs out; Windows drops trailing dots and spaces, so "..."
// or ".. " may act as ".."; and a folder "x\." exists as soon as x does,
// so creating it would fail as fatal), and no device.
bool NameStaysInside(const char *name, DWORD length);

// The longest paths the ANSI file calls take: a file's (CreateFileA,
// MAX_PATH less the NUL) and a folder's (CreateDirectoryA: MAX_PATH less
// room for an 8.3 name). A member whose path is longer cannot be made.
const DWORD kLongestFilePath = 259;
const DWORD kLongestFolderPath = 247;

// Whether the member `name` can be made in a folder whose path has
// `folderLength` characters: the file's path and the path of the folder
// that holds it stay within those limits.
bool OutputPathFits(DWORD folderLength, const char *name, DWORD length);

#endif
