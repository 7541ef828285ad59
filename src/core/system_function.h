// Functions that only later Windows versions export, looked up at run time
// so that the program still loads where they are missing.
#ifndef VANTREL_SYSTEM_FUNCTION_H
#define VANTREL_SYSTEM_FUNCTION_H

#include <windows.h>

// The function `name` of a DLL the program has loaded (kernel32.dll,
// advapi32.dll), as a pointer of type `Call`; null where the system lacks
// it.
template <typename Call>
Call SystemFunction(const char *module, const char *name) {
  FARPROC address = GetProcAddress(GetModuleHandleA(module), name);
  // Through the one pointer type every function pointer converts from.
  return reinterpret_cast<Call>(reinterpret_cast<void (*)()>(address));
}

#endif
