// Walking the zip archive that follows the package header and extracting
// every member into the temporary folder.
#ifndef VANTREL_EXTRACT_H
#define VANTREL_EXTRACT_H

#include "../core/program_state.h"

// Extracts every member in file order; the result is `state.extractOk`.
// Status lines go to the text control of `dialog` (the main dialog).
void ExtractArchive(HWND dialog);

// Reads the record at the package file's position (where the last seek put
// it): true with the member's header in `state.localHeader`, false at the
// end of the archive. Data descriptors in front of a header are skipped.
bool ReadLocalHeader();

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

// The first `count` bytes, cut before the first NUL among them. False, with
// `s` unchanged, when the text does not fit a counted string.
bool StringFromBytes(const char *bytes, DWORD count, CountedString &s);

#endif
