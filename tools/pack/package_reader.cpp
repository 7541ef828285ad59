#include "package_reader.h"

#include <sys/stat.h>

#include "pack_error.h"
#include "platform/driver.h"
#include "startup/multipart.h"
#include "core/program_state.h"

namespace vantrel_pack {
namespace {

std::string TextOf(const char *text, LONG length) {
  return length > 0 && text ? std::string(text, size_t(length)) : std::string();
}

// The header fields as the stub's loader left them in the program state.
void TakeHeader(PackageView &view) {
  PackageHeader &h = view.header;
  h.stayOpen = state.stayOpen != 0;
  h.adminRequired = state.adminRequired != 0;
  h.multiPart = state.multiPart != 0;
  h.skipIntegrityCheck = state.skipIntegrityCheck != 0;
  h.useAdvpack = state.useAdvpack != 0;
  h.totalSize = state.totalSize;
}

void TakeTexts(PackageView &view) {
  PackageTexts &t = view.texts;
  t.title = state.title;
  t.infName = state.infName;
  t.storedPassword = TextOf(state.storedPassword, state.storedPasswordLength);
  t.welcomeText = TextOf(state.welcomeText, state.welcomeTextLength);
  t.licenceText = TextOf(state.licenceText, state.licenceTextLength);
}

// The two reserved bytes are read by the stub and never looked at; they
// are shown only for the record.
void TakeReservedBytes(PackageView &view, PieceSet &programFile) {
  std::vector<uint8_t> b = programFile.ReadBytes(kStubSize + 16, 5);
  if (b.size() > 0) view.header.reserved16 = b[0];
  if (b.size() > 4) view.header.reserved20 = b[4];
}

// Reads the header and texts with the stub's procedures.
void LoadHeader(PackageView &view) {
  StubSession &session = *view.session;
  session.Run([&] {
    state.packageFile = CreateFileA(session.ModulePath().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  });
  if (state.packageFile == INVALID_HANDLE_VALUE) throw PackError("cannot open " + view.path);
  HeaderLengths lengths{0, 0};
  session.Run([&] { view.hasMagic = ReadFixedHeader(lengths); });
  if (!view.hasMagic) return;
  TakeHeader(view);
  view.textPastEnd = !session.Run([&] { ReadPackageTexts(lengths); });
  if (view.textPastEnd) return;
  TakeTexts(view);
  state.archiveBase = ArchiveBase(lengths);
  view.archiveBase = uint64_t(state.archiveBase);
  view.cutShort = view.programFileSize < kTextsOffset || view.programFileSize < view.archiveBase;
  session.Run([&] { view.end = JudgePackageEnd(); });
  ImageSignature image{};
  session.Run(
      [&] { view.signature = FindCertificateTable(state.packageFile, state.archiveBase, image); });
  if (view.signature != kNotSigned) {
    view.certificateTableStart = image.tableStart;
    view.certificateTableSize = image.tableSize;
  }
}

// The part number the stub's disk prompt asked for, from its text.
int AskedPart(const std::string &prompt) {
  size_t digits = prompt.find_first_of("0123456789");
  return digits == std::string::npos ? 0 : std::stoi(prompt.substr(digits)) - 1;
}

// The stub's own rebuild into the session's scratch folder. Nobody can
// insert another disk here: the prompt for a missing part is cancelled.
void Rebuild(PackageView &view) {
  host::OnMessageBox([](const host::MessageBoxRecord &box) {
    return (box.style & MB_OKCANCEL) ? IDCANCEL : IDOK;
  });
  bool rebuilt = false;
  view.session->Run([&] {
    CloseHandle(state.packageFile);
    state.packageFile = INVALID_HANDLE_VALUE;
    rebuilt = LoadPackage();
  });
  for (const host::MessageBoxRecord &box : host::MessageBoxes()) {
    if (box.style & MB_OKCANCEL) {
      view.missingPart = AskedPart(box.text);
    } else {
      view.rebuildError = box.text;
    }
  }
  if (rebuilt) view.bytes->AddFile(view.session->RebuiltPath());
}

// The parts the rebuild read: it copies whole pieces, in order, so they are
// the first parts whose sizes add up to the rebuilt file's.
void ListParts(PackageView &view) {
  uint64_t rebuilt = view.bytes->Size();
  for (int number = 1; view.pieces->Size() < rebuilt && number <= kMaxNumberedParts; ++number) {
    if (!view.pieces->AddFile(PartName(view.path, number))) break;
  }
}

}  // namespace

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
  TakeReservedBytes(view, *view.pieces);
  view.session = std::make_unique<StubSession>(path);
  LoadHeader(view);
  if (rebuild && view.hasMagic && !view.textPastEnd && view.header.multiPart) {
    Rebuild(view);
    ListParts(view);
  } else {
    view.bytes->AddFile(path);
  }
  return view;
}

}  // namespace vantrel_pack
