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

#endif
