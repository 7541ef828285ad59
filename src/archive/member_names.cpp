#include "member_names.h"

#include "../startup/text.h"

namespace {
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices in every folder and
// with any extension; a member of that name would be written to the device.
bool IsDeviceName(const char *name, DWORD length) {
  DWORD n = 0;
  while (n < length && name[n] != '.') ++n;
  while (n > 0 && name[n - 1] == ' ') --n;
  char u[4];
  if (n != 3 && n != 4) return false;
  for (DWORD i = 0; i < 3; ++i) u[i] = Upper(name[i]);
  u[3] = 0;
  if (n == 3) {
    return TextsEqual(u, "CON") || TextsEqual(u, "PRN") || TextsEqual(u, "AUX") ||
           TextsEqual(u, "NUL");
  }
  return (TextsEqual(u, "COM") || TextsEqual(u, "LPT")) && name[3] >= '1' && name[3] <= '9';
}
}  // namespace

bool NameStaysInside(const char *name, DWORD length) {
  if (length == 0 || IsSeparator(name[0])) return false;
  DWORD start = 0;
  bool dotsOnly = true;
  for (DWORD i = 0; i <= length; ++i) {
    char c = i < length ? name[i] : '/';
    if (c == ':') return false;
    if (IsSeparator(c)) {
      if (i > start && (dotsOnly || IsDeviceName(name + start, i - start))) return false;
      start = i + 1;
      dotsOnly = true;
    } else if (c != '.' && c != ' ') {
      dotsOnly = false;
    }
  }
  return true;
}

