// The decoder's output: the window of history and batch, and its writing to
// the member's file.
#include "../core/crc32.h"
#include "blocks.h"

OutputWindow outputWindow;

int FlushWindow(const BYTE *from, unsigned count) {
  // A stream that would write more than its header declares is damaged or
  // hostile (a few KiB can decode to gigabytes): stop before writing it.
  if (state.sizeDeclared && count > state.declaredSize - state.memberOutput) {
    return kStatusTooLong;
  }
  DWORD written = 0;
  WriteFile(state.outFile, from, count, &written, nullptr);
  if (written > count) written = count;
  // Only what reached the file counts: a full disk must not leave a short
  // file whose CRC was taken over bytes it never received.
  CrcUpdateBuffer(from, (LONG)written, state.memberCrc);
  state.memberOutput += written;
  if (written != count) {
    state.ioError = 1;
    return kStatusWriteFailed;
  }
  return kStatusOk;
}

int FlushBatch() {
  OutputWindow &w = outputWindow;
  int status = FlushWindow(w.bytes + kHistory, kBatch);
  w.full = 1;
  // The bytes kept lie a whole batch further on, so a word at a time from
  // the first on never reads a byte it has overwritten, and may copy a
  // little past the last one.
  unsigned kept = kHistory + (w.position - kBatchEnd);
  const BYTE *from = w.bytes + kBatch;
  for (unsigned i = 0; i < kept; i += kWordBytes) {
    BitWord word;
    __builtin_memcpy(&word, from + i, kWordBytes);
    __builtin_memcpy(w.bytes + i, &word, kWordBytes);
  }
  w.position = kept;
  return status;
}
