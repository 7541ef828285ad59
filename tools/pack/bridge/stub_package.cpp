#include "stub_package.h"

#include "cli/errors.h"
#include "core/program_state.h"
#include "core/text.h"
#include "platform/driver.h"
#include "startup/descramble.h"
#include "startup/multipart.h"

namespace vantrel_pack {
namespace {

std::string TextOf(const char *text, LONG length) {
  return length > 0 && text ? std::string(text, size_t(length)) : std::string();
}

// The header fields as the stub's loader left them in the program state.
PackageHeader TakeHeader() {
  PackageHeader h;
  h.stayOpen = state.stayOpen != 0;
  h.adminRequired = state.adminRequired != 0;
  h.multiPart = state.multiPart != 0;
  h.skipIntegrityCheck = state.skipIntegrityCheck != 0;
  h.useAdvpack = state.useAdvpack != 0;
  h.totalSize = state.totalSize;
  return h;
}

PackageTexts TakeTexts() {
  PackageTexts t;
  t.title = state.title;
  t.infName = state.infName;
  t.storedPassword = TextOf(state.storedPassword, state.storedPasswordLength);
  t.welcomeText = TextOf(state.welcomeText, state.welcomeTextLength);
  t.licenceText = TextOf(state.licenceText, state.licenceTextLength);
  return t;
}

// Hears which part the rebuild could not open.
class PartListener : public ReportListener {
 public:
  explicit PartListener(int &missing) : missing_(missing) { ListenToReports(this); }
  ~PartListener() override { ListenToReports(nullptr); }
  void PartMissing(BYTE partNumber) override { missing_ = partNumber; }

 private:
  int &missing_;
};

// The stub's own rebuild, run as the stub runs it: the whole loader again.
void Rebuild(StubSession &session, StubLoad &load) {
  PartListener listener(load.missingPart);
  bool rebuilt = false;
  session.Run([&] {
    CloseHandle(state.packageFile);
    state.packageFile = INVALID_HANDLE_VALUE;
    rebuilt = LoadPackage();
  });
  load.rebuildFailed = !rebuilt;
  if (rebuilt) load.rebuiltPath = host::PosixPath(state.rebuiltPath.text);
}

}  // namespace

StubLoad LoadWithTheStub(StubSession &session, bool rebuild) {
  StubLoad load;
  session.OpenArchive(0);
  HeaderLengths lengths{0, 0};
  session.Run([&] { load.hasMagic = ReadFixedHeader(lengths); });
  if (!load.hasMagic) return load;
  load.header = TakeHeader();
  load.textPastEnd = !session.Run([&] { ReadPackageTexts(lengths); });
  if (load.textPastEnd) return load;
  load.texts = TakeTexts();
  state.archiveBase = ArchiveBase(lengths);
  load.archiveBase = uint64_t(state.archiveBase);
  session.Run([&] { load.end = JudgePackageEnd(); });
  ImageSignature image{};
  session.Run(
      [&] { load.signature = FindCertificateTable(state.packageFile, state.archiveBase, image); });
  if (load.signature != kNotSigned) {
    load.certificateTableStart = image.tableStart;
    load.certificateTableSize = image.tableSize;
  }
  if (rebuild && load.header.multiPart) Rebuild(session, load);
  return load;
}

std::string ScrambleText(const std::string &text) {
  std::string result = text;
  // The stub's own procedure: XOR with its key stream undoes itself.
  Descramble(reinterpret_cast<BYTE *>(&result[0]), LONG(result.size()));
  return result;
}

std::string PartName(const std::string &programPath, int number) {
  // The stub replaces the last three characters; it is given just those,
  // as a path on this machine may be longer than any it can hold.
  size_t keep = programPath.size() > 3 ? programPath.size() - 3 : 0;
  CountedString tail{};
  AssignBytes(tail, programPath.data() + keep, DWORD(programPath.size() - keep));
  if (!NamePart(tail, BYTE(number))) {
    char digits[4];
    FormatPartNumber(BYTE(number), 3, digits);
    return digits;
  }
  return programPath.substr(0, keep) + tail.text;
}

}  // namespace vantrel_pack
