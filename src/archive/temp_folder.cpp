#include "temp_folder.h"

#include "../core/paths.h"
#include "../core/private_access.h"
#include "../core/program_state.h"
#include "../core/runtime.h"
#include "../core/text.h"
#include "../core/windows_family.h"

namespace {
const DWORD kTempPathLimit = 254;
const DWORD kNameLength = sizeof kTempFolderName - 2;  // without the backslash and the NUL
// The longest folder CreateDirectoryA takes (MAX_PATH less an 8.3 name);
// the rebuilt package's "\Vantrel.pkg" still fits a Windows path after it.
const DWORD kLongestFolder = MAX_PATH - 13;
const DWORD kLastOtherName = 999;

bool HoldsSpace(const char *text) {
  for (; *text; ++text) {
    if (*text == ' ') return true;
  }
  return false;
}

// The user's temporary path in `into`, its short form when the long one
// holds a space; returns the length of the folder part (the final
// backslash dropped), or 0 when there is no usable path or the temporary
// folder would not fit below it. `spaced` tells that the space stayed.
DWORD TempPathBase(char *into, bool &spaced) {
  DWORD n = GetTempPathA(kTempPathLimit, into);
  if (n < 2 || n >= kTempPathLimit) return 0;
  spaced = HoldsSpace(into);
  if (spaced) {
    char shortPath[kTempPathLimit];
    DWORD m = GetShortPathNameA(into, shortPath, kTempPathLimit);
    if (m >= 2 && m < kTempPathLimit && !HoldsSpace(shortPath)) {
      CopyBytes(into, shortPath, m + 1);
      n = m;
      spaced = false;
    }
  }
  return (n - 1) + 1 + kNameLength <= kLongestFolder ? n - 1 : 0;
}

// The candidate name `index` after the base: $Vantrel.Tmp, then
// $Vant001.Tmp to $Vant999.Tmp.
void WriteName(DWORD base, DWORD index) {
  CopyBytes(state.tempDir + base, kTempFolderName, sizeof kTempFolderName);
  if (index == 0) return;
  char *digits = state.tempDir + base + 6;
  digits[0] = char('0' + index / 100);
  digits[1] = char('0' + index / 10 % 10);
  digits[2] = char('0' + index % 10);
}

// Made now, a folder and not a link: something put in its place between
// the creation and this look is not the program's folder.
bool IsPlainFolder(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Tries every name under the base of `state.tempDir` until one is created
// and is a plain folder. A name that exists (whatever the error says: the
// Windows 95 family may call it access denied) moves on to the next, and
// so does a folder that turned into a link; any other failure ends the
// attempt with the creation's error code kept for GetLastError.
bool CreateUnderBase(LPSECURITY_ATTRIBUTES access) {
  DWORD base = TextLength(state.tempDir) - (kNameLength + 1);
  CountedString folder;
  // A temporary path that names a folder not yet made is made first.
  if (!AssignBytes(folder, state.tempDir, base) || !TryCreateFolderPath(folder)) return false;
  for (DWORD index = 0; index <= kLastOtherName; ++index) {
    WriteName(base, index);
    if (CreateDirectoryA(state.tempDir, access)) {
      if (IsPlainFolder(state.tempDir)) return true;
      continue;
    }
    DWORD error = GetLastError();
    if (GetFileAttributesA(state.tempDir) == INVALID_FILE_ATTRIBUTES) {
      SetLastError(error);
      return false;
    }
  }
  return false;
}

// Under the chosen base, or, when that is the system directory standing in
// for a temporary path with a space and it cannot be written there (a
// standard user on NT), under the temporary path as it is.
bool CreateSomewhere(LPSECURITY_ATTRIBUTES access) {
  if (CreateUnderBase(access)) return true;
  if (!state.tempDirFallback) return false;
  state.tempDirFallback = 0;
  bool spaced = false;
  DWORD base = TempPathBase(state.tempDir, spaced);
  if (base == 0) return false;
  CopyBytes(state.tempDir + base, kTempFolderName, sizeof kTempFolderName);
  return CreateUnderBase(access);
}
}  // namespace

void ChooseTempDir() {
  bool spaced = false;
  DWORD base = TempPathBase(state.tempDir, spaced);
  // The system directory stands in for a path with a space, which the INF
  // command lines carry unquoted; should it refuse a folder, the path
  // itself is the last resort.
  state.tempDirFallback = base != 0 && spaced;
  if (base == 0 || spaced) {
    base = TextLength(state.systemDir);
    CopyBytes(state.tempDir, state.systemDir, base);
  }
  CopyBytes(state.tempDir + base, kTempFolderName, sizeof kTempFolderName);
}

void CreateTempFolder() {
  if (state.tempDirCreated) return;
  PrivateAccess access;
  bool nt = IsWindowsNT();
  bool made = nt ? BuildPrivateAccess(access) && CreateSomewhere(&access.attributes)
                 : CreateSomewhere(nullptr);
  // The failing call's error code, before the release can replace it.
  DWORD error = GetLastError();
  if (nt) ReleasePrivateAccess(access);
  if (!made) FatalError(error);
  state.tempDirCreated = 1;
}
