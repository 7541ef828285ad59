#include "inf_package.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "byte_source.h"
#include "create.h"
#include "inf_check.h"
#include "pack_error.h"
#include "text_codec.h"
#include "zip_walk.h"

namespace vantrel_pack {
namespace {

std::string Folded(std::string name) {
  for (char &c : name) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return name;
}

// A raw deflate stream that must give exactly `size` bytes.
bool Inflated(const std::vector<uint8_t> &packed, uint32_t size, std::string &out) {
  out.assign(size, '\0');
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) throw PackError("cannot start zlib");
  stream.next_in = const_cast<Bytef *>(packed.data());
  stream.avail_in = uInt(packed.size());
  stream.next_out = reinterpret_cast<Bytef *>(out.data());
  stream.avail_out = uInt(out.size());
  int result = inflate(&stream, Z_FINISH);
  inflateEnd(&stream);
  return result == Z_STREAM_END && stream.total_out == size;
}

// A member's bytes as the stub would extract them; an empty optional with
// `why` set when they cannot be read here.
std::optional<std::string> ReadMember(const ByteSource &source, const WalkedMember &m,
                                      std::string &why) {
  const uint32_t kLargestInf = 16u << 20;
  if (m.encrypted()) {
    why = "it is encrypted";
  } else if (m.method != 0 && m.method != 8) {
    why = "it uses compression method " + std::to_string(m.method);
  } else if (m.uncompressedSize > kLargestInf) {
    why = "it is larger than 16 MiB";
  }
  if (!why.empty()) return std::nullopt;
  uint64_t data = m.offset + 30 + m.nameLength + m.extraLength;
  std::vector<uint8_t> packed = source.ReadBytes(data, m.compressedSize);
  std::string out(packed.begin(), packed.end());
  if (packed.size() != m.compressedSize) {
    why = "its data run past the end of the archive";
  } else if (m.method == 8 && !Inflated(packed, m.uncompressedSize, out)) {
    why = "it does not inflate to its recorded size";
  } else if (uint32_t(crc32(0, reinterpret_cast<const Bytef *>(out.data()), uInt(out.size()))) !=
             m.crc) {
    why = "its data do not match its CRC-32, so the stub would not extract it either";
  }
  if (!why.empty()) return std::nullopt;
  return out;
}

std::optional<std::string> ReadWalkedInf(const ByteSource &source, const ArchiveWalk &walk,
                                         const std::string &infName, std::string &why) {
  for (const WalkedMember &member : walk.members) {
    if (Folded(member.name) == Folded(infName)) return ReadMember(source, member, why);
  }
  why = "the archive has no member of that name";
  return std::nullopt;
}

std::optional<std::string> ReadSourceInf(const CreateOptions &options, const std::string &infName,
                                         std::string &why) {
  if (std::filesystem::is_directory(options.source)) {
    // Member names are the folder's file names in the code page.
    std::string relative = FromCodePage(infName, options.codePage);
    for (char &c : relative) {
      if (c == '\\') c = '/';
    }
    std::ifstream in(options.source + "/" + relative, std::ios::binary);
    if (!in) {
      why = std::strerror(errno);
      return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  PieceSet zip;
  if (!zip.AddFile(options.source)) {
    why = std::strerror(errno);
    return std::nullopt;
  }
  return ReadWalkedInf(zip, WalkArchive(zip, 0), infName, why);
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

std::string JsonQuoted(const std::string &utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04X", c);
      out += code;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

// How many characters the temporary folder may have before the 16-bit
// limit cuts the line.
size_t FolderAllowance(const InfRoad &road) {
  size_t rest = road.argumentsLength - road.folder.size();
  return rest >= kSixteenBitArgumentLimit ? 0 : kSixteenBitArgumentLimit - rest;
}

}  // namespace

void CheckInfForCreate(const CreateOptions &options, const std::vector<std::string> &members,
                       const std::string &infName, std::ostream &err) {
  InfSubject subject{infName, "", members, options.useAdvpack};
  std::string why;
  std::optional<std::string> text = ReadSourceInf(options, infName, why);
  std::vector<InfFinding> findings;
  if (text) {
    subject.infText = *text;
    findings = Displayed(CheckInf(subject), options.codePage);
  } else {
    findings = Displayed(CheckInfName(subject), options.codePage);
    findings.push_back(
        {InfFinding::kWarning,
         "the INF file " + FromCodePage(infName, options.codePage) + " was not checked: " + why});
  }
  size_t errors = 0;
  for (const InfFinding &finding : findings) {
    bool error = finding.severity == InfFinding::kError;
    errors += error ? 1 : 0;
    const char *word = error && options.noInfCheck ? "warning" : SeverityWord(finding.severity);
    err << "vantrel-pack create: " << word << ": " << finding.text << "\n";
  }
  if (errors && !options.noInfCheck) {
    throw PackError(FromCodePage(infName, options.codePage) + " would not install as it should (" +
                    std::to_string(errors) + (errors == 1 ? " error" : " errors") +
                    " above); --no-inf-check makes the package anyway");
  }
}

InfInspection InspectInf(const ByteSource &package, const ArchiveWalk &walk,
                         const std::string &infName, bool useAdvpack, int codePage) {
  InfInspection inspection;
  for (InfRoad road : PackageRoads(useAdvpack, infName)) {
    road.commandLine = FromCodePage(road.commandLine, codePage);
    inspection.roads.push_back(road);
  }
  InfSubject subject{infName, "", {}, useAdvpack};
  for (const WalkedMember &member : walk.members) subject.members.push_back(member.name);
  std::optional<std::string> text = ReadWalkedInf(package, walk, infName, inspection.unreadable);
  if (text) {
    subject.infText = *text;
    inspection.checked = true;
    inspection.findings = Displayed(CheckInf(subject), codePage);
  } else {
    inspection.findings = Displayed(CheckInfName(subject), codePage);
  }
  return inspection;
}

void PrintInfText(const InfInspection &inf, std::ostream &out) {
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
