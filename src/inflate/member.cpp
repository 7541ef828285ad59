// The driver of one member: the buffers, the block headers, and the last
// batch of output, written when the member ends.
#include "../core/runtime.h"
#include "blocks.h"

// Reads one block header and decodes the block's body. Safe to call on any
// input: past the member's data the header reads as end markers, which the
// overrun test turns into kStatusInputEnded instead of a block.
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
  outputWindow.position = kHistory;
  outputWindow.full = 0;

  DWORD last = 0;
  int status;
  do {
    status = InflateBlock(&last);
  } while (status == kStatusOk && !last);
  // The open batch's bytes; a damaged member keeps them unwritten.
  OutputWindow &w = outputWindow;
  if (status == kStatusOk && w.position > kHistory) {
    status = FlushWindow(w.bytes + kHistory, w.position - kHistory);
  }

  ReleaseBlock(state.inputBuffer);
  ReleaseBlock(state.slideWindow);
  state.inputBuffer = nullptr;
  state.slideWindow = nullptr;
  outputWindow.bytes = nullptr;
  ResetBitInput();
  return status;
}
