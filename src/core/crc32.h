// CRC-32 (the zip/IEEE 802.3 polynomial, reflected), shared by the member
// test and the key schedule of the traditional zip decryption.
#ifndef VANTREL_CRC32_H
#define VANTREL_CRC32_H

#include "program_state.h"

// Fills the already allocated `state.crcTable`.
void BuildCrcTable();

inline DWORD CrcUpdateByte(BYTE b, DWORD r) {
  return state.crcTable[(r ^ b) & 0xFF] ^ (r >> 8);
}

// Folds the first `count` bytes of `buffer` into `reg`; a count of 0 or
// less changes nothing.
void CrcUpdateBuffer(const BYTE *buffer, LONG count, DWORD &reg);

#endif
