#include "runtime.h"

#include "program_state.h"
#include "text.h"

void *AllocateBlock(DWORD bytes) {
  void *block = HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
  if (!block) FatalError(kErrorOutOfMemory);
  return block;
}

void ReleaseBlock(void *block) {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

// Kept out of line so that the return address names the code that failed.
[[noreturn]] static __attribute__((noinline)) void ReportAndExit(DWORD code, const void *where) {
  char text[64];
  DWORD n = 0;
  n = AppendLiteral(text, n, sizeof text, "Runtime error ");
  n = AppendDecimal(text, n, sizeof text, code);
  n = AppendLiteral(text, n, sizeof text, " at ");
  n = AppendHex8(text, n, sizeof text, (DWORD)(UINT_PTR)where);
  // A quiet run has nobody to read it; the number is the exit code.
  if (!state.quiet) MessageBoxA(nullptr, text, "Error", MB_OK);
  ExitProcess(code);
}

__attribute__((noinline)) void FatalError(DWORD code) {
  ReportAndExit(code, __builtin_return_address(0));
}

__attribute__((noinline)) void FatalSystemError() {
  DWORD code = GetLastError();
  ReportAndExit(code, __builtin_return_address(0));
}
