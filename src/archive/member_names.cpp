#include "member_names.h"

#include "../core/text.h"

namespace {
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

bool IsPortDigit(char c) {
  // '0' to '9', and the superscripts 1, 2 and 3 of the ANSI code page.
  return (c >= '0' && c <= '9') || c == '\xB9' || c == '\xB2' || c == '\xB3';
}

bool NameIs(const char *name, DWORD length, const char *device) {
  DWORD i = 0;
  for (; i < length && device[i]; ++i) {
    if (Upper(name[i]) != device[i]) return false;
  }
  return i == length && !device[i];
}

// Device names, in every folder and with any extension: CON, PRN, AUX, NUL,
// COM and LPT with a digit (superscripts included), and the console and
// clock devices. A member of such a name would be written to the device.
bool IsDeviceName(const char *name, DWORD length) {
  DWORD n = 0;
  while (n < length && name[n] != '.') ++n;
  while (n > 0 && name[n - 1] == ' ') --n;
  if (NameIs(name, n, "CON") || NameIs(name, n, "PRN") || NameIs(name, n, "AUX") ||
      NameIs(name, n, "NUL") || NameIs(name, n, "CONIN$") || NameIs(name, n, "CONOUT$") ||
      NameIs(name, n, "CLOCK$")) {
    return true;
  }
  return n == 4 && (NameIs(name, 3, "COM") || NameIs(name, 3, "LPT")) && IsPortDigit(name[3]);
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


bool OutputPathFits(DWORD folderLength, const char *name, DWORD length) {
  DWORD lastSeparator = length;
  for (DWORD i = 0; i < length; ++i) {
    if (IsSeparator(name[i])) lastSeparator = i;
  }
  DWORD pathLength = folderLength + 1 + length;
  if (lastSeparator == length) return pathLength <= kLongestFilePath;
  // A folder entry ("dir/") is a folder's path itself.
  DWORD holder = folderLength + 1 + lastSeparator;
  return pathLength <= kLongestFilePath && holder <= kLongestFolderPath;
}
