#include "signature.h"

#include "../core/runtime.h"

namespace {
const DWORD kNewHeaderPointer = 0x3C;  // e_lfanew in the MS-DOS header
const DWORD kCoffHeaderSize = 20;
const DWORD kOptionalHeaderStart = 4 + kCoffHeaderSize;  // after "PE\0\0"
const DWORD kOptionalHeaderSizeField = 4 + 16;
const DWORD kChecksumField = 64;  // the same for PE32 and PE32+
const WORD kMagicPe32 = 0x10B;
const WORD kMagicPe32Plus = 0x20B;
const DWORD kSecurityEntry = 4;  // IMAGE_DIRECTORY_ENTRY_SECURITY
const DWORD kDirectoryEntrySize = 8;
// Enough of the headers for the security entry of either optional header.
const DWORD kHeadersRead = kOptionalHeaderStart + 112 + (kSecurityEntry + 1) * kDirectoryEntrySize;
const DWORD kCertificateHeaderSize = 8;  // dwLength, wRevision, wCertificateType
const WORD kCertificateRevision1 = 0x0100;
const WORD kCertificateRevision2 = 0x0200;
const DWORD kChecksumChunk = 32768;

DWORD Le16(const BYTE *p) { return DWORD(p[0]) | (DWORD(p[1]) << 8); }
DWORD Le32(const BYTE *p) { return Le16(p) | (Le16(p + 2) << 16); }

bool ReadAt(HANDLE file, DWORD offset, void *into, DWORD count) {
  if (offset > 0x7FFFFFFF) return false;
  if (SetFilePointer(file, LONG(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return false;
  }
  DWORD got = 0;
  return ReadFile(file, into, count, &got, nullptr) && got == count;
}

// Finds the security entry; false when the file has no PE image header
// with a data directory that long, which leaves nothing signed.
bool ReadSecurityEntry(HANDLE file, ImageSignature &image, DWORD &start, DWORD &size) {
  BYTE pointer[4];
  if (!ReadAt(file, kNewHeaderPointer, pointer, 4)) return false;
  DWORD at = Le32(pointer);
  BYTE h[kHeadersRead];
  if (at > 0x7FFFFFFF - kHeadersRead || !ReadAt(file, at, h, kHeadersRead)) return false;
  if (h[0] != 'P' || h[1] != 'E' || h[2] != 0 || h[3] != 0) return false;
  const BYTE *optional = h + kOptionalHeaderStart;
  DWORD magic = Le16(optional);
  DWORD countField = magic == kMagicPe32 ? 92 : magic == kMagicPe32Plus ? 108 : 0;
  if (countField == 0) return false;
  DWORD directory = countField + 4;
  DWORD entry = directory + kSecurityEntry * kDirectoryEntrySize;
  if (Le32(optional + countField) <= kSecurityEntry ||
      Le16(h + kOptionalHeaderSizeField) < entry + kDirectoryEntrySize) {
    return false;
  }
  image.checksumOffset = at + kOptionalHeaderStart + kChecksumField;
  image.recordedChecksum = Le32(optional + kChecksumField);
  start = Le32(optional + entry);
  size = Le32(optional + entry + 4);
  return true;
}

// The table's entries follow one another, each rounded up to the alignment,
// and their rounded lengths add up to exactly the table's size.
bool CertificatesFillTable(HANDLE file, DWORD start, DWORD end) {
  DWORD at = start;
  while (at < end) {
    BYTE header[kCertificateHeaderSize];
    if (!ReadAt(file, at, header, kCertificateHeaderSize)) return false;
    DWORD length = Le32(header);
    DWORD revision = Le16(header + 4);
    if (revision != kCertificateRevision1 && revision != kCertificateRevision2) return false;
    DWORD left = end - at;
    if (length < kCertificateHeaderSize || length > left) return false;
    DWORD padding =
        (kCertificateAlignment - length % kCertificateAlignment) % kCertificateAlignment;
    if (padding > left - length) return false;
    at += length + padding;
  }
  return true;
}
}  // namespace

SignatureShape FindCertificateTable(HANDLE file, LONG earliestStart, ImageSignature &image) {
  DWORD start = 0, size = 0;
  if (!ReadSecurityEntry(file, image, start, size)) return kNotSigned;
  if (start == 0 && size == 0) return kNotSigned;
  image.tableStart = start;
  image.tableSize = size;
  DWORD fileSize = GetFileSize(file, nullptr);
  if (fileSize == INVALID_FILE_SIZE || start % kCertificateAlignment != 0 || earliestStart < 0 ||
      start < DWORD(earliestStart) || start > fileSize || size != fileSize - start ||
      size < kCertificateHeaderSize) {
    return kSecurityEntryBad;
  }
  return CertificatesFillTable(file, start, fileSize) ? kCertificatesInPlace : kSecurityEntryBad;
}

// The sum of the file's 16-bit little-endian words, carries folded back in,
// with the checksum field itself counted as zero; plus the file's length.
bool ImageChecksumMatches(HANDLE file, const ImageSignature &image) {
  DWORD size = GetFileSize(file, nullptr);
  if (size == INVALID_FILE_SIZE ||
      SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return false;
  }
  // One byte more, for the zero that completes an odd last word.
  BYTE *buffer = static_cast<BYTE *>(AllocateBlock(kChecksumChunk + 1));
  DWORD sum = 0;
  DWORD done = 0;
  while (done < size) {
    DWORD want = size - done < kChecksumChunk ? size - done : kChecksumChunk;
    DWORD got = 0;
    if (!ReadFile(file, buffer, want, &got, nullptr) || got != want) break;
    for (DWORD k = 0; k < 4; ++k) {
      DWORD at = image.checksumOffset + k;
      if (at >= done && at - done < got) buffer[at - done] = 0;
    }
    buffer[got] = 0;
    // At most 16,384 words of 0xFFFF: the chunk's sum fits 32 bits.
    DWORD chunkSum = 0;
    for (DWORD i = 0; i < got; i += 2) chunkSum += Le16(buffer + i);
    sum = (sum & 0xFFFF) + (sum >> 16) + (chunkSum & 0xFFFF) + (chunkSum >> 16);
    done += got;
  }
  ReleaseBlock(buffer);
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum = (sum & 0xFFFF) + (sum >> 16);
  return done == size && sum + size == image.recordedChecksum;
}
