// Walking the zip archive that follows the package header and extracting
// every member into the temporary folder.
#ifndef VANTREL_WALKER_H
#define VANTREL_WALKER_H

#include "../core/program_state.h"

// Extracts every member in file order; the result is `state.extractOk`.
// Status lines go to the text control of `dialog` (the main dialog).
void ExtractArchive(HWND dialog);

// Walks the archive as ExtractArchive does but extracts nothing: every
// member is reported (run_report.h) with what can be judged of it unread --
// its name, its method, room for its data -- and the walk goes on past
// members the extraction would stop at. Nothing is written or asked.
void ListArchive();

// Whether a local header states the member's uncompressed size: always,
// unless a data descriptor follows and the header left the size at 0 (a
// streamed member, whose writer did not know the size yet).
inline bool HeaderDeclaresSize(const LocalHeader &h) {
  return !(h.flags & 8) || h.uncompressedSize != 0;
}

// The bytes of the member's data after its local header: the compressed
// size, less the encryption header of an encrypted member. A header that
// claims less than an encryption header leaves it negative.
inline LONG MemberDataBytes(const LocalHeader &h) {
  return LONG(h.compressedSize) - ((h.flags & 1) ? 12 : 0);
}

// Whether the header leaves the member any data: an encrypted member holds
// at least its encryption header, and no deflate stream is empty (a
// streamed archive that gives its sizes only after the data shows none).
inline bool HeaderLeavesData(const LocalHeader &h) {
  return h.method == 8 ? MemberDataBytes(h) > 0 : MemberDataBytes(h) >= 0;
}

// Where the record after the member with header `h` at `headerPosition`
// starts: after its name, extra field and data. False when that lies
// beyond what a file position can express (a size no real member has).
bool NextHeaderPosition(const LocalHeader &h, DWORD headerPosition, LONG &next);

// The first `count` bytes, cut before the first NUL among them. False, with
// `s` unchanged, when the text does not fit a counted string.
bool StringFromBytes(const char *bytes, DWORD count, CountedString &s);

#endif
