// The zip format's records (the PKWARE APPNOTE) as the packer writes them
// and reads the central directory: their signatures and sizes. How the
// stub walks the local headers is the stub's own (bridge/).
#ifndef VANTREL_PACK_ZIP_RECORDS_H
#define VANTREL_PACK_ZIP_RECORDS_H

#include <cstdint>

namespace vantrel_pack {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;

constexpr uint64_t kLocalHeaderSize = 30;
constexpr uint64_t kCentralHeaderSize = 46;

// The extra field's block of Zip64 sizes, and the size that sends a reader
// to it.
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kZip64Size = 0xFFFFFFFF;

}  // namespace vantrel_pack

#endif
