// Reading a package back: the header and texts from the program file, as the
// stub reads them, and for a multi-part package the numbered parts beside it,
// joined into one byte stream. Shared by `inspect` and `extract`.
#ifndef VANTREL_PACK_PACKAGE_READER_H
#define VANTREL_PACK_PACKAGE_READER_H

#include <memory>
#include <string>
#include <vector>

#include "byte_source.h"
#include "package_format.h"

namespace vantrel_pack {

struct PackageView {
  std::string path;
  bool hasMagic = false;
  // The file ends inside the fixed header or the texts; what could not be
  // read is left zero or empty, as the stub leaves it.
  bool cutShort = false;
  PackageHeader header;
  PackageTexts texts;  // plain form
  uint64_t archiveBase = 0;
  uint64_t programFileSize = 0;
  // The whole package: the program file, then the parts that were found.
  std::unique_ptr<PieceSet> bytes;
  // Part number (1..255) that was needed but not found, or 0.
  int missingPart = 0;
  // More pieces would be needed than the stub can count.
  bool tooManyParts = false;
};

// Reads the package whose program file is `path`; throws PackError when the
// file cannot be opened.
PackageView ReadPackage(const std::string &path);

}  // namespace vantrel_pack

#endif
