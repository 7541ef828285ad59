// Whether the current user holds administrator rights.
#ifndef VANTREL_ADMIN_H
#define VANTREL_ADMIN_H

// True on the Windows 95/98 family; on the NT family true when the access
// token's group list holds the Administrators group (S-1-5-32-544),
// whatever that entry's attributes.
bool IsAdmin();

#endif
