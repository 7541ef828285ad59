#include "access_token.h"

#include "runtime.h"

HANDLE OpenQueryToken() {
  HANDLE token = nullptr;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token)) return token;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return token;
  return nullptr;
}

// The first call only asks for the size the answer needs.
void *ReadTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD needed = 0;
  GetTokenInformation(token, kind, nullptr, 0, &needed);
  if (needed < sizeof(DWORD)) return nullptr;
  void *information = AllocateBlock(needed);
  if (GetTokenInformation(token, kind, information, needed, &needed)) return information;
  ReleaseBlock(information);
  return nullptr;
}
