// `vantrel-pack inspect`: a package as the stub will read it.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include "cli/arguments.h"
#include "cli/errors.h"
#include "cli/text.h"
#include "commands.h"
#include "core/package_layout.h"
#include "inf/package_checks.h"
#include "package/format.h"
#include "package/reader.h"
#include "package/recorded.h"
#include "package/stub_resources.h"
#include "package_resources.h"
#include "stub_image.h"
#include "zip/central_directory.h"
#include "zip/windows_names.h"

namespace vantrel_pack {
namespace {

// Inspect reads where a signature lies, never whether it holds.
const char kValidityNotJudged[] =
    "validity not judged here: osslsigncode verify or signtool verify /pa does that";

struct InspectOptions {
  std::string package;
  bool json = false;
  std::optional<int> codePage;
};

const Option<InspectOptions> kInspectOptions[] = {
    {"--json", nullptr, "print the same as one JSON object",
     Switch<&InspectOptions::json>},
    {"--codepage", "N",
     "the package's code page: texts are shown from it, names\n"
     "compared in it as Windows does (default: the one\n"
     "create recorded, else 1252)",
     ApplyCodePage<InspectOptions>},
};

// Everything inspect reports, gathered once for both output forms.
struct Report {
  PackageView view;
  bool endPasses = false;
  std::string endReason;
  std::string checkState;  // "passed", "failed" or why the stub does not check
  ArchiveWalk walk;
  std::vector<std::string> warnings;
  InfInspection inf;
  PackageCodePage codePage;
  bool refused = false;  // the stub would not install the package
  std::string stub;  // which stub the package carries: DescribeStub
  std::string stubHash;
  // Whether it is the stub create would use here; unknown when none is found.
  std::optional<bool> thisToolsStub;
  std::string stubImage;
  std::optional<std::string> level;  // the manifest's; none without a manifest
  Elevation defaultLevel;            // what create would choose without --elevation
  std::optional<VersionInfo> version;
};

// The stub at the start of the program file, and whether it is the one
// this vantrel-pack would put in a package now.
void NameTheStub(Report &report) {
  std::vector<uint8_t> bytes = report.view.pieces->ReadBytes(0, kStubSize);
  std::string image(bytes.begin(), bytes.end());
  report.stubImage = image;
  report.level = ReadExecutionLevel(image);
  report.version = ReadVersionInfo(image);
  report.stub = DescribeStub(image);
  report.stubHash = StubHash(image);
  std::string ours;
  try {
    std::ifstream in(FindDefaultStub(), std::ios::binary);
    ours.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const PackError &) {
    return;
  }
  report.thisToolsStub = ours.size() == image.size() && StubHash(ours) == report.stubHash;
}

void JudgeTheEnd(Report &report) {
  const PackageView &view = report.view;
  report.endPasses = PackageEndPasses(view.end);
  report.endReason = DescribePackageEnd(view.end);
  if (view.header.skipIntegrityCheck) {
    report.checkState = "not checked by the stub (skipIntegrityCheck)";
  } else if (view.header.multiPart && view.signature == kNotSigned) {
    report.checkState = "not checked by the stub (multi-part package)";
  } else {
    report.checkState = report.endPasses ? "passed" : "failed";
  }
  if (view.signature == kSecurityEntryBad && view.header.skipIntegrityCheck) {
    report.warnings.push_back(
        "the image's security entry names no certificate table the stub accepts" +
        std::string(view.header.multiPart ? ": the rebuild copies the program file whole" : ""));
  }
}

bool IsAscii(const std::string &text) {
  for (unsigned char c : text) {
    if (c > 127) return false;
  }
  return true;
}

// Names beyond ASCII come out as shown only on a Windows whose own code page
// is the package's: 1252 covers most of the Western world, any other only
// its own region.
void WarnOfTheCodePage(Report &report) {
  if (report.codePage.codePage == 1252) return;
  for (const WalkedMember &member : report.walk.members) {
    if (IsAscii(member.name)) continue;
    const std::string script = CodePageScript(report.codePage.codePage);
    report.warnings.push_back(
        "names such as " + Quoted(FromCodePage(member.name, report.codePage.codePage), Escape::kText) +
        " are in code page " + std::to_string(report.codePage.codePage) + " (" + script +
        "): they install as shown only on Windows set up for " + script +
        " (its system code page); elsewhere they come out garbled");
    return;
  }
}

Report Gather(const InspectOptions &options) {
  Report report;
  report.view = ReadPackage(options.package);
  PackageView &view = report.view;
  if (!view.hasMagic) {
    throw PackError(options.package + " has no package header at offset " +
                    std::to_string(kHeaderOffset));
  }
  NameTheStub(report);
  report.codePage = CodePageOf(view.header, options.codePage);
  std::vector<std::string> refusals = view.Refusals();
  report.refused = !refusals.empty();
  if (view.textPastEnd) {
    report.warnings = refusals;
    report.checkState = "failed";
    report.endReason = "a text runs past the end of the file";
    return report;
  }
  if (view.cutShort) report.warnings.push_back("the file ends inside the header or its texts");
  report.warnings.insert(report.warnings.end(), refusals.begin(), refusals.end());
  if (!view.texts.storedPassword.empty()) {
    report.warnings.push_back("the header stores a password that anyone can read back");
  }
  JudgeTheEnd(report);
  if (view.rebuildFailed) {
    // Nothing to walk: the stub never gets to the archive.
    report.walk.ranOut = report.walk.endedAtEndOfFile = true;
    return report;
  }
  report.walk = WalkPackage(view);
  // The INF is extracted by a stub of its own.
  view.session.reset();
  for (const WalkProblem &problem : WalkWarnings(report.walk)) {
    report.warnings.push_back(problem.text);
    report.refused = report.refused || problem.stopsInstallation;
  }
  WarnOfTheCodePage(report);
  // Names the stub already refuses are reported by its verdict above.
  std::vector<std::string> names;
  for (const WalkedMember &member : report.walk.members) names.push_back(member.name);
  for (const NameFinding &finding : WindowsNameFindings(names, WindowsNames(report.codePage.codePage))) {
    if (report.walk.members[finding.member].verdict == kMemberBadName) continue;
    report.warnings.push_back(finding.text);
    report.refused = report.refused || finding.stopsInstallation;
  }
  for (const std::string &problem :
       DirectoryDisagreements(*view.bytes, view.archiveBase, report.walk)) {
    report.warnings.push_back(problem + " (zip tools show other files than the stub installs)");
  }
  report.inf = InspectInf(*view.bytes, report.walk, view.texts.infName, view.header.useAdvpack,
                          report.codePage.codePage, MarkedTargets(view.header));
  report.defaultLevel =
      DefaultElevation(view.header.adminRequired, report.inf.text ? &*report.inf.text : nullptr,
                       report.inf.unreadable, view.header.useAdvpack, report.codePage.codePage);
  for (const InfFinding &finding : report.inf.findings) {
    if (finding.severity != InfFinding::kNote) report.warnings.push_back("INF: " + finding.text);
  }
  return report;
}

// "requireAdministrator (the INF copies into ...)": the level and why; one
// that is not the default was chosen with --elevation.
std::string LevelText(const Report &r) {
  if (!r.level) return "none: the stub has no manifest";
  if (!r.inf.text && !r.view.header.adminRequired) {
    // An encrypted INF: create read it from the folder, inspect cannot.
    return *r.level + " (the INF cannot be read here: " + r.inf.unreadable +
           "; create chose the level by it, or --elevation did)";
  }
  if (*r.level == r.defaultLevel.level) return *r.level + " (" + r.defaultLevel.reason + ")";
  return *r.level + " (chosen with --elevation; the default would be " + r.defaultLevel.level +
         ": " + r.defaultLevel.reason + ")";
}

// The version strings, the usual ones first.
std::vector<const VersionString *> OrderedStrings(const VersionInfo &info) {
  std::vector<const VersionString *> ordered;
  for (const char *key : kVersionKeys) {
    if (const VersionString *string = info.Find(key)) ordered.push_back(string);
  }
  for (const VersionString &string : info.strings) {
    bool listed = false;
    for (const VersionString *seen : ordered) listed = listed || seen == &string;
    if (!listed) ordered.push_back(&string);
  }
  return ordered;
}

struct NamedText {
  const char *name;
  const std::string *text;
};

std::vector<NamedText> TextsOf(const PackageTexts &t) {
  return {{"title", &t.title},
          {"infName", &t.infName},
          {"storedPassword", &t.storedPassword},
          {"welcomeText", &t.welcomeText},
          {"licenceText", &t.licenceText}};
}

struct NamedFlag {
  const char *name;
  bool value;
};

std::vector<NamedFlag> FlagsOf(const PackageHeader &h) {
  return {{"stayOpen", h.stayOpen},
          {"adminRequired", h.adminRequired},
          {"multiPart", h.multiPart},
          {"skipIntegrityCheck", h.skipIntegrityCheck},
          {"useAdvpack", h.useAdvpack}};
}

void PrintText(const Report &r, std::ostream &out) {
  const PackageView &v = r.view;
  out << "package             " << v.path << "\n";
  for (const PieceSet::Piece &piece : v.pieces->pieces()) {
    out << "piece               " << piece.path << " (" << piece.size << " bytes)\n";
  }
  out << "stub                " << r.stub;
  if (r.thisToolsStub) {
    out << (*r.thisToolsStub ? " (this vantrel-pack's stub)" : " (not this vantrel-pack's stub)");
  }
  out << "\n";
  out << "execution level     " << LevelText(r) << "\n";
  if (r.version) {
    out << "version info        file " << VersionNumbersText(r.version->fileVersion)
        << ", product " << VersionNumbersText(r.version->productVersion) << " (binary)\n";
    for (const VersionString *string : OrderedStrings(*r.version)) {
      out << "  " << string->key << std::string(string->key.size() < 18 ? 18 - string->key.size() : 1, ' ')
          << Quoted(string->value, Escape::kText) << "\n";
    }
  } else {
    out << "version info        none: the stub has no version information\n";
  }
  for (const NamedFlag &flag : FlagsOf(v.header)) {
    out << flag.name << std::string(20 - std::string(flag.name).size(), ' ')
        << (flag.value ? "on" : "off") << "\n";
  }
  out << "codePage            " << r.codePage.Describe() << "\n";
  out << "totalSize           " << v.header.totalSize << "\n";
  for (const NamedText &text : TextsOf(v.texts)) {
    out << text.name << std::string(20 - std::string(text.name).size(), ' ')
        << Quoted(FromCodePage(*text.text, r.codePage.codePage), Escape::kText) << " (" << text.text->size()
        << " bytes)\n";
  }
  if (v.texts.welcomeText.empty())
    out << "                    (no welcome text: installs unattended)\n";
  out << "archiveBase         " << v.archiveBase << "\n";
  out << "signature           " << (v.signature == kNotSigned ? "none" : DescribeSignature(v))
      << "\n";
  if (v.signature != kNotSigned) out << "                    (" << kValidityNotJudged << ")\n";
  out << "integrity check     " << r.checkState << " (" << r.endReason << ")\n";
  out << "members             " << r.walk.members.size() << "\n";
  out << "  method  compressed  uncompressed  encrypted  descriptor  crc       name\n";
  for (const WalkedMember &m : r.walk.members) {
    char line[128];
    std::snprintf(line, sizeof line, "  %6u  %10u  %12u  %-9s  %-10s  %s  ", m.method,
                  m.compressedSize, m.uncompressedSize, m.encrypted() ? "yes" : "no",
                  m.hasDescriptor() ? "yes" : "no", Hex32(m.crc).c_str());
    out << line << Quoted(FromCodePage(m.name, r.codePage.codePage), Escape::kText) << "\n";
  }
  out << "walk ends           at offset " << r.walk.endOffset << ", " << r.walk.endDescription()
      << "\n";
  PrintInfText(r.inf, out);
  out << "warnings            " << r.warnings.size() << "\n";
  for (const std::string &warning : r.warnings) out << "  warning: " << warning << "\n";
}

void PrintJson(const Report &r, std::ostream &out) {
  const PackageView &v = r.view;
  auto text = [&](const std::string &s) {
    return Quoted(FromCodePage(s, r.codePage.codePage), Escape::kJson);
  };
  out << "{\n  \"package\": " << Quoted(v.path, Escape::kJson) << ",\n  \"pieces\": [";
  const char *separator = "";
  for (const PieceSet::Piece &piece : v.pieces->pieces()) {
    out << separator << "{\"path\": " << Quoted(piece.path, Escape::kJson) << ", \"size\": " << piece.size
        << "}";
    separator = ", ";
  }
  out << "],\n  \"stub\": {\"size\": " << kStubSize << ", \"sha256\": \"" << r.stubHash
      << "\", \"thisToolsStub\": "
      << (!r.thisToolsStub ? "null" : *r.thisToolsStub ? "true" : "false")
      << "},\n  \"executionLevel\": ";
  if (r.level) {
    out << "{\"level\": " << Quoted(*r.level, Escape::kJson)
        << ", \"default\": " << Quoted(r.defaultLevel.level, Escape::kJson)
        << ", \"reason\": " << Quoted(r.defaultLevel.reason, Escape::kJson) << "}";
  } else {
    out << "null";
  }
  out << ",\n  \"versionInfo\": ";
  if (r.version) {
    out << "{\"fileVersion\": \"" << VersionNumbersText(r.version->fileVersion)
        << "\", \"productVersion\": \"" << VersionNumbersText(r.version->productVersion)
        << "\", \"strings\": {";
    separator = "";
    for (const VersionString *string : OrderedStrings(*r.version)) {
      out << separator << Quoted(string->key, Escape::kJson) << ": "
          << Quoted(string->value, Escape::kJson);
      separator = ", ";
    }
    out << "}}";
  } else {
    out << "null";
  }
  out << ",\n  \"header\": {";
  for (const NamedFlag &flag : FlagsOf(v.header)) {
    out << "\"" << flag.name << "\": " << (flag.value ? "true" : "false") << ", ";
  }
  out << "\"reserved16\": " << int(v.header.reserved16)
      << ", \"reserved20\": " << int(v.header.reserved20)
      << ", \"totalSize\": " << v.header.totalSize << "},\n  \"codePage\": {\"value\": "
      << r.codePage.codePage << ", \"recorded\": "
      << (CodePageOf(v.header, std::nullopt).from == PackageCodePage::kRecorded ? "true" : "false")
      << "},\n  \"texts\": {";
  separator = "";
  for (const NamedText &t : TextsOf(v.texts)) {
    out << separator << "\"" << t.name << "\": " << text(*t.text);
    separator = ", ";
  }
  out << "},\n  \"archiveBase\": " << v.archiveBase
      << ",\n  \"integrity\": {\"state\": " << Quoted(r.checkState, Escape::kJson)
      << ", \"passes\": " << (r.endPasses ? "true" : "false")
      << ", \"reason\": " << Quoted(r.endReason, Escape::kJson) << "},\n  \"signature\": ";
  if (v.signature == kNotSigned) {
    out << "null";
  } else {
    out << "{\"tableOffset\": " << v.certificateTableStart
        << ", \"tableSize\": " << v.certificateTableSize
        << ", \"acceptedByStub\": " << (v.signature == kCertificatesInPlace ? "true" : "false")
        << ", \"validity\": " << Quoted(kValidityNotJudged, Escape::kJson) << "}";
  }
  out << ",\n  \"members\": [";
  separator = "\n";
  for (const WalkedMember &m : r.walk.members) {
    out << separator << "    {\"offset\": " << m.offset << ", \"name\": " << text(m.name)
        << ", \"method\": " << m.method << ", \"compressedSize\": " << m.compressedSize
        << ", \"uncompressedSize\": " << m.uncompressedSize
        << ", \"encrypted\": " << (m.encrypted() ? "true" : "false")
        << ", \"dataDescriptor\": " << (m.hasDescriptor() ? "true" : "false") << ", \"crc\": \""
        << Hex32(m.crc) << "\"}";
    separator = ",\n";
  }
  out << (r.walk.members.empty() ? "" : "\n  ")
      << "],\n  \"walkEnd\": {\"offset\": " << r.walk.endOffset
      << ", \"at\": " << Quoted(r.walk.endDescription(), Escape::kJson) << "},\n  \"inf\": ";
  PrintInfJson(r.inf, out);
  out << ",\n  \"warnings\": [";
  separator = "";
  for (const std::string &warning : r.warnings) {
    out << separator << Quoted(warning, Escape::kJson);
    separator = ", ";
  }
  out << "]\n}\n";
}

}  // namespace

const char *InspectHelp() {
  static const std::string help = R"(usage: vantrel-pack inspect PKG [--json] [--codepage N]

Shows the package PKG as the stub will read it: the header fields, the five
texts in plain form (title, INF name, stored password, welcome text, licence
text), the stub it carries (size and hash as `vantrel-pack --version` shows
them, and whether it is this tool's), archiveBase, an Authenticode signature's certificate table (where it lies
and how long it is; whether the signature is valid is left to osslsigncode
verify or signtool verify), the verdict of the stub's integrity check, and the
archive's members as the stub walks them (local headers in file order:
method, sizes, encryption, data-descriptor bit, CRC, name), the Windows the
package installs on (as the INF's Signature says) and the roads the INF file
takes there, with the exact command lines the stub builds (shown under a
typical temporary folder), and the checks `create` makes of the INF. A
warning names each thing the stub or the installer cannot handle. For a
split package give the program file; the numbered parts are read from
beside it. `vantrel-pack test` also extracts every member as the stub
would.

)" + OptionsHelp(kInspectOptions, 15) + R"(
Exit status: 0 the stub would install the package (warnings may remain), 1
the stub would refuse it (corrupted, a part missing, a member it cannot
extract) or it is not a package or unreadable, 2 bad command line.
)";
  return help.c_str();
}

int RunInspect(const std::vector<std::string> &args, std::ostream &out, std::ostream &) {
  InspectOptions options;
  options.package =
      OnlyPositional(ParseOptions(args, kInspectOptions, options), "no package given", "package");
  Report report = Gather(options);
  if (options.json) {
    PrintJson(report, out);
  } else {
    PrintText(report, out);
  }
  return report.refused ? 1 : 0;
}

}  // namespace vantrel_pack
