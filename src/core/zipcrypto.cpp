#include "zipcrypto.h"

#include "crc32.h"

void InitKeys(const char *password, DWORD length) {
  state.key0 = 0x12345678;
  state.key1 = 0x23456789;
  state.key2 = 0x34567890;
  for (DWORD i = 0; i < length; ++i) UpdateKeys((BYTE)password[i]);
}

void UpdateKeys(BYTE plain) {
  state.key0 = CrcUpdateByte(plain, state.key0);
  state.key1 = (state.key1 + (state.key0 & 0xFF)) * 134775813u + 1;
  state.key2 = CrcUpdateByte((BYTE)(state.key1 >> 24), state.key2);
}

BYTE DecryptByte() {
  DWORD t = (state.key2 & 0xFFFF) | 2;
  return (BYTE)((t * (t ^ 1)) >> 8);
}

void DecipherBuffer(BYTE *buffer, DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    BYTE plain = buffer[i] ^ DecryptByte();
    buffer[i] = plain;
    UpdateKeys(plain);
  }
}
