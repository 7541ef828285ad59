// Which family of Windows the program runs on.
#ifndef VANTREL_WINDOWS_FAMILY_H
#define VANTREL_WINDOWS_FAMILY_H

// True on the Windows NT family. A version that cannot be read counts as
// NT: every Windows 95/98 answers the plain version query, so only a later
// system can fail it, and on NT rights that cannot be checked are not
// granted. The administrator check and the choice of the .ntx86 section
// both ask here.
bool IsWindowsNT();

#endif
