// What create records of a package in the two header bytes the stub reads
// and never looks at, so that the packer's own commands later read the
// package as it was made: the code page its names and texts are written in,
// and the Windows families --targets named. A 0 in either byte records
// nothing: packages made before these were recorded, or by other tools.
#ifndef VANTREL_PACK_PACKAGE_RECORDED_H
#define VANTREL_PACK_PACKAGE_RECORDED_H

#include <cstdint>
#include <optional>
#include <string>

#include "bridge/stub_package.h"

namespace vantrel_pack {

// The byte that records `codePage`; 0 for a code page Windows never uses
// for ANSI names, which cannot be recorded.
uint8_t CodePageMark(int codePage);

// What a code page writes: "Japanese" for 932.
std::string CodePageScript(int codePage);

// The code page the package's names and texts are read in, and where that
// came from: --codepage when given, else what create recorded, else 1252.
struct PackageCodePage {
  int codePage = 1252;
  enum From { kGiven, kRecorded, kDefault } from = kDefault;
  std::string Describe() const;  // "932 (recorded in the package)"
};
PackageCodePage CodePageOf(const PackageHeader &header, std::optional<int> given);

// The byte that records --targets (kTarget* bits; 0 when not given).
uint8_t TargetsMark(unsigned targets);
// The recorded --targets; 0 when none is.
unsigned MarkedTargets(const PackageHeader &header);

}  // namespace vantrel_pack

#endif
