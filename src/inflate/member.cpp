#include "../core/crc32.h"
#include "../core/runtime.h"
#include "inflate.h"

BYTE windowWrapped;
HuffmanEntry *fixedTableList;

int FlushWindow(unsigned count) {
  // A stream that would write more than its header declares is damaged or
  // hostile (a few KiB can decode to gigabytes): stop before writing it.
  if (state.sizeDeclared && count > state.declaredSize - state.memberOutput) {
    return kStatusTooLong;
  }
  DWORD written = 0;
  WriteFile(state.outFile, state.slideWindow, count, &written, nullptr);
  if (written > count) written = count;
  // Only what reached the file counts: a full disk must not leave a short
  // file whose CRC was taken over bytes it never received.
  CrcUpdateBuffer(state.slideWindow, (LONG)written, state.memberCrc);
  state.memberOutput += written;
  if (count == kWindowSize) windowWrapped = 1;
  if (written != count) {
    state.ioError = 1;
    return kStatusWriteFailed;
  }
  return kStatusOk;
}

int InflateBlock(DWORD *last) {
  DWORD b = state.bitBuffer;
  unsigned k = state.bitCount;
  NeedBits(3, b, k);
  *last = b & 1;
  unsigned type = (b >> 1) & 3;
  DumpBits(3, b, k);
  state.bitBuffer = b;
  state.bitCount = (WORD)k;
  if (InputOverrun(k)) return kStatusInputEnded;
  if (type == 0) return InflateStored();
  if (type == 1) return InflateFixed();
  if (type == 2) return InflateDynamic();
  // The reserved type has no body; the next header follows.
  return kStatusOk;
}

int InflateMember() {
  state.inputPos = 0;
  state.inputCount = 0;
  state.windowPos = 0;
  state.bitCount = 0;
  state.bitBuffer = 0;
  state.inputBuffer = (BYTE *)AllocateBlock(kIoBufferBytes);
  state.slideWindow = (BYTE *)AllocateBlock(kIoBufferBytes);
  state.fixedLiteralRoot = nullptr;
  state.fixedDistanceRoot = nullptr;
  fixedTableList = nullptr;
  windowWrapped = 0;

  DWORD last = 0;
  int status;
  do {
    status = InflateBlock(&last);
  } while (status == kStatusOk && !last);
  // A damaged member keeps its partial window unwritten.
  if (status == kStatusOk && state.windowPos > 0) status = FlushWindow(state.windowPos);

  FreeHuffmanTables(fixedTableList);
  fixedTableList = nullptr;
  state.fixedLiteralRoot = nullptr;
  state.fixedDistanceRoot = nullptr;
  ReleaseBlock(state.inputBuffer);
  ReleaseBlock(state.slideWindow);
  state.inputBuffer = nullptr;
  state.slideWindow = nullptr;
  return status;
}
