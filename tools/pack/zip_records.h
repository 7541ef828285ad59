// The signatures of the zip format's records (the PKWARE APPNOTE), as the
// packer's readers of archives look for them.
#ifndef VANTREL_PACK_ZIP_RECORDS_H
#define VANTREL_PACK_ZIP_RECORDS_H

#include <cstdint>

namespace vantrel_pack {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
// The stub also takes 00 00 00 50 for a local header.
constexpr uint32_t kOddLocalHeaderSignature = 0x50000000;
constexpr uint32_t kDescriptorSignature = 0x08074B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;

}  // namespace vantrel_pack

#endif
