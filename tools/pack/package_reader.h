// Reading a package back as the stub reads it: the header and texts by the
// stub's own loader, the stub's verdict on the end of a single-part package,
// and for a split package the file the stub's own rebuild makes from the
// numbered parts beside the program file. Shared by `inspect` and `create`.
#ifndef VANTREL_PACK_PACKAGE_READER_H
#define VANTREL_PACK_PACKAGE_READER_H

#include <memory>
#include <string>
#include <vector>

#include "byte_source.h"
#include "package_format.h"
#include "startup/package.h"
#include "startup/signature.h"
#include "stub_session.h"

namespace vantrel_pack {

struct PackageView {
  std::string path;
  bool hasMagic = false;
  // The file ends inside the fixed header or the texts; what could not be
  // read is left zero or empty, as the stub leaves it.
  bool cutShort = false;
  // A scrambled text runs past the end of the file: the stub calls the
  // package corrupted as soon as it reads that text.
  bool textPastEnd = false;
  PackageHeader header;
  PackageTexts texts;  // plain form; empty when the header gives no positive length
  uint64_t archiveBase = 0;
  uint64_t programFileSize = 0;
  // The stub's verdict on the end of the file (it looks only when the
  // package is in one part and the check is not switched off).
  PackageEnd end = kNoEndRecordAtEnd;
  // The program file's Authenticode signature as the stub finds it: the
  // certificate table named by the image's security entry (start and size
  // as the entry gives them, also when the stub refuses them).
  SignatureShape signature = kNotSigned;
  uint64_t certificateTableStart = 0;
  uint64_t certificateTableSize = 0;
  // The program file and the numbered parts the stub's rebuild read.
  std::unique_ptr<PieceSet> pieces;
  // The package as the archive walk reads it: the program file, or for a
  // split package the stub's rebuilt file (empty when the rebuild failed).
  std::unique_ptr<PieceSet> bytes;
  // The stub's message when its rebuild failed, and the part it asked for.
  std::string rebuildError;
  int missingPart = 0;
  // Keeps the rebuilt file until the view goes.
  std::unique_ptr<StubSession> session;
};

// Reads the package whose program file is `path`; throws PackError when the
// file cannot be opened or is not a regular file. With `rebuild` false a
// split package is read as far as its program file goes.
PackageView ReadPackage(const std::string &path, bool rebuild = true);

// What the stub's verdict on the end of the file means, in words.
std::string DescribePackageEnd(PackageEnd end);

// Where the signature lies and what the stub makes of it, in words; empty
// for an unsigned package.
std::string DescribeSignature(const PackageView &view);

}  // namespace vantrel_pack

#endif
