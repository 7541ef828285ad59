#include "text.h"

DWORD TextLength(const char *text) {
  DWORD n = 0;
  while (text[n]) ++n;
  return n;
}

void CopyBytes(void *to, const void *from, DWORD count) {
  BYTE *d = static_cast<BYTE *>(to);
  const BYTE *s = static_cast<const BYTE *>(from);
  while (count--) *d++ = *s++;
}

void FillBytes(void *to, BYTE value, DWORD count) {
  BYTE *d = static_cast<BYTE *>(to);
  while (count--) *d++ = value;
}

bool TextsEqual(const char *a, const char *b) {
  while (*a && *a == *b) ++a, ++b;
  return *a == *b;
}

DWORD AppendLiteral(char *buffer, DWORD used, DWORD capacity, const char *text) {
  while (*text && used + 1 < capacity) buffer[used++] = *text++;
  if (used < capacity) buffer[used] = 0;
  return used;
}

DWORD AppendDecimal(char *buffer, DWORD used, DWORD capacity, DWORD value) {
  char digits[11];
  int n = 0;
  do {
    digits[n++] = char('0' + value % 10);
    value /= 10;
  } while (value);
  char text[11];
  for (int i = 0; i < n; ++i) text[i] = digits[n - 1 - i];
  text[n] = 0;
  return AppendLiteral(buffer, used, capacity, text);
}

DWORD AppendHex8(char *buffer, DWORD used, DWORD capacity, DWORD value) {
  char text[9];
  for (int i = 7; i >= 0; --i) {
    text[i] = "0123456789ABCDEF"[value & 15];
    value >>= 4;
  }
  text[8] = 0;
  return AppendLiteral(buffer, used, capacity, text);
}

void ClearString(CountedString &s) {
  s.length = 0;
  s.text[0] = 0;
}

bool AssignBytes(CountedString &s, const char *bytes, DWORD count) {
  if (count >= kPathBufferSize) return false;
  CopyBytes(s.text, bytes, count);
  s.text[count] = 0;
  s.length = count;
  return true;
}

bool AssignString(CountedString &s, const char *text) {
  return AssignBytes(s, text, TextLength(text));
}

bool AppendString(CountedString &s, const char *text) {
  DWORD n = TextLength(text);
  if (s.length + n >= kPathBufferSize) return false;
  CopyBytes(s.text + s.length, text, n + 1);
  s.length += n;
  return true;
}
