// The package as it lies behind the stub's image, and the limits the stub
// puts on what a package may hold. The stub reads packages by these numbers
// and vantrel-pack writes and checks them by the same ones, so that both
// always agree.
#ifndef VANTREL_PACKAGE_LAYOUT_H
#define VANTREL_PACKAGE_LAYOUT_H

#include <windows.h>

// The offset of the package header: the size of the stub's own image. The
// build pads the linked image to exactly this size.
const LONG kHeaderOffset = 35328;

// The fixed header, field by field in file order: where each field starts,
// relative to kHeaderOffset. The flags are one byte (any value but 0 is
// "on"), the three short lengths one byte, the other numbers four bytes,
// little-endian and signed. The reserved bytes are read and never looked at.
enum HeaderField {
  kMagicAt = 0,                  // "ZEP", 3 bytes
  kStayOpenAt = 3,               // flag
  kTitleLengthAt = 4,            // length of the title that follows the header
  kInfNameLengthAt = 5,          // length of the INF name after it
  kAdminRequiredAt = 6,          // flag
  kStoredPasswordLengthAt = 7,   // length of the stored (scrambled) password
  kWelcomeTextLengthAt = 8,      // 4 bytes; 0 or less: no welcome text
  kLicenceTextLengthAt = 12,     // 4 bytes; 0 or less: no licence text
  kFirstReservedAt = 16,
  kMultiPartAt = 17,             // flag
  kSkipIntegrityCheckAt = 18,    // flag
  kUseAdvpackAt = 19,            // flag
  kSecondReservedAt = 20,
  kTotalSizeAt = 21,             // 4 bytes: the whole package, image and all parts
  kFixedHeaderSize = 25,
};
const char kHeaderMagic[] = "ZEP";

// The title, the INF name and the stored password carry a one-byte length.
const DWORD kLongestShortText = 255;

// A member's name is read into a buffer of this many bytes; a longer one is
// refused.
const DWORD kLongestMemberName = 258;

// The files the extraction records for the removal after installing; later
// ones are extracted but stay behind.
const DWORD kMaxExtractedFiles = 255;

// Positions in the package file are signed 32-bit: no package is larger.
const DWORD kLargestPackage = 0x7FFFFFFF;

// The part counter is 8 bits wide: the program file and parts 001 to 255.
const BYTE kLastPartNumber = 255;

#endif
