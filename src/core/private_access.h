// Who may use the temporary folder on the Windows NT family: the running
// user, SYSTEM and the Administrators group, and nobody the folder above
// it lets in. Installers run as SYSTEM extract under C:\Windows\Temp, where
// every user may create folders and read what others leave open.
#ifndef VANTREL_PRIVATE_ACCESS_H
#define VANTREL_PRIVATE_ACCESS_H

#include <windows.h>

// What CreateDirectoryA is given (`attributes`), and the pieces it points
// to. Every entry is inherited by the files and folders made inside.
struct PrivateAccess {
  SECURITY_ATTRIBUTES attributes;
  SECURITY_DESCRIPTOR descriptor;
  ACL *acl;
  TOKEN_USER *user;
  PSID system;
  PSID administrators;
};

// Builds it; false when the token cannot be read or a security call fails.
// Either way ReleasePrivateAccess frees what was built.
bool BuildPrivateAccess(PrivateAccess &access);
void ReleasePrivateAccess(PrivateAccess &access);

#endif
