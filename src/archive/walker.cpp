#include "walker.h"

#include "member_names.h"
#include "../inflate/inflate.h"
#include "../core/outcome.h"
#include "../core/package_file.h"
#include "../core/progress.h"
#include "../core/run_report.h"
#include "../core/runtime.h"
#include "../core/text.h"
#include "output.h"
#include "password.h"
#include "../core/paths.h"

namespace {
const DWORD kDataDescriptorSignature = 0x08074B50;
const DWORD kOddLocalSignature = 0x50000000;
const DWORD kDataDescriptorSize = 16;
const LONG kShortDescriptorSize = 12;
const DWORD kLocalHeaderSize = sizeof(LocalHeader);
const WORD kFlagEncrypted = 1;
const WORD kFlagDescriptor = 8;
const WORD kMethodStored = 0;
const WORD kMethodDeflated = 8;
const DWORD kLargestPosition = 0x7FFFFFFF;
const DWORD kZipRecordMark = 0x4B50;  // "PK", the start of every zip record

// How a member's handling ends the walk, or lets it go on.
enum MemberEnd {
  kMemberDone,     // extracted (or a folder made); on to the next member
  kMemberSkipped,  // no password opened it; on to the next, but the walk fails
  kWalkFailed,     // the walk ends and fails with "Error extracting file(s)."
  kWalkStopped,    // the walk ends and fails; the reason has been shown already
};

// What the walk finds where it expects a local header.
enum RecordKind {
  kRecordLocalHeader,  // in `state.localHeader`
  kRecordOther,        // another zip record ("PK" and two bytes) or the end of the file
  kRecordGarbage,      // anything else: the archive is damaged, or a size lied
};

RecordKind ReadRecord() {
  // Descriptors are skipped in a loop: a long run of them must not deepen
  // the stack.
  for (;;) {
    FillBytes(&state.localHeader, 0, sizeof state.localHeader);
    DWORD got = 0;
    ReadFile(state.packageFile, &state.localHeader, sizeof state.localHeader, &got, nullptr);
    DWORD signature = state.localHeader.signature;
    if (signature == state.localHeaderSignature || signature == kOddLocalSignature) {
      state.bytesLeft = LONG(state.localHeader.compressedSize);
      return kRecordLocalHeader;
    }
    state.bytesLeft = 0;
    if (signature == kDataDescriptorSignature && state.seekResult != -1) {
      SeekPackage(LONG(DWORD(state.seekResult) + kDataDescriptorSize), FILE_BEGIN);
      continue;
    }
    if (got == 0 || (signature & 0xFFFF) == kZipRecordMark) return kRecordOther;
    return kRecordGarbage;
  }
}

// A zip record ("PK" and two bytes) starts at `at`, or the file ends there.
// A data descriptor counts only when `descriptorToo`.
bool RecordFollows(LONG at, bool descriptorToo) {
  SeekPackage(at, FILE_BEGIN);
  DWORD signature = 0;
  DWORD got = 0;
  ReadFile(state.packageFile, &signature, sizeof signature, &got, nullptr);
  if (DWORD(at) == GetFileSize(state.packageFile, nullptr)) return true;
  return (signature & 0xFFFF) == kZipRecordMark &&
         (descriptorToo || signature != kDataDescriptorSignature);
}

// After the data of a member with a data descriptor: 12 when the descriptor
// there is the short form without its signature, which zip writers may use
// (CRC-32, compressed size, uncompressed size); 0 otherwise, and ReadRecord
// skips a signed one. The short form must repeat the header's CRC-32 and
// compressed size and be followed by a zip record other than a descriptor,
// or by the end of the file; a CRC-32 that equals the signature reads as
// the signed form only when a record follows that reading.
LONG UnsignedDescriptorAt(LONG at) {
  if (DWORD(at) > kLargestPosition - kDataDescriptorSize) return 0;
  SeekPackage(at, FILE_BEGIN);
  DWORD d[2] = {0, 0};
  DWORD got = 0;
  ReadFile(state.packageFile, d, sizeof d, &got, nullptr);
  const LocalHeader &h = state.localHeader;
  if (d[0] != h.crc || d[1] != h.compressedSize) return 0;
  if (d[0] == kDataDescriptorSignature && RecordFollows(at + kDataDescriptorSize, true)) return 0;
  return RecordFollows(at + kShortDescriptorSize, false) ? kShortDescriptorSize : 0;
}

void ShowError(const char *text) { ReportFailure(kExitFailed, text, "Error"); }

bool ReadMemberName(char *nameBuffer, CountedString &name) {
  DWORD n = state.localHeader.nameLength;
  if (n > kLongestMemberName) return false;
  DWORD got = 0;
  ReadFile(state.packageFile, nameBuffer, n, &got, nullptr);
  // A name cut short by the end of the package is not the member's name.
  if (got != n) return false;
  return StringFromBytes(nameBuffer, n, name) && NameStaysInside(name.text, name.length);
}

// The temporary folder, a backslash and the name, with '\' throughout. A
// path that Windows cannot make is refused before anything is written: cut
// short it would name another file, and a folder too long to create would
// end the program as a fatal error.
bool ComposeOutputPath(const CountedString &name, CountedString &path) {
  if (!OutputPathFits(TextLength(state.tempDir), name.text, name.length)) return false;
  if (!AssignString(path, state.tempDir) || !AppendString(path, "\\") ||
      !AppendString(path, name.text)) {
    return false;
  }
  ToBackslashes(path.text);
  return true;
}

bool IsFolderEntry(const CountedString &name) {
  return name.length > 0 && IsSeparator(name.text[name.length - 1]);
}

bool IsFolder(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder is there, and for a folder entry is a folder.
bool FolderReady(char *folder, bool folderEntry) {
  return PathExists(folder) && (!folderEntry || IsFolder(folder));
}

// Makes the folder the member's file goes into (for a folder entry, the
// folder itself); false, after "Error in directory ..", when it is missing.
// A folder that is there already is looked at once, not again after a
// making that made nothing.
bool PrepareFolder(CountedString &path, bool folderEntry) {
  if (FolderReady(path.text, folderEntry)) return true;
  CountedString folder;
  ParentFolder(path, folder);
  if (FolderReady(folder.text, folderEntry)) return true;
  CreateFolderPath(folder);
  if (!FolderReady(folder.text, folderEntry)) {
    ReportFailure(kExitFailed, folder.text, "Error in directory ..");
    return false;
  }
  return true;
}

// Others may read the file while it is written, but nobody may write into
// it: the installer is about to run what it holds.
bool CreateOutputFile(const char *path) {
  state.outFile = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (state.outFile != INVALID_HANDLE_VALUE) return true;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == (attributes & ~DWORD(FILE_ATTRIBUTE_DIRECTORY))) {
    ReportFailure(kExitFailed, path, "Cannot open file ..");
  }
  return false;
}

void ShowExtracting(HWND dialog, const char *path) {
  char line[kPathBufferSize + 16];
  DWORD n = AppendLiteral(line, 0, sizeof line, "\r\n  Extracting: ");
  AppendLiteral(line, n, sizeof line, path);
  ShowProgress(dialog, line);
}

void RecordExtractedFile(const CountedString &path) {
  if (state.extractedCount >= kMaxExtractedFiles) return;
  AssignBytes(state.extractedFiles[state.extractedCount], path.text, path.length);
  ++state.extractedCount;
}

// Copies or decodes the member's data into the open output file and tests
// it. The member fails unless every byte reached the file (a full disk),
// the decoder reached the stream's end without a fault, the package held
// all of a stored member's data, the output has the size the header
// declares, and the CRC matches: a CRC alone is no proof, since a member
// that wrote nothing matches a stored CRC of 0.
MemberVerdict WriteMemberData(const CountedString &path) {
  const LocalHeader &h = state.localHeader;
  state.memberCrc = 0xFFFFFFFF;
  state.memberOutput = 0;
  state.sizeDeclared = HeaderDeclaresSize(h);
  state.declaredSize = h.uncompressedSize;
  state.bytesLeft = MemberDataBytes(h);
  MemberVerdict verdict = kMemberExtracted;
  if (h.method == kMethodStored) {
    CopyStored();
    if (state.bytesLeft != 0) verdict = kMemberDataCut;
  } else if (h.method == kMethodDeflated) {
    if (!HeaderLeavesData(h)) {
      verdict = kMemberDataCut;
    } else if (InflateMember() != kStatusOk) {
      verdict = kMemberDecodeFailed;
    }
  } else {
    ShowError("Unknown compression type");
    StampAndClose(path.text);
    return kMemberUnknownMethod;
  }
  if (state.ioError) {
    verdict = kMemberWriteFailed;
  } else if (verdict == kMemberExtracted && state.sizeDeclared &&
             state.memberOutput != state.declaredSize) {
    verdict = kMemberWrongSize;
  } else if (verdict == kMemberExtracted && (state.memberCrc ^ 0xFFFFFFFF) != h.crc) {
    verdict = kMemberCrcMismatch;
  }
  if (verdict != kMemberExtracted) ShowError("Error extracting file(s).");
  StampAndClose(path.text);
  return verdict;
}

MemberVerdict ExtractMember(HWND dialog, char *nameBuffer, DWORD headerPosition) {
  const LocalHeader &h = state.localHeader;
  CountedString name, path;
  // Every test of the name comes before the password: a member that will
  // be refused is not worth a prompt.
  if (!ReadMemberName(nameBuffer, name) || !ComposeOutputPath(name, path)) {
    ShowError("Invalid filename.");
    return kMemberBadName;
  }
  SeekPackage(LONG(headerPosition + kLocalHeaderSize + h.nameLength + h.extraLength), FILE_BEGIN);
  if (h.flags & kFlagEncrypted) {
    PasswordOutcome outcome = ObtainMemberPassword();
    if (outcome == kPasswordCancelled) return kMemberPasswordCancelled;
    if (outcome == kPasswordRefused) return kMemberPasswordRefused;
  }
  bool folderEntry = IsFolderEntry(name);
  if (!PrepareFolder(path, folderEntry)) return kMemberFolderMissing;
  if (folderEntry) return kMemberExtracted;
  if (!CreateOutputFile(path.text)) return kMemberFileNotCreated;
  ShowExtracting(dialog, path.text);
  RecordExtractedFile(path);
  return WriteMemberData(path);
}

// A listing walk judges what it can without extracting: the name as the
// extraction takes it, the method, and whether the header leaves room for
// the data.
MemberVerdict ListMember(char *nameBuffer) {
  const LocalHeader &h = state.localHeader;
  CountedString name, path;
  if (!ReadMemberName(nameBuffer, name) || !ComposeOutputPath(name, path)) return kMemberBadName;
  if (h.method != kMethodStored && h.method != kMethodDeflated) return kMemberUnknownMethod;
  if (!HeaderLeavesData(h)) return kMemberNoData;
  return kMemberListed;
}

// How a member's verdict lets the walk go on.
MemberEnd EndOfMember(MemberVerdict verdict) {
  if (verdict == kMemberExtracted || verdict == kMemberListed) return kMemberDone;
  if (verdict == kMemberPasswordRefused) return kMemberSkipped;
  if (verdict == kMemberFolderMissing || verdict == kMemberFileNotCreated) return kWalkFailed;
  return kWalkStopped;
}

// Extracts each member, or with `extract` false only lists it, reporting
// every one. A listing goes on past members the extraction would stop at.
MemberEnd WalkMembers(HWND dialog, char *nameBuffer, bool extract) {
  bool anyMember = false, anySkipped = false;
  RecordKind record;
  while ((record = ReadRecord()) == kRecordLocalHeader) {
    anyMember = true;
    DWORD headerPosition = DWORD(state.seekResult);
    MemberVerdict verdict =
        extract ? ExtractMember(dialog, nameBuffer, headerPosition) : ListMember(nameBuffer);
    ReportMember(headerPosition, verdict);
    MemberEnd end = EndOfMember(verdict);
    if (end == kMemberSkipped) {
      anySkipped = true;
    } else if (end != kMemberDone && extract) {
      return end;
    }
    LONG next = 0;
    if (!NextHeaderPosition(state.localHeader, headerPosition, next)) {
      ReportWalkEnd(kWalkEndOutOfReach, headerPosition);
      return kWalkFailed;
    }
    if (state.localHeader.flags & kFlagDescriptor) next += UnsignedDescriptorAt(next);
    SeekPackage(next, FILE_BEGIN);
    if (state.seekResult == -1) {
      ReportWalkEnd(kWalkEndOutOfReach, DWORD(next));
      return kWalkFailed;
    }
  }
  ReportWalkEnd(record == kRecordOther ? kWalkEndAtRecord : kWalkEndOnGarbage,
                DWORD(state.seekResult));
  // The walk must end on the central directory (or another zip record, or
  // the end of the file). Anything else means a member's size was wrong --
  // a streamed archive whose local headers carry no sizes ends up here --
  // and members after it would be lost without a word. An archive without
  // members extracted nothing, and a member no password opened is missing:
  // none of these is a success.
  return anyMember && !anySkipped && record == kRecordOther ? kMemberDone : kWalkFailed;
}

// Seeks to the archive's first byte; false, with the end reported, when
// the package file cannot be positioned there.
bool StartWalk() {
  // Computed at run time so that the stub's image never holds the
  // signature's bytes, which would read as an archive of its own.
  volatile DWORD one = 1;
  state.localHeaderSignature = 0x04034B51 - one;
  SeekPackage(state.archiveBase, FILE_BEGIN);
  if (state.seekResult != -1) return true;
  ReportWalkEnd(kWalkEndOutOfReach, DWORD(state.archiveBase));
  return false;
}
}  // namespace

bool NextHeaderPosition(const LocalHeader &h, DWORD headerPosition, LONG &next) {
  if (h.compressedSize > kLargestPosition) return false;
  DWORD position = headerPosition + kLocalHeaderSize + h.nameLength + h.extraLength;
  if (position > kLargestPosition || h.compressedSize > kLargestPosition - position) return false;
  next = LONG(position + h.compressedSize);
  return true;
}

bool StringFromBytes(const char *bytes, DWORD count, CountedString &s) {
  DWORD n = 0;
  while (n < count && bytes[n]) ++n;
  return AssignBytes(s, bytes, n);
}

void ExtractArchive(HWND dialog) {
  state.extractedCount = 0;
  state.extractOk = 0;
  if (!StartWalk()) {
    ShowError("Error reading archive.");
    return;
  }
  char *nameBuffer = static_cast<char *>(AllocateBlock(kLongestMemberName));
  MemberEnd end = WalkMembers(dialog, nameBuffer, true);
  if (end == kMemberDone) {
    state.extractOk = 1;
  } else if (end == kWalkFailed) {
    ShowError("Error extracting file(s).");
    ShowStatus(dialog, "Error extracting file(s).");
  }
  ReleaseBlock(nameBuffer);
}

void ListArchive() {
  if (!StartWalk()) return;
  char *nameBuffer = static_cast<char *>(AllocateBlock(kLongestMemberName));
  WalkMembers(nullptr, nameBuffer, false);
  ReleaseBlock(nameBuffer);
}
