// The package as the packer writes it behind the stub: the fixed header by
// the layout the stub reads it by (core/package_layout.h), then the five
// texts, the password, welcome and licence texts scrambled.
#ifndef VANTREL_PACK_PACKAGE_FORMAT_H
#define VANTREL_PACK_PACKAGE_FORMAT_H

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/stub_package.h"
#include "core/package_layout.h"

namespace vantrel_pack {

// The stub's image, which the package header follows at once.
constexpr uint64_t kStubSize = uint64_t(kHeaderOffset);
// Where the texts start: right after the fixed header.
constexpr uint64_t kTextsOffset = kStubSize + kFixedHeaderSize;

// The fixed header and the texts as they follow the stub; throws PackError
// when a text is too long for its length field.
std::vector<uint8_t> EncodePackageHeader(const PackageHeader &header, const PackageTexts &texts);

// The offset of the archive's first byte after these texts.
uint64_t ArchiveBase(const PackageTexts &texts);

}  // namespace vantrel_pack

#endif
