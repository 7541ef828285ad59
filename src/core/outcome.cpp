#include "outcome.h"

#include "program_state.h"

void StartOutcome() {
  state.exitCode = kExitUserCancelled;
  state.failureRecorded = 0;
}

void RecordOutcome(DWORD code) {
  if (!state.failureRecorded) state.exitCode = code;
}

void RecordFailure(DWORD code) {
  if (state.failureRecorded) return;
  state.exitCode = code;
  state.failureRecorded = 1;
}

void ReportFailure(DWORD code, const char *text, const char *caption) {
  RecordFailure(code);
  if (!state.quiet) MessageBoxA(nullptr, text, caption, MB_ICONHAND);
}
