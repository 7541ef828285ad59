// The compiler may emit calls to these even in a program without a C
// runtime (structure copies and clears), so the stub defines them itself.
#ifdef _WIN32
#include <stddef.h>

extern "C" {
void *memcpy(void *to, const void *from, size_t count) {
  unsigned char *d = static_cast<unsigned char *>(to);
  const unsigned char *s = static_cast<const unsigned char *>(from);
  while (count--) *d++ = *s++;
  return to;
}

void *memmove(void *to, const void *from, size_t count) {
  unsigned char *d = static_cast<unsigned char *>(to);
  const unsigned char *s = static_cast<const unsigned char *>(from);
  if (d < s) {
    while (count--) *d++ = *s++;
  } else {
    while (count--) d[count] = s[count];
  }
  return to;
}

void *memset(void *to, int value, size_t count) {
  unsigned char *d = static_cast<unsigned char *>(to);
  while (count--) *d++ = static_cast<unsigned char>(value);
  return to;
}

int memcmp(const void *a, const void *b, size_t count) {
  const unsigned char *x = static_cast<const unsigned char *>(a);
  const unsigned char *y = static_cast<const unsigned char *>(b);
  for (; count--; ++x, ++y) {
    if (*x != *y) return *x - *y;
  }
  return 0;
}
}
#endif
