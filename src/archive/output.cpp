#include "output.h"

#include "../core/crc32.h"
#include "../core/outcome.h"
#include "../core/runtime.h"
#include "../core/zipcrypto.h"

namespace {
const LONG kCopyChunk = 32768;
const WORD kFlagEncrypted = 1;
}  // namespace

void CopyStored() {
  // An encrypted member shorter than its own encryption header leaves a
  // negative count: there is nothing to read, and no buffer is sized by it.
  LONG first = state.bytesLeft < kCopyChunk ? state.bytesLeft : kCopyChunk;
  if (first < 0) first = 0;
  BYTE *buffer = static_cast<BYTE *>(AllocateBlock(DWORD(first) + 2));
  while (state.bytesLeft > 0) {
    DWORD want = DWORD(state.bytesLeft < kCopyChunk ? state.bytesLeft : kCopyChunk);
    DWORD got = 0;
    ReadFile(state.packageFile, buffer, want, &got, nullptr);
    // The package ends inside the member: stop rather than read for ever;
    // the count left over tells the walker the member is incomplete.
    if (got == 0 || got > want) break;
    state.bytesLeft -= LONG(got);
    if (state.localHeader.flags & kFlagEncrypted) DecipherBuffer(buffer, got);
    DWORD written = 0;
    WriteFile(state.outFile, buffer, got, &written, nullptr);
    if (written > got) written = got;
    CrcUpdateBuffer(buffer, LONG(written), state.memberCrc);
    state.memberOutput += written;
    if (written != got) state.ioError = 1;
  }
  ReleaseBlock(buffer);
}

void StampAndClose(const char *path) {
  FILETIME local, utc;
  // A date or time that does not convert leaves the file's time as it is.
  if (DosDateTimeToFileTime(state.localHeader.dosDate, state.localHeader.dosTime, &local) &&
      LocalFileTimeToFileTime(&local, &utc)) {
    SetFileTime(state.outFile, nullptr, nullptr, &utc);
  }
  if (!CloseHandle(state.outFile)) ReportFailure(kExitFailed, path, "Cannot close the file");
  state.outFile = INVALID_HANDLE_VALUE;
}
