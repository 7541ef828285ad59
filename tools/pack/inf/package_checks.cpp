#include "package_checks.h"

#include "check.h"
#include "file.h"
#include "cli/errors.h"
#include "cli/text.h"
#include "zip/byte_source.h"
#include "zip/windows_names.h"

namespace vantrel_pack {
namespace {

// The member as the stub would extract it, extracted on its own by the
// stub; an empty optional with `why` set when it cannot be read here.
// The size is the header's: the stub's walk stops a member that inflates
// to more, so a larger INF is never inflated whole here.
std::optional<std::string> ReadMember(const ByteSource &source, const WalkedMember &m,
                                      std::string &why, bool *tooLarge) {
  if (m.encrypted()) {
    why = "it is encrypted";
  } else if (m.uncompressedSize > kLargestInf) {
    why = TooLargeText();
    if (tooLarge) *tooLarge = true;
  } else if (m.dataPastEnd) {
    why = "its data run past the end of the archive";
  }
  if (!why.empty()) return std::nullopt;
  std::vector<uint8_t> record = source.ReadBytes(m.offset, size_t(m.next - m.offset));
  std::string content;
  WalkedMember alone = m;
  alone.verdict = ExtractLoneMember(std::string(record.begin(), record.end()), content);
  if (alone.verdict != kMemberExtracted) {
    why = VerdictText(alone) + ", so the stub would not extract it either";
    return std::nullopt;
  }
  return content;
}

std::vector<InfFinding> Displayed(std::vector<InfFinding> findings, int codePage) {
  for (InfFinding &finding : findings) finding.text = FromCodePage(finding.text, codePage);
  return findings;
}

const char *SeverityWord(InfFinding::Severity severity) {
  return severity == InfFinding::kError     ? "error"
         : severity == InfFinding::kWarning ? "warning"
                                            : "note";
}

std::string JsonQuoted(const std::string &utf8) { return Quoted(utf8, Escape::kJson); }

// How many characters the temporary folder may have before the 16-bit
// limit cuts the line.
size_t FolderAllowance(const InfRoad &road) {
  size_t rest = road.argumentsLength - road.folder.size();
  return rest >= kSixteenBitArgumentLimit ? 0 : kSixteenBitArgumentLimit - rest;
}

}  // namespace

std::string TooLargeText() {
  return "it is larger than " + std::to_string(kLargestInf >> 20) +
         " MiB, the most the packer reads of an INF file";
}

std::optional<std::string> ReadInfMember(const ByteSource &source, const ArchiveWalk &walk,
                                         const std::string &infName, int codePage,
                                         std::string &why, bool *tooLarge) {
  // Of members that are one file on Windows, the last one extracted stays.
  const WindowsNames windows(codePage);
  const WalkedMember *installed = nullptr;
  for (const WalkedMember &member : walk.members) {
    if (windows.Key(member.name) == windows.Key(infName)) installed = &member;
  }
  if (installed) return ReadMember(source, *installed, why, tooLarge);
  why = "the archive has no member of that name";
  return std::nullopt;
}

void CheckInfForCreate(const InfForCreate &check, std::ostream &err) {
  InfSubject subject{check.infName, "", check.members, check.useAdvpack, check.targets};
  subject.codePage = check.codePage;
  std::vector<InfFinding> findings;
  if (check.text) {
    subject.infText = *check.text;
    findings = Displayed(CheckInf(subject), check.codePage);
  } else {
    findings = Displayed(CheckInfName(subject), check.codePage);
    // An INF too large to read is refused: nothing says how the installers
    // would read it. One that cannot be read here for another reason
    // (encrypted) is the user's to vouch for.
    findings.push_back({check.tooLarge ? InfFinding::kError : InfFinding::kWarning,
                        "the INF file " + FromCodePage(check.infName, check.codePage) +
                            " was not checked: " + check.unreadable});
  }
  size_t errors = 0;
  for (const InfFinding &finding : findings) {
    bool error = finding.severity == InfFinding::kError;
    errors += error ? 1 : 0;
    const char *word = error && check.errorsAsWarnings ? "warning" : SeverityWord(finding.severity);
    err << "vantrel-pack create: " << word << ": " << finding.text << "\n";
  }
  if (errors && !check.errorsAsWarnings) {
    throw PackError(FromCodePage(check.infName, check.codePage) +
                    " would not install as it should (" + std::to_string(errors) +
                    (errors == 1 ? " error" : " errors") +
                    " above); --no-inf-check makes the package anyway");
  }
}

InfInspection InspectInf(const ByteSource &package, const ArchiveWalk &walk,
                         const std::string &infName, bool useAdvpack, int codePage,
                         unsigned recordedTargets) {
  InfInspection inspection;
  InfSubject subject{infName, "", {}, useAdvpack, recordedTargets};
  subject.codePage = codePage;
  for (const WalkedMember &member : walk.members) subject.members.push_back(member.name);
  std::optional<std::string> text =
      ReadInfMember(package, walk, infName, codePage, inspection.unreadable);
  // The targets create was told, else those the INF's Signature says.
  inspection.targetsRecorded = recordedTargets != 0;
  inspection.targets = recordedTargets ? recordedTargets
                       : text          ? SignatureTargets(*text)
                                       : kTargetsAll;
  for (InfRoad road : TargetRoads(PackageRoads(useAdvpack, infName), inspection.targets)) {
    road.commandLine = FromCodePage(road.commandLine, codePage);
    inspection.roads.push_back(road);
  }
  inspection.text = text;
  if (text) {
    subject.infText = *text;
    inspection.checked = true;
    inspection.findings = Displayed(CheckInf(subject), codePage);
  } else {
    inspection.findings = Displayed(CheckInfName(subject), codePage);
  }
  return inspection;
}

// "NT family (setupapi), Windows 95/98 (setupx)": each family the package
// installs on, with the installers of its road.
std::string InstallsOn(const InfInspection &inf) {
  std::string text;
  for (const char *platform : {"NT family", "Windows 95/98"}) {
    std::string installers;
    for (const InfRoad &road : inf.roads) {
      if (road.platform == platform && installers.find(road.installer) == std::string::npos) {
        installers += (installers.empty() ? "" : ", ") + road.installer;
      }
    }
    if (!installers.empty())
      text += (text.empty() ? "" : "; ") + std::string(platform) + " (" + installers + ")";
  }
  return text;
}

void PrintInfText(const InfInspection &inf, std::ostream &out) {
  out << "installs on         " << InstallsOn(inf);
  if (inf.targets != kTargetsAll) {
    out << (inf.targetsRecorded ? " only, as create was told (--targets)"
                                : " only, as the INF's Signature says");
  }
  out << "\n";
  for (const InfRoad &road : inf.roads) {
    out << "road                " << road.installer << " (" << road.platform << "), section ["
        << road.section << "]\n";
    out << "  command line      " << road.commandLine << "\n";
    if (road.sixteenBit) {
      out << "                    " << road.argumentsLength << " of " << kSixteenBitArgumentLimit
          << " characters after rundll.exe under " << road.folder
          << "; the temporary folder may have up to " << FolderAllowance(road) << "\n";
    }
  }
  if (!inf.checked) out << "INF check           not done: " << inf.unreadable << "\n";
  for (const InfFinding &finding : inf.findings) {
    if (finding.severity == InfFinding::kNote) out << "  note: " << finding.text << "\n";
  }
}

void PrintInfJson(const InfInspection &inf, std::ostream &out) {
  out << "{\"checked\": " << (inf.checked ? "true" : "false");
  out << ", \"installsOn\": [";
  const char *comma = "";
  for (unsigned family : {kTargetNt, kTarget9x}) {
    if (!(inf.targets & family)) continue;
    out << comma << JsonQuoted(family == kTargetNt ? "NT family" : "Windows 95/98");
    comma = ", ";
  }
  out << "]";
  if (!inf.checked) out << ", \"notChecked\": " << JsonQuoted(inf.unreadable);
  out << ", \"roads\": [";
  const char *separator = "";
  for (const InfRoad &road : inf.roads) {
    out << separator << "\n    {\"installer\": " << JsonQuoted(road.installer)
        << ", \"platform\": " << JsonQuoted(road.platform)
        << ", \"section\": " << JsonQuoted(road.section)
        << ", \"temporaryFolder\": " << JsonQuoted(road.folder)
        << ", \"commandLine\": " << JsonQuoted(road.commandLine)
        << ", \"argumentsLength\": " << road.argumentsLength << ", \"argumentsLimit\": ";
    if (road.sixteenBit) {
      out << kSixteenBitArgumentLimit;
    } else {
      out << "null";
    }
    out << "}";
    separator = ",";
  }
  out << "],\n    \"findings\": [";
  separator = "";
  for (const InfFinding &finding : inf.findings) {
    out << separator << "{\"severity\": \"" << SeverityWord(finding.severity)
        << "\", \"text\": " << JsonQuoted(finding.text) << "}";
    separator = ", ";
  }
  out << "]}";
}

}  // namespace vantrel_pack
