#include "multipart.h"

#include "../archive/temp_folder.h"
#include "../core/outcome.h"
#include "../core/program_state.h"
#include "../core/run_report.h"
#include "../core/runtime.h"
#include "signature.h"
#include "../core/text.h"

namespace {
const DWORD kCopyChunk = 32768;

// How many of the (at most seven) bytes before `end` in the open piece are
// zeros, counted back from `end`.
LONG ZerosBefore(LONG end) {
  BYTE tail[kCertificateAlignment - 1];
  const LONG count = LONG(sizeof tail);
  DWORD got = 0;
  SetFilePointer(state.outFile, end - count, nullptr, FILE_BEGIN);
  ReadFile(state.outFile, tail, sizeof tail, &got, nullptr);
  LONG zeros = 0;
  while (got == sizeof tail && zeros < count && tail[count - 1 - zeros] == 0) ++zeros;
  return zeros;
}

// The bytes of the open piece that belong to the package: a signed program
// file ends in its certificate table, which the rebuilt file leaves out,
// and before it in up to seven zeros with which the signer padded the file
// to a multiple of 8 bytes. Zeros there may also be the package's own last
// bytes: they are `held` back until the pieces' sizes tell which they are.
LONG PackageBytesOfPiece(BYTE partNumber, LONG &held) {
  LONG size = LONG(GetFileSize(state.outFile, nullptr));
  if (partNumber > 0) return size;
  ImageSignature image;
  if (FindCertificateTable(state.outFile, state.archiveBase, image) == kCertificatesInPlace) {
    size = LONG(image.tableStart);
    held = ZerosBefore(size);
    size -= held;
  }
  SetFilePointer(state.outFile, 0, nullptr, FILE_BEGIN);
  return size;
}

// Writes `count` bytes at `to` in the rebuilt file: those read from `from`
// in it, or zeros when `from` is negative.
void Transfer(LONG from, LONG to, DWORD count) {
  HANDLE file = state.packageFile;
  DWORD done = count;
  if (from < 0) {
    FillBytes(state.inputBuffer, 0, count);
  } else {
    SetFilePointer(file, from, nullptr, FILE_BEGIN);
    ReadFile(file, state.inputBuffer, count, &done, nullptr);
  }
  SetFilePointer(file, to, nullptr, FILE_BEGIN);
  if (done != count || !WriteFile(file, state.inputBuffer, count, &done, nullptr) ||
      done != count) {
    state.ioError = 1;
  }
}

// Moves the rebuilt file's bytes from `at` on `gap` bytes towards its end,
// last chunk first, and fills the gap with zeros: the held-back zeros that
// were the package's own.
void OpenGap(LONG at, LONG gap) {
  LONG end = LONG(GetFileSize(state.packageFile, nullptr));
  while (end > at && !state.ioError) {
    LONG n = end - at < LONG(kCopyChunk) ? end - at : LONG(kCopyChunk);
    end -= n;
    Transfer(end, end + gap, DWORD(n));
  }
  if (!state.ioError) Transfer(-1, at, DWORD(gap));
}

// Copies the first `bytes` bytes of the open piece in `state.outFile` to the
// rebuilt file. A read that delivers nothing before they are copied (a disk
// taken out) fails the rebuild rather than looping.
void CopyPiece(LONG bytes) {
  state.bytesLeft = bytes;
  while (state.bytesLeft > 0 && !state.ioError) {
    DWORD want = DWORD(state.bytesLeft) < kCopyChunk ? DWORD(state.bytesLeft) : kCopyChunk;
    DWORD got = 0;
    ReadFile(state.outFile, state.inputBuffer, want, &got, nullptr);
    state.inputCount = got;
    if (got == 0) {
      state.ioError = 1;
      break;
    }
    state.bytesLeft -= LONG(got);
    DWORD written = 0;
    state.ioError = !WriteFile(state.packageFile, state.inputBuffer, got, &written, nullptr) ||
                    written != got;
  }
}

// "Please insert disk with part number N.."; only OK tries the part again.
// Cancel fails the rebuild, and so does a prompt that could not be shown
// (0): asking again would never end. A quiet run has nobody to insert a
// disk: the missing part fails it at once.
void PromptForDisk(BYTE partNumber) {
  ReportMissingPart(partNumber);
  if (state.quiet) {
    state.ioError = 1;
    return;
  }
  char text[64];
  DWORD n = AppendLiteral(text, 0, sizeof text, "Please insert disk with part number ");
  n = AppendDecimal(text, n, sizeof text, DWORD(partNumber) + 1);
  AppendLiteral(text, n, sizeof text, "..");
  if (MessageBoxA(nullptr, text, state.title, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
    state.ioError = 1;
  }
}

bool NamePiece(BYTE partNumber) { return partNumber == 0 || NamePart(state.partPath, partNumber); }

LONG RebuiltSize() { return LONG(GetFileSize(state.packageFile, nullptr)); }

// A package whose program file held back zeros is complete when, with no
// further piece at hand, those zeros make up what it lacks: they were its
// own, and go back in where the program file's bytes end.
void CopyPieces() {
  BYTE partNumber = 0;
  bool counterSpent = false;  // the 8-bit counter cannot name a piece after 255
  LONG held = 0;
  LONG programBytes = 0;
  while (!state.ioError && RebuiltSize() < state.totalSize) {
    if (counterSpent || !NamePiece(partNumber)) {
      state.ioError = 1;
      break;
    }
    state.outFile = CreateFileA(state.partPath.text, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (state.outFile != INVALID_HANDLE_VALUE) {
      LONG bytes = PackageBytesOfPiece(partNumber, held);
      if (partNumber == 0) programBytes = bytes;
      CopyPiece(bytes);
      CloseHandle(state.outFile);
      if (partNumber == kLastPartNumber) counterSpent = true;
      ++partNumber;
    } else if (RebuiltSize() + held >= state.totalSize) {
      break;
    } else {
      PromptForDisk(partNumber);
    }
  }
  LONG missing = state.totalSize - RebuiltSize();
  if (!state.ioError && missing > 0 && missing <= held) OpenGap(programBytes, missing);
}
}  // namespace

void FormatPartNumber(BYTE n, BYTE width, char *out) {
  char digits[4];
  DWORD used = AppendDecimal(digits, 0, sizeof digits, n);
  DWORD pad = width > used ? width - used : 0;
  if (pad + used > 3) pad = 3 - used;
  FillBytes(out, '0', pad);
  CopyBytes(out + pad, digits, used + 1);
}

bool NamePart(CountedString &path, BYTE partNumber) {
  if (path.length < 3) return false;
  char digits[4];
  FormatPartNumber(partNumber, 3, digits);
  CopyBytes(path.text + path.length - 3, digits, 3);
  return true;
}

bool RebuildPackage() {
  CreateTempFolder();
  AssignString(state.rebuiltPath, state.tempDir);
  AppendString(state.rebuiltPath, "\\Vantrel.pkg");

  // The program's own file is done with: from here on the package file is
  // the rebuilt one.
  CloseHandle(state.packageFile);
  // Nobody else writes into it while it is rebuilt.
  // Read access too: held-back zeros may have to be put back in.
  state.packageFile = CreateFileA(state.rebuiltPath.text, GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  state.ioError = state.packageFile == INVALID_HANDLE_VALUE;
  state.inputBuffer = static_cast<BYTE *>(AllocateBlock(kCopyChunk));
  char modulePath[kPathBufferSize];
  DWORD n = GetModuleFileNameA(nullptr, modulePath, kPathBufferSize);
  modulePath[n < kPathBufferSize ? n : kPathBufferSize - 1] = 0;
  AssignString(state.partPath, modulePath);

  if (!state.ioError) CopyPieces();

  ReleaseBlock(state.inputBuffer);
  state.inputBuffer = nullptr;
  if (state.packageFile != INVALID_HANDLE_VALUE) CloseHandle(state.packageFile);
  state.packageFile = INVALID_HANDLE_VALUE;  // nothing left for the exit sequence to close
  if (state.ioError) {
    ReportFailure(kExitFailed, "Error rebuilding this Setup package.", "Error");
    return false;
  }
  state.packageFile = CreateFileA(state.rebuiltPath.text, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  state.ioError = state.packageFile == INVALID_HANDLE_VALUE;
  // Shown to nobody, but a failure all the same.
  if (state.ioError) RecordFailure(kExitFailed);
  return !state.ioError;
}
