#include "package.h"

#include "admin.h"
#include "descramble.h"
#include "multipart.h"
#include "program_state.h"
#include "runtime.h"
#include "text.h"

const char kDefaultWelcomeText[] = "\r\r\rPlease click \"Install\" to start setup.";

const char kTempFolderName[] = "\\$Vantrel.Tmp";

namespace {
const DWORD kTempPathLimit = 254;
const LONG kMaxEndWindow = 0x10016;  // end record (22) plus the longest comment
const LONG kEndRecordSize = 22;
char emptyText[1];

// Reads up to `count` bytes; what cannot be read stays as it was (zero for
// the header fields), so a header cut short loads as zeros.
DWORD ReadPackage(void *into, DWORD count) {
  DWORD got = 0;
  ReadFile(state.packageFile, into, count, &got, nullptr);
  return got;
}

void ChooseTempDir() {
  DWORD n = GetTempPathA(kTempPathLimit, state.tempDir);
  bool usable = n >= 2 && n <= kTempPathLimit;
  if (usable) {
    for (DWORD i = 0; i < n; ++i) usable = usable && state.tempDir[i] != ' ';
  }
  DWORD base;
  // The base loses its final backslash; a composed name that would not fit a
  // Windows path falls back to the system directory too.
  if (usable && (n - 1) + sizeof kTempFolderName <= kPathBufferSize) {
    base = n - 1;
  } else {
    base = TextLength(state.systemDir);
    CopyBytes(state.tempDir, state.systemDir, base);
  }
  CopyBytes(state.tempDir + base, kTempFolderName, sizeof kTempFolderName);
}

bool RecordModulePath(char *path) {
  DWORD n = GetModuleFileNameA(nullptr, path, kPathBufferSize);
  if (n >= kPathBufferSize) n = kPathBufferSize - 1;
  path[n] = 0;
  return n > 0;
}

void ReadFixedHeader(BYTE &titleLength, BYTE &infNameLength) {
  BYTE reserved = 0;
  ReadPackage(&state.stayOpen, 1);
  ReadPackage(&titleLength, 1);
  ReadPackage(&infNameLength, 1);
  ReadPackage(&state.adminRequired, 1);
  ReadPackage(&state.storedPasswordLength, 1);
  ReadPackage(&state.welcomeTextLength, 4);
  ReadPackage(&state.licenceTextLength, 4);
  ReadPackage(&reserved, 1);
  ReadPackage(&state.multiPart, 1);
  ReadPackage(&state.skipIntegrityCheck, 1);
  ReadPackage(&state.useAdvpack, 1);
  ReadPackage(&reserved, 1);
  ReadPackage(&state.totalSize, 4);
}

// A text longer than what is left of the file cannot be a real one: the
// package is damaged, and allocating for it would be a fatal memory error.
void RejectTextPastEnd(LONG length) {
  DWORD size = GetFileSize(state.packageFile, nullptr);
  DWORD position = SetFilePointer(state.packageFile, 0, nullptr, FILE_CURRENT);
  if (size == INVALID_SET_FILE_POINTER || position > size || DWORD(length) > size - position) {
    RejectCorruptPackage();
  }
}

// Reads a scrambled text of `length` bytes into a new block and restores it.
char *ReadScrambledText(LONG length) {
  RejectTextPastEnd(length);
  char *text = static_cast<char *>(AllocateBlock(DWORD(length) + 1));
  FillBytes(text, 0, DWORD(length) + 1);
  ReadPackage(text, DWORD(length));
  Descramble(reinterpret_cast<BYTE *>(text), length);
  return text;
}

void ReadTexts(BYTE titleLength, BYTE infNameLength) {
  if (state.hasTitle) ReadPackage(state.title, titleLength);
  state.title[titleLength] = 0;
  ReadPackage(state.infName, infNameLength);
  state.infName[infNameLength] = 0;
  state.storedPassword = ReadScrambledText(state.storedPasswordLength);
  state.welcomeText = state.welcomeTextLength > 0 ? ReadScrambledText(state.welcomeTextLength)
                                                  : kDefaultWelcomeText;
  state.licenceText =
      state.licenceTextLength > 0 ? ReadScrambledText(state.licenceTextLength) : emptyText;
}

LONG ArchiveBase(BYTE titleLength, BYTE infNameLength) {
  LONG lengths = LONG(titleLength) + infNameLength + state.storedPasswordLength;
  if (state.welcomeTextLength > 0) lengths += state.welcomeTextLength;
  if (state.licenceTextLength > 0) lengths += state.licenceTextLength;
  return kHeaderOffset + LONG(kFixedHeaderSize) + lengths;
}

bool EndRecordReachesEnd(const BYTE *window, LONG length, LONG start, DWORD size) {
  for (LONG i = 0; i + kEndRecordSize <= length; ++i) {
    const BYTE *p = window + i;
    if (p[0] != 0x50 || p[1] != 0x4B || p[2] != 0x05 || p[3] != 0x06) continue;
    LONG commentLength = p[20] | (p[21] << 8);
    // 64-bit sum: a start near the 2 GiB limit must not wrap round.
    if ((long long)size <= (long long)start + i + kEndRecordSize + commentLength) return true;
  }
  return false;
}
}  // namespace

void ReleasePackageTexts() {
  ReleaseBlock(state.storedPassword);
  if (state.welcomeText != kDefaultWelcomeText && state.welcomeText != emptyText) {
    ReleaseBlock(const_cast<char *>(state.welcomeText));
  }
  if (state.licenceText != emptyText) ReleaseBlock(state.licenceText);
  state.storedPassword = state.licenceText = nullptr;
  state.welcomeText = nullptr;
}

void SeekPackage(LONG offset, DWORD origin) {
  state.seekResult = LONG(SetFilePointer(state.packageFile, offset, nullptr, origin));
}

void RejectCorruptPackage() {
  MessageBoxA(nullptr, "The setup file is corrupted. Please obtain a new copy of the program.",
              "Error", MB_ICONHAND);
  CloseHandle(state.packageFile);
  ExitProcess(0);
}

void CheckPackageIntegrity() {
  DWORD size = GetFileSize(state.packageFile, nullptr);
  LONG window = LONG(size) - state.archiveBase;
  if (window > kMaxEndWindow) window = kMaxEndWindow;
  if (window <= kEndRecordSize) RejectCorruptPackage();

  BYTE *buffer = static_cast<BYTE *>(AllocateBlock(DWORD(window)));
  BYTE tail[4] = {0, 0, 0, 0};
  SeekPackage(-4, FILE_END);
  ReadPackage(tail, 4);
  bool passes = tail[0] == 'R' && tail[1] == 'S' && tail[2] == 'F';
  if (!passes) {
    SeekPackage(-window, FILE_END);
    LONG start = state.seekResult;
    passes = ReadPackage(buffer, DWORD(window)) == DWORD(window) &&
             EndRecordReachesEnd(buffer, window, start, size);
  }
  ReleaseBlock(buffer);
  if (!passes) RejectCorruptPackage();
}

bool LoadPackage() {
  state.installStarted = 0;
  state.hasTitle = 0;
  state.ioError = 0;

  GetCurrentDirectoryA(kStartDirSize, state.startDir);
  UINT systemLength = GetSystemDirectoryA(state.systemDir, kSystemDirSize - 1);
  if (systemLength >= kSystemDirSize - 1) systemLength = 0;  // did not fit: unusable
  state.systemDir[systemLength] = 0;
  ChooseTempDir();

  char modulePath[kPathBufferSize];
  RecordModulePath(modulePath);
  state.packageFile = CreateFileA(modulePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (state.packageFile == INVALID_HANDLE_VALUE) {
    MessageBoxA(nullptr, modulePath, "Cannot open file ..", MB_ICONHAND);
    state.ioError = 1;
    return false;
  }

  state.welcomeText = emptyText;
  state.licenceText = emptyText;
  SeekPackage(kHeaderOffset, FILE_BEGIN);
  char magic[3] = {0, 0, 0};
  if (ReadPackage(magic, 3) == 3 && magic[0] == 'Z' && magic[1] == 'E' && magic[2] == 'P') {
    BYTE titleLength = 0, infNameLength = 0;
    ReadFixedHeader(titleLength, infNameLength);
    state.hasTitle = titleLength > 0;
    if (state.adminRequired && !IsAdmin()) {
      MessageBoxA(nullptr, "You need to have administrative privileges to run this program.",
                  "Error", MB_ICONHAND);
      return false;
    }
    ReadTexts(titleLength, infNameLength);
    state.archiveBase = ArchiveBase(titleLength, infNameLength);
    if (!state.multiPart && !state.skipIntegrityCheck) CheckPackageIntegrity();
  }
  if (state.multiPart) return RebuildPackage();
  return true;
}
