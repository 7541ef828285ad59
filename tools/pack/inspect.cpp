// `vantrel-pack inspect`: a package as the stub will read it.
#include <cstdio>
#include <sstream>

#include "arguments.h"
#include "central_directory.h"
#include "commands.h"
#include "inf_package.h"
#include "pack_error.h"
#include "package_reader.h"
#include "text_codec.h"
#include "zip_walk.h"

namespace vantrel_pack {
namespace {

// Inspect reads where a signature lies, never whether it holds.
const char kValidityNotJudged[] =
    "validity not judged here: osslsigncode verify or signtool verify /pa does that";

struct InspectOptions {
  std::string package;
  bool json = false;
  int codePage = 1252;
};

InspectOptions ParseInspectOptions(const std::vector<std::string> &args) {
  InspectOptions options;
  Arguments in(args);
  while (in.NextOption()) {
    if (in.Name() == "--json") {
      in.NoValue();
      options.json = true;
    } else if (in.Name() == "--codepage") {
      options.codePage = int(ParseNumber(in.Value(), 1, 65535, "--codepage"));
    } else {
      throw UsageError("unknown option " + in.Name());
    }
  }
  options.package = in.OnlyPositional("no package given", "package");
  return options;
}

// Everything inspect reports, gathered once for both output forms.
struct Report {
  PackageView view;
  bool endPasses = false;
  std::string endReason;
  std::string checkState;  // "passed", "failed" or why the stub does not check
  ArchiveWalk walk;
  std::vector<std::string> warnings;
  InfInspection inf;
};

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
    if (!report.endPasses) {
      report.warnings.push_back("the stub will call this package corrupted: " + report.endReason);
    }
  }
  if (view.signature == kSecurityEntryBad && view.header.skipIntegrityCheck) {
    report.warnings.push_back(
        "the image's security entry names no certificate table the stub accepts" +
        std::string(view.header.multiPart ? ": the rebuild copies the program file whole" : ""));
  }
}

Report Gather(const InspectOptions &options) {
  Report report;
  report.view = ReadPackage(options.package);
  PackageView &view = report.view;
  if (!view.hasMagic) throw PackError(options.package + " has no package header at offset 35328");
  if (view.textPastEnd) {
    report.warnings.push_back(
        "a text of the header runs past the end of the file: the stub will call this package "
        "corrupted");
    report.checkState = "failed";
    report.endReason = "a text runs past the end of the file";
    return report;
  }
  if (view.cutShort) report.warnings.push_back("the file ends inside the header or its texts");
  if (view.missingPart) {
    report.warnings.push_back("part " + PartName(view.path, view.missingPart) +
                              " is missing: the stub would ask for disk " +
                              std::to_string(view.missingPart + 1));
  }
  if (!view.rebuildError.empty()) {
    report.warnings.push_back("the stub cannot rebuild the package from its parts (\"" +
                              view.rebuildError + "\")");
  }
  if (!view.texts.storedPassword.empty()) {
    report.warnings.push_back("the header stores a password that anyone can read back");
  }
  JudgeTheEnd(report);
  report.walk = WalkArchive(*view.bytes, view.archiveBase);
  for (const WalkProblem &problem : WalkWarnings(report.walk)) {
    report.warnings.push_back(problem.text);
  }
  for (const std::string &problem :
       DirectoryDisagreements(*view.bytes, view.archiveBase, report.walk)) {
    report.warnings.push_back(problem + " (zip tools show other files than the stub installs)");
  }
  report.inf = InspectInf(*view.bytes, report.walk, view.texts.infName, view.header.useAdvpack,
                          options.codePage);
  for (const InfFinding &finding : report.inf.findings) {
    if (finding.severity != InfFinding::kNote) report.warnings.push_back("INF: " + finding.text);
  }
  return report;
}

std::string Escaped(const std::string &utf8, bool json) {
  std::string out;
  for (unsigned char c : utf8) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char code[8];
          std::snprintf(code, sizeof code, json ? "\\u%04X" : "\\x%02X", c);
          out += code;
        } else {
          out += char(c);
        }
    }
  }
  return out;
}

std::string Quoted(const std::string &utf8, bool json) { return "\"" + Escaped(utf8, json) + "\""; }

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
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

void PrintText(const Report &r, const InspectOptions &options, std::ostream &out) {
  const PackageView &v = r.view;
  out << "package             " << v.path << "\n";
  for (const PieceSet::Piece &piece : v.pieces->pieces()) {
    out << "piece               " << piece.path << " (" << piece.size << " bytes)\n";
  }
  for (const NamedFlag &flag : FlagsOf(v.header)) {
    out << flag.name << std::string(20 - std::string(flag.name).size(), ' ')
        << (flag.value ? "on" : "off") << "\n";
  }
  out << "reserved            " << int(v.header.reserved16) << " " << int(v.header.reserved20)
      << "\n";
  out << "totalSize           " << v.header.totalSize << "\n";
  for (const NamedText &text : TextsOf(v.texts)) {
    out << text.name << std::string(20 - std::string(text.name).size(), ' ')
        << Quoted(FromCodePage(*text.text, options.codePage), false) << " (" << text.text->size()
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
    out << line << Quoted(FromCodePage(m.name, options.codePage), false) << "\n";
  }
  out << "walk ends           at offset " << r.walk.endOffset << ", " << r.walk.endDescription()
      << "\n";
  PrintInfText(r.inf, out);
  out << "warnings            " << r.warnings.size() << "\n";
  for (const std::string &warning : r.warnings) out << "  warning: " << warning << "\n";
}

void PrintJson(const Report &r, const InspectOptions &options, std::ostream &out) {
  const PackageView &v = r.view;
  auto text = [&](const std::string &s) { return Quoted(FromCodePage(s, options.codePage), true); };
  out << "{\n  \"package\": " << Quoted(v.path, true) << ",\n  \"pieces\": [";
  const char *separator = "";
  for (const PieceSet::Piece &piece : v.pieces->pieces()) {
    out << separator << "{\"path\": " << Quoted(piece.path, true) << ", \"size\": " << piece.size
        << "}";
    separator = ", ";
  }
  out << "],\n  \"header\": {";
  for (const NamedFlag &flag : FlagsOf(v.header)) {
    out << "\"" << flag.name << "\": " << (flag.value ? "true" : "false") << ", ";
  }
  out << "\"reserved16\": " << int(v.header.reserved16)
      << ", \"reserved20\": " << int(v.header.reserved20)
      << ", \"totalSize\": " << v.header.totalSize << "},\n  \"texts\": {";
  separator = "";
  for (const NamedText &t : TextsOf(v.texts)) {
    out << separator << "\"" << t.name << "\": " << text(*t.text);
    separator = ", ";
  }
  out << "},\n  \"archiveBase\": " << v.archiveBase
      << ",\n  \"integrity\": {\"state\": " << Quoted(r.checkState, true)
      << ", \"passes\": " << (r.endPasses ? "true" : "false")
      << ", \"reason\": " << Quoted(r.endReason, true) << "},\n  \"signature\": ";
  if (v.signature == kNotSigned) {
    out << "null";
  } else {
    out << "{\"tableOffset\": " << v.certificateTableStart
        << ", \"tableSize\": " << v.certificateTableSize
        << ", \"acceptedByStub\": " << (v.signature == kCertificatesInPlace ? "true" : "false")
        << ", \"validity\": " << Quoted(kValidityNotJudged, true) << "}";
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
      << ", \"at\": " << Quoted(r.walk.endDescription(), true) << "},\n  \"inf\": ";
  PrintInfJson(r.inf, out);
  out << ",\n  \"warnings\": [";
  separator = "";
  for (const std::string &warning : r.warnings) {
    out << separator << Quoted(warning, true);
    separator = ", ";
  }
  out << "]\n}\n";
}

}  // namespace

const char *InspectHelp() {
  return R"(usage: vantrel-pack inspect PKG [--json] [--codepage N]

Shows the package PKG as the stub will read it: the header fields, the five
texts in plain form (title, INF name, stored password, welcome text, licence
text), archiveBase, an Authenticode signature's certificate table (where it lies
and how long it is; whether the signature is valid is left to osslsigncode
verify or signtool verify), the verdict of the stub's integrity check, and the
archive's members as the stub walks them (local headers in file order:
method, sizes, encryption, data-descriptor bit, CRC, name), the roads the
INF file takes with the exact command lines the stub builds (shown under a
typical temporary folder), and the checks `create` makes of the INF. A
warning names each thing the stub or the installer cannot handle. For a split package give the program
file; the numbered parts are read from beside it.

  --json         print the same as one JSON object
  --codepage N   the code page the texts are shown from (default 1252)

Exit status: 0 shown (even with warnings), 1 not a package or unreadable,
2 bad command line.
)";
}

int RunInspect(const std::vector<std::string> &args, std::ostream &out, std::ostream &) {
  InspectOptions options = ParseInspectOptions(args);
  Report report = Gather(options);
  if (options.json) {
    PrintJson(report, options, out);
  } else {
    PrintText(report, options, out);
  }
  return 0;
}

}  // namespace vantrel_pack
