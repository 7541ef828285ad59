// The Authenticode signature a signing tool adds to the program file.
//
// Signing (signtool, osslsigncode) pads the file with zeros to a multiple of
// 8 bytes, appends a table of attribute certificates, records the table's
// file offset and size in the security entry of the image's data directory,
// and brings the image checksum up to date over the whole file. Windows
// judges the signature itself; the program only has to know where its own
// bytes end, and it takes exactly that shape: a well-formed table that
// starts on an 8-byte boundary no earlier than the archive and runs to the
// end of the file. Anything else in the security entry is damage.
#ifndef VANTREL_SIGNATURE_H
#define VANTREL_SIGNATURE_H

#include <windows.h>

// Certificate entries start on this boundary, and so does the table.
const DWORD kCertificateAlignment = 8;

struct ImageSignature {
  DWORD checksumOffset;    // where the optional header keeps the image checksum
  DWORD recordedChecksum;  // the checksum found there
  DWORD tableStart;        // file offset of the certificate table
  DWORD tableSize;         // its length, up to the end of the file
};

enum SignatureShape {
  kNotSigned,            // the security entry is empty, or there is no PE header to hold one
  kCertificatesInPlace,  // a well-formed certificate table closes the file
  kSecurityEntryBad,     // the entry names anything else
};

// Reads the security entry of the image at the start of `file` and walks
// the certificate table it names; `earliestStart` is the first offset the
// table may begin at (the archive's start). Moves the file position.
SignatureShape FindCertificateTable(HANDLE file, LONG earliestStart, ImageSignature &image);

// The image checksum of the whole file, computed as the signing tools do,
// equals the recorded one. Reads the whole file; moves the file position.
bool ImageChecksumMatches(HANDLE file, const ImageSignature &image);

#endif
