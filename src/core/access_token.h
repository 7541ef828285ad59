// The access token the program runs with (the Windows NT family only).
#ifndef VANTREL_ACCESS_TOKEN_H
#define VANTREL_ACCESS_TOKEN_H

#include <windows.h>

// The thread's token when it impersonates, otherwise the process's, opened
// to be queried; null when neither opens.
HANDLE OpenQueryToken();

// One class of the token's information in a new block (ReleaseBlock), or
// null when the token will not give it.
void *ReadTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind);

#endif
