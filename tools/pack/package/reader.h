// Reading a package back as the stub reads it: the header and texts by the
// stub's own loader, the stub's verdict on the end of a single-part package,
// and for a split package the file the stub's own rebuild makes from the
// numbered parts beside the program file. Shared by every command that
// reads packages.
#ifndef VANTREL_PACK_PACKAGE_READER_H
#define VANTREL_PACK_PACKAGE_READER_H

#include <memory>
#include <string>

#include "bridge/stub_package.h"
#include "zip/byte_source.h"
#include "zip/walk_view.h"

namespace vantrel_pack {

// What the stub's loader makes of the package (bridge/stub_package.h), and
// the bytes it reads.
struct PackageView : StubLoad {
  std::string path;
  // The file ends inside the fixed header or the texts; what could not be
  // read is left zero or empty, as the stub leaves it.
  bool cutShort = false;
  uint64_t programFileSize = 0;
  // The program file and the numbered parts the stub's rebuild read.
  std::unique_ptr<PieceSet> pieces;
  // The package as the archive walk reads it: the program file, or for a
  // split package the stub's rebuilt file (empty when the rebuild failed).
  std::unique_ptr<PieceSet> bytes;
  // The stub with this package loaded, its archive ready to be walked.
  std::unique_ptr<StubSession> session;

  // Whether the stub would check the end of the file, and if so whether
  // the package passes.
  bool EndChecked() const;
  // Every reason the stub's loader would refuse the package, in words;
  // empty when it loads.
  std::vector<std::string> Refusals() const;
};

// Reads the package whose program file is `path`; throws PackError when the
// file cannot be opened or is not a regular file. With `rebuild` false a
// split package is read as far as its program file goes.
PackageView ReadPackage(const std::string &path, bool rebuild = true);

// The stub's listing walk of the package's archive.
ArchiveWalk WalkPackage(PackageView &view);

// What the stub's verdict on the end of the file means, in words.
std::string DescribePackageEnd(PackageEnd end);

// Where the signature lies and what the stub makes of it, in words; empty
// for an unsigned package.
std::string DescribeSignature(const PackageView &view);

}  // namespace vantrel_pack

#endif
