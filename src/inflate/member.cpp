#include "../core/crc32.h"
#include "../core/runtime.h"
#include "../core/text.h"
#include "inflate.h"

OutputWindow outputWindow;

// Writes `count` bytes of the window, from `from`, to the output file with
// one WriteFile call and folds what was written into the CRC.
static int FlushWindow(const BYTE *from, unsigned count) {
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

int InflateBlock(DWORD *last) {
  BitInput &in = bitInput;
  NeedBits(3, in);
  *last = PeekBits(1, in);
  unsigned type = PeekBits(3, in) >> 1;
  DumpBits(3, in);
  if (InputOverrun(in)) return kStatusInputEnded;
  if (type == 0) return InflateStored();
  if (type == 1) return InflateFixed();
  if (type == 2) return InflateDynamic();
  // The reserved type has no body; the next header follows.
  return kStatusOk;
}

int InflateMember() {
  state.inputBuffer = (BYTE *)AllocateBlock(kIoBufferBytes);
  state.slideWindow = (BYTE *)AllocateBlock(kWindowAllocation);
  ResetBitInput();
  outputWindow.bytes = state.slideWindow;
  outputWindow.position = 0;
  outputWindow.full = 0;

  DWORD last = 0;
  int status;
  do {
    status = InflateBlock(&last);
  } while (status == kStatusOk && !last);
  // The open half's bytes; a damaged member keeps them unwritten.
  unsigned start = outputWindow.position < kHalfWindow ? 0 : kHalfWindow;
  if (status == kStatusOk && outputWindow.position > start) {
    status = FlushWindow(outputWindow.bytes + start, outputWindow.position - start);
  }

  ReleaseBlock(state.inputBuffer);
  ReleaseBlock(state.slideWindow);
  state.inputBuffer = nullptr;
  state.slideWindow = nullptr;
  outputWindow.bytes = nullptr;
  ResetBitInput();
  return status;
}
