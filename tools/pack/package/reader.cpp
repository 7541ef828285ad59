#include "reader.h"

#include <sys/stat.h>

#include "cli/errors.h"
#include "core/package_layout.h"
#include "format.h"

namespace vantrel_pack {
namespace {

// The two reserved bytes are read by the stub and never looked at; they
// are shown only for the record.
void TakeReservedBytes(PackageView &view) {
  std::vector<uint8_t> b = view.pieces->ReadBytes(uint64_t(kHeaderOffset), kFixedHeaderSize);
  if (b.size() > kFirstReservedAt) view.header.reserved16 = b[kFirstReservedAt];
  if (b.size() > kSecondReservedAt) view.header.reserved20 = b[kSecondReservedAt];
}

// The parts the rebuild read: it copies whole pieces, in order, so they are
// the first parts whose sizes add up to the rebuilt file's.
void ListParts(PackageView &view) {
  uint64_t rebuilt = view.bytes->Size();
  for (int number = 1; view.pieces->Size() < rebuilt && number <= kLastPartNumber; ++number) {
    if (!view.pieces->AddFile(PartName(view.path, number))) break;
  }
}

}  // namespace

bool PackageView::EndChecked() const { return hasMagic && !header.skipIntegrityCheck; }

std::vector<std::string> PackageView::Refusals() const {
  std::vector<std::string> refusals;
  if (textPastEnd) {
    refusals.push_back(
        "a text of the header runs past the end of the file: the stub will call this package "
        "corrupted");
    return refusals;
  }
  if (EndChecked() && !PackageEndPasses(end)) {
    refusals.push_back("the stub will call this package corrupted: " + DescribePackageEnd(end));
  }
  if (missingPart) {
    refusals.push_back("part " + PartName(path, missingPart) +
                       " is missing: the stub would ask for disk " +
                       std::to_string(missingPart + 1));
  }
  if (rebuildFailed) refusals.push_back("the stub cannot rebuild the package from its parts");
  return refusals;
}

std::string DescribePackageEnd(PackageEnd end) {
  switch (end) {
    case kEndMarked:
      return "the file ends in \"RSF\"";
    case kEndRecordAtEnd:
      return "the archive's end record reaches the end of the file";
    case kEndRecordAtCertificates:
      return "the archive's end record reaches the certificate table";
    case kEndInParts:
      return "the program file's own end is in order; the archive ends in the parts";
    case kArchiveTooShort:
      return "the archive part is 22 bytes or shorter";
    case kEndUnreadable:
      return "the end of the file cannot be read";
    case kNoEndRecordAtCertificates:
      return "no end record reaches the certificate table (bytes between the archive and the "
             "signature)";
    case kSecurityEntryRefused:
      return "the image's security entry names no certificate table that starts after the "
             "archive and runs to the end of the file";
    case kChangedAfterSigning:
      return "the image checksum does not match: the file was changed after signing (or the "
             "signing tool did not update the checksum)";
    case kNoEndRecordAtEnd:
      break;
  }
  return "no end record reaches the end of the file";
}

std::string DescribeSignature(const PackageView &view) {
  if (view.signature == kNotSigned) return "";
  std::string where = "certificate table at offset " + std::to_string(view.certificateTableStart) +
                      ", " + std::to_string(view.certificateTableSize) + " bytes";
  if (view.signature == kSecurityEntryBad) {
    return "security entry refused by the stub (" + where + ")";
  }
  return "signed: " + where;
}

PackageView ReadPackage(const std::string &path, bool rebuild) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) throw PackError("cannot open " + path);
  if (!S_ISREG(info.st_mode)) throw PackError(path + " is not a regular file");
  PackageView view;
  view.path = path;
  view.pieces = std::make_unique<PieceSet>();
  view.bytes = std::make_unique<PieceSet>();
  if (!view.pieces->AddFile(path)) throw PackError("cannot open " + path);
  view.programFileSize = view.pieces->Size();
  view.session = std::make_unique<StubSession>(path);
  static_cast<StubLoad &>(view) = LoadWithTheStub(*view.session, rebuild);
  TakeReservedBytes(view);
  view.cutShort = view.hasMagic &&
                  (view.programFileSize < kTextsOffset || view.programFileSize < view.archiveBase);
  if (!view.rebuiltPath.empty()) {
    view.bytes->AddFile(view.rebuiltPath);
    ListParts(view);
  } else if (!(rebuild && view.header.multiPart && !view.textPastEnd)) {
    view.bytes->AddFile(path);
  }
  return view;
}

ArchiveWalk WalkPackage(PackageView &view) {
  return ViewWalk(*view.bytes, view.session->ListArchive());
}

}  // namespace vantrel_pack
