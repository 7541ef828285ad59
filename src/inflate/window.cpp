// The decoder's output: the window of two halves and its writing to the
// member's file.
#include "../core/crc32.h"
#include "../core/text.h"
#include "blocks.h"

OutputWindow outputWindow;

// Writes `count` bytes of the window, from `from`, to the output file with
// one WriteFile call and folds what was written into the CRC.
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

int FlushHalf(unsigned end) {
  OutputWindow &w = outputWindow;
  int status = FlushWindow(w.bytes + end - kHalfWindow, kHalfWindow);
  w.full = 1;
  if (end == kWindowSpan) {
    unsigned over = w.position - kWindowSpan;
    CopyBytes(w.bytes, w.bytes + kWindowSpan, over);
    w.position = over;
  }
  return status;
}
