#include "bit_input.h"

#include "../core/zipcrypto.h"

BitInput bitInput;

void ResetBitInput() {
  bitInput.next = state.inputBuffer;
  bitInput.end = state.inputBuffer;
  bitInput.bits = 0;
  bitInput.count = 0;
  bitInput.markerBits = 0;
}

// Reads the member's next chunk into the input buffer: never more than the
// member has left, so nothing after it is ever read (or deciphered). False
// when the member's data is used up or the read delivers nothing; from then
// on nothing more is read.
static bool ReadNextChunk(BitInput &in) {
  if (state.bytesLeft <= 0) return false;
  DWORD want = state.bytesLeft < kWindowSize ? (DWORD)state.bytesLeft : (DWORD)kWindowSize;
  DWORD got = 0;
  ReadFile(state.packageFile, state.inputBuffer, want, &got, nullptr);
  if (got > want) got = want;
  if (got == 0) {
    state.bytesLeft = 0;
    return false;
  }
  if (state.localHeader.flags & 1) DecipherBuffer(state.inputBuffer, got);
  state.bytesLeft -= (LONG)got;
  in.next = state.inputBuffer;
  in.end = state.inputBuffer + got;
  return true;
}

// Past the member's data the buffer takes whole bytes of one bits, as many
// as fit, so that the stream keeps its byte alignment.
static void AddEndMarkers(BitInput &in) {
  unsigned added = (kWordBits - 1 - in.count) & ~7u;
  in.bits |= ~(BitWord)0 << in.count;
  in.count += added;
  in.markerBits += added;
}

void NeedBitsSlowly(unsigned n, BitInput &in) {
  while (in.count < n) {
    if (in.next == in.end && !ReadNextChunk(in)) {
      AddEndMarkers(in);
      return;
    }
    in.bits |= (BitWord)*in.next++ << in.count;
    in.count += 8;
  }
}
