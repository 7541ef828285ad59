// The traditional zip stream cipher: three keys driven by the password and
// then by every plaintext byte.
#ifndef VANTREL_ZIPCRYPTO_H
#define VANTREL_ZIPCRYPTO_H

#include "program_state.h"

// Sets the keys from the first `length` bytes of `password`.
void InitKeys(const char *password, DWORD length);
// Advances the keys by one plaintext byte.
void UpdateKeys(BYTE plain);
// The keystream byte of the current keys; the keys do not change.
BYTE DecryptByte();
// Deciphers `count` bytes in place, first to last, advancing the keys once
// per byte.
void DecipherBuffer(BYTE *buffer, DWORD count);

#endif
