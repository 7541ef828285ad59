#include "bit_input.h"

#include "../core/zipcrypto.h"

const WORD maskBits[17] = {0,   1,    3,    7,    15,   31,    63,    127,  255,
                           511, 1023, 2047, 4095, 8191, 16383, 32767, 65535};

LONG RefillAndReadByte() {
  DWORD want = state.bytesLeft < kWindowSize ? (DWORD)state.bytesLeft : (DWORD)kWindowSize;
  DWORD got = 0;
  ReadFile(state.packageFile, state.inputBuffer, want, &got, nullptr);
  state.inputCount = got;
  if (state.localHeader.flags & 1) DecipherBuffer(state.inputBuffer, got);
  state.inputPos = 0;
  if (got == 0) {
    state.bytesLeft = 0;
    return -1;
  }
  state.inputPos = 1;
  return state.inputBuffer[0];
}
