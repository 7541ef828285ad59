#include "package.h"

#include "../core/package_file.h"

#include "admin.h"
#include "descramble.h"
#include "multipart.h"
#include "../core/outcome.h"
#include "../core/program_state.h"
#include "../core/runtime.h"
#include "signature.h"
#include "../core/text.h"

const char kDefaultWelcomeText[] = "\r\r\rPlease click \"Install\" to start setup.";

namespace {
char emptyText[1];

// Reads up to `count` bytes; what cannot be read stays as it was (zero for
// the header fields), so a header cut short loads as zeros.
DWORD ReadPackage(void *into, DWORD count) {
  DWORD got = 0;
  ReadFile(state.packageFile, into, count, &got, nullptr);
  return got;
}

// A four-byte little-endian number of the header.
DWORD HeaderNumber(const BYTE *p) {
  return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}

bool RecordModulePath(char *path) {
  DWORD n = GetModuleFileNameA(nullptr, path, kPathBufferSize);
  if (n >= kPathBufferSize) n = kPathBufferSize - 1;
  path[n] = 0;
  return n > 0;
}

// A text longer than what is left of the file cannot be a real one: the
// package is damaged, and allocating for it would be a fatal memory error.
void RejectTextPastEnd(LONG length) {
  DWORD size = GetFileSize(state.packageFile, nullptr);
  DWORD position = SetFilePointer(state.packageFile, 0, nullptr, FILE_CURRENT);
  if (size == INVALID_FILE_SIZE || position > size || DWORD(length) > size - position) {
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

// The zero bytes just before the certificate table that may be its
// alignment padding: at most seven.
LONG PaddingBefore(const BYTE *window, LONG length) {
  LONG zeros = 0;
  while (zeros < LONG(kCertificateAlignment) - 1 && zeros < length &&
         window[length - 1 - zeros] == 0) {
    ++zeros;
  }
  return zeros;
}

bool MarkedAt(const BYTE *window, LONG end) {
  return end >= 4 && window[end - 4] == 'R' && window[end - 3] == 'S' && window[end - 2] == 'F';
}

// Where the archive must end and what each verdict is called there: the end
// of the file, or the start of a certificate table, before which up to seven
// zero bytes may be the table's alignment padding.
struct EndPlace {
  DWORD end;
  LONG largestWindow;
  bool mayBePadded;
  PackageEnd recordFound;
  PackageEnd recordMissing;
};

// Reads the last stretch of the archive before `place.end` and judges it: a
// multi-part mark, or an end record whose comment reaches that place.
PackageEnd JudgeEndAt(const EndPlace &place) {
  LONG window = LONG(place.end) - state.archiveBase;
  if (window > place.largestWindow) window = place.largestWindow;
  if (window <= kEndRecordSize) return kArchiveTooShort;

  BYTE *buffer = static_cast<BYTE *>(AllocateBlock(DWORD(window)));
  SeekPackage(LONG(place.end) - window, FILE_BEGIN);
  LONG start = state.seekResult;
  PackageEnd end = kEndUnreadable;
  if (start >= 0 && ReadPackage(buffer, DWORD(window)) == DWORD(window)) {
    LONG padding = place.mayBePadded ? PaddingBefore(buffer, window) : 0;
    end = place.recordMissing;
    for (LONG cut = window - padding; cut <= window && end != kEndMarked; ++cut) {
      if (MarkedAt(buffer, cut)) end = kEndMarked;
    }
    if (end != kEndMarked &&
        EndRecordReachesEnd(buffer, window, start, place.end - DWORD(padding))) {
      end = place.recordFound;
    }
  }
  ReleaseBlock(buffer);
  return end;
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

bool ReadFixedHeader(HeaderLengths &lengths) {
  lengths.title = lengths.infName = 0;
  SeekPackage(kHeaderOffset, FILE_BEGIN);
  // A header cut short reads as zeros from where the file ends.
  BYTE h[kFixedHeaderSize];
  FillBytes(h, 0, sizeof h);
  if (ReadPackage(h, kFixedHeaderSize) < 3 || h[kMagicAt] != kHeaderMagic[0] ||
      h[kMagicAt + 1] != kHeaderMagic[1] || h[kMagicAt + 2] != kHeaderMagic[2]) {
    return false;
  }
  state.stayOpen = h[kStayOpenAt];
  lengths.title = h[kTitleLengthAt];
  lengths.infName = h[kInfNameLengthAt];
  state.adminRequired = h[kAdminRequiredAt];
  state.storedPasswordLength = h[kStoredPasswordLengthAt];
  state.welcomeTextLength = LONG(HeaderNumber(h + kWelcomeTextLengthAt));
  state.licenceTextLength = LONG(HeaderNumber(h + kLicenceTextLengthAt));
  state.multiPart = h[kMultiPartAt];
  state.skipIntegrityCheck = h[kSkipIntegrityCheckAt];
  state.useAdvpack = h[kUseAdvpackAt];
  state.totalSize = LONG(HeaderNumber(h + kTotalSizeAt));
  return true;
}

void ReadPackageTexts(const HeaderLengths &lengths) {
  // A header cut short ends each text where the file ends, never in
  // whatever the buffer held before.
  state.title[lengths.title > 0 ? ReadPackage(state.title, lengths.title) : 0] = 0;
  state.infName[ReadPackage(state.infName, lengths.infName)] = 0;
  state.storedPassword = ReadScrambledText(state.storedPasswordLength);
  state.welcomeText = state.welcomeTextLength > 0 ? ReadScrambledText(state.welcomeTextLength)
                                                  : kDefaultWelcomeText;
  state.licenceText =
      state.licenceTextLength > 0 ? ReadScrambledText(state.licenceTextLength) : emptyText;
}

LONG ArchiveBase(const HeaderLengths &lengths) {
  LONG total = LONG(lengths.title) + lengths.infName + state.storedPasswordLength;
  if (state.welcomeTextLength > 0) total += state.welcomeTextLength;
  if (state.licenceTextLength > 0) total += state.licenceTextLength;
  return kHeaderOffset + LONG(kFixedHeaderSize) + total;
}

void RejectCorruptPackage() {
  ReportFailure(kExitFailed,
                "The setup file is corrupted. Please obtain a new copy of the program.", "Error");
  CloseHandle(state.packageFile);
  ExitProcess(kExitFailed);
}

PackageEnd JudgePackageEnd() {
  // A signature is judged first: its table, then the checksum, which any
  // byte changed since signing upsets.
  ImageSignature image;
  SignatureShape shape = FindCertificateTable(state.packageFile, state.archiveBase, image);
  if (shape == kSecurityEntryBad) return kSecurityEntryRefused;
  if (shape == kCertificatesInPlace && !ImageChecksumMatches(state.packageFile, image)) {
    return kChangedAfterSigning;
  }
  if (state.multiPart) return kEndInParts;
  // The same rule signed as unsigned, with the file taken to end where the
  // certificate table starts: whatever passes unsigned passes signed.
  if (shape == kCertificatesInPlace) {
    return JudgeEndAt({image.tableStart, kMaxEndWindow + LONG(kCertificateAlignment) - 1, true,
                       kEndRecordAtCertificates, kNoEndRecordAtCertificates});
  }
  return JudgeEndAt({GetFileSize(state.packageFile, nullptr), kMaxEndWindow, false,
                     kEndRecordAtEnd, kNoEndRecordAtEnd});
}

void CheckPackageIntegrity() {
  if (!PackageEndPasses(JudgePackageEnd())) RejectCorruptPackage();
}

bool LoadPackage() {
  state.installStarted = 0;
  state.hasTitle = 0;
  state.ioError = 0;

  // A folder that cannot be read, or does not fit, is not recorded: the
  // installer's end then leaves the temporary folder another way.
  DWORD startLength = GetCurrentDirectoryA(kStartDirSize, state.startDir);
  if (startLength >= kStartDirSize) startLength = 0;
  state.startDir[startLength] = 0;
  UINT systemLength = GetSystemDirectoryA(state.systemDir, kSystemDirSize - 1);
  if (systemLength >= kSystemDirSize - 1) systemLength = 0;  // did not fit: unusable
  state.systemDir[systemLength] = 0;
  ChooseTempDir();

  char modulePath[kPathBufferSize];
  RecordModulePath(modulePath);
  state.packageFile = CreateFileA(modulePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (state.packageFile == INVALID_HANDLE_VALUE) {
    ReportFailure(kExitFailed, modulePath, "Cannot open file ..");
    state.ioError = 1;
    return false;
  }

  state.welcomeText = emptyText;
  state.licenceText = emptyText;
  HeaderLengths lengths;
  if (ReadFixedHeader(lengths)) {
    state.hasTitle = lengths.title > 0;
    if (state.adminRequired && !IsAdmin()) {
      // The system's own code for rights that are missing. Not "elevation
      // required" (740): the check is for membership of the Administrators
      // group, which a token that is merely not elevated still shows, and
      // a tool that reads 740 may ask again through a prompt nobody sees.
      ReportFailure(kExitAccessDenied,
                    "You need to have administrative privileges to run this program.", "Error");
      return false;
    }
    ReadPackageTexts(lengths);
    state.archiveBase = ArchiveBase(lengths);
    if (!state.skipIntegrityCheck) CheckPackageIntegrity();
  }
  if (state.multiPart) return RebuildPackage();
  return true;
}
