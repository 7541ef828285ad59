#include "walk_view.h"

#include "bridge/stub_rules.h"
#include "byte_source.h"
#include "cli/text.h"
#include "core/package_layout.h"
#include "records.h"

namespace vantrel_pack {
namespace {

// A typical temporary folder: C:\Users\<name>\AppData\Local\Temp\$Vantrel.Tmp
// with a user name of about twenty characters.
constexpr size_t kTypicalTempFolder = 64;
constexpr uint32_t kEncryptionHeaderBytes = 12;

bool HasZip64Extra(const std::vector<uint8_t> &extra) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    if (LittleEndian(extra, at, 2) == kZip64ExtraId) return true;
    at += 4 + LittleEndian(extra, at + 2, 2);
  }
  return false;
}

// Why the stub refuses a name, as far as the name itself tells.
std::string NameProblem(const WalkedMember &m) {
  if (m.name.empty()) return "empty name";
  if (m.nameLength > kLongestMemberName) {
    return "name longer than " + std::to_string(kLongestMemberName) + " bytes";
  }
  if (m.rawName.size() < m.nameLength) return "name cut short by the end of the archive";
  if (!NameStaysInsideFolder(m.name)) {
    return "name leads outside the extraction folder or names a device";
  }
  return "name too long for any temporary folder (Windows paths end at " +
         std::to_string(kLongestFilePath) + " characters, folders at " +
         std::to_string(kLongestFolderPath) + ")";
}

const char kNoMembers[] = "no local header at the start of the archive";

// The methods zip tools write besides stored and deflated, by their number
// in the zip format note, and what to do about a member that uses one.
std::string UnknownMethodText(unsigned method) {
  static const struct {
    unsigned number;
    const char *name;
  } kKnown[] = {{1, "shrunk"},  {6, "imploded"},   {9, "Deflate64"},   {12, "bzip2"},
                {14, "LZMA"},   {93, "Zstandard"}, {95, "XZ"},         {98, "PPMd"},
                {99, "AES encryption"}};
  std::string text = "compression method " + std::to_string(method);
  const char *name = nullptr;
  for (const auto &known : kKnown) {
    if (known.number == method) name = known.name;
  }
  if (name) text += std::string(" (") + name + ")";
  if (method == 99) {
    return text + ", which the stub cannot open: zip it without AES, and give create a folder "
                  "and --password for the traditional encryption the stub reads";
  }
  return text + ", which the stub cannot extract (only stored and deflated): recompress it "
                "with deflate (zip -r, or 7-Zip's -mm=Deflate), or give create the folder";
}

std::string EndProblem(const ArchiveWalk &walk) {
  return "the walk ends at offset " + std::to_string(walk.endOffset) + " on " +
         walk.endDescription() + "; anything after it is not extracted";
}

}  // namespace

std::string VerdictText(const WalkedMember &m) {
  switch (m.verdict) {
    case kMemberExtracted:
    case kMemberListed:
      return "";
    case kMemberBadName:
      return NameProblem(m);
    case kMemberUnknownMethod:
      return UnknownMethodText(m.method);
    case kMemberNoData:
      if (m.encrypted() && m.compressedSize < kEncryptionHeaderBytes) {
        return "encrypted member shorter than its 12-byte encryption header";
      }
      return "deflated member without data (a deflate stream is never empty)";
    case kMemberPasswordCancelled:
    case kMemberPasswordRefused:
      return "encrypted, and no password given opens it";
    case kMemberFolderMissing:
      return "its folder cannot be made (a file stands in the way)";
    case kMemberFileNotCreated:
      return "its file cannot be created (a file or folder of its path stands in the way)";
    case kMemberDataCut:
      return "its data are missing or cut short by the end of the package";
    case kMemberDecodeFailed:
      return "its data are damaged: the deflate stream breaks off or holds an invalid code";
    case kMemberWrongSize:
      return "its data are damaged: they come out another size than the header declares";
    case kMemberWriteFailed:
      return "a write fell short (the disk is full)";
    case kMemberCrcMismatch:
      return "its data are damaged: they do not match the CRC-32";
  }
  return "";
}

WalkedMember ViewMember(const ByteSource &source, const StubMember &stub) {
  const LocalHeader &h = stub.header;
  WalkedMember m;
  m.offset = stub.headerOffset;
  m.flags = h.flags;
  m.method = h.method;
  m.dosTime = h.dosTime;
  m.dosDate = h.dosDate;
  m.crc = h.crc;
  m.compressedSize = h.compressedSize;
  m.uncompressedSize = h.uncompressedSize;
  m.nameLength = h.nameLength;
  m.extraLength = h.extraLength;
  m.verdict = stub.verdict;
  std::vector<uint8_t> name = source.ReadBytes(m.offset + kLocalHeaderSize, m.nameLength);
  m.rawName.assign(name.begin(), name.end());
  m.name = StubName(m.rawName);
  std::vector<uint8_t> extra =
      source.ReadBytes(m.offset + kLocalHeaderSize + m.nameLength, m.extraLength);
  m.zip64 = HasZip64Extra(extra) || m.compressedSize == kZip64Size ||
            m.uncompressedSize == kZip64Size;
  m.next = NextRecordOffset(stub);
  m.dataPastEnd = m.next == 0 || m.next > source.Size();
  return m;
}

bool WalkedMember::isFolder() const {
  return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

std::string ArchiveWalk::endDescription() const {
  if (!ranOut) return "a member the stub stops at";
  if (end == kWalkEndOutOfReach) return "a size no file position reaches";
  if (endedAtEndOfFile) return "the end of the file";
  if (endSignature == kCentralHeaderSignature) return "the central directory";
  if (endSignature == kEndRecordSignature) return "the end record";
  std::string kind = end == kWalkEndAtRecord ? "a zip record" : "an unknown record";
  return kind + " (signature " + Hex32(endSignature) + ")";
}

ArchiveWalk ViewWalk(const ByteSource &source, const StubWalk &walk) {
  ArchiveWalk view;
  for (const StubMember &member : walk.members) view.members.push_back(ViewMember(source, member));
  view.ranOut = walk.ranOut;
  view.end = walk.end;
  view.endOffset = walk.endOffset;
  view.fatal = walk.fatal;
  std::vector<uint8_t> signature = source.ReadBytes(view.endOffset, 4);
  view.endedAtEndOfFile = signature.size() < 4;
  if (!view.endedAtEndOfFile) view.endSignature = LittleEndian(signature, 0, 4);
  return view;
}

ArchiveWalk WalkZipFile(const std::string &path, const ByteSource &source) {
  StubSession session(path);
  session.OpenArchive(0);
  return ViewWalk(source, session.ListArchive());
}

std::string MemberLabel(size_t index, const std::string &name) {
  return "member " + std::to_string(index + 1) + " " + Quoted(name, Escape::kControls);
}

std::vector<std::string> ExtractionFailures(const ArchiveWalk &walk) {
  std::vector<std::string> failures;
  for (size_t i = 0; i < walk.members.size(); ++i) {
    std::string problem = VerdictText(walk.members[i]);
    if (!problem.empty()) failures.push_back(MemberLabel(i, walk.members[i].name) + ": " + problem);
  }
  if (walk.fatal) {
    failures.push_back(
        "the stub ended with a fatal error (out of memory, or a folder it cannot create)");
  } else if (walk.members.empty()) {
    failures.push_back(kNoMembers);
  }
  if (walk.ranOut && !walk.endedNormally()) failures.push_back(EndProblem(walk));
  return failures;
}

std::vector<WalkProblem> WalkWarnings(const ArchiveWalk &walk) {
  std::vector<WalkProblem> warnings;
  auto add = [&warnings](const std::string &text, bool stops = true) {
    warnings.push_back({text, stops});
  };
  size_t files = 0;
  for (size_t i = 0; i < walk.members.size(); ++i) {
    const WalkedMember &m = walk.members[i];
    const std::string who = MemberLabel(i, m.name) + ": ";
    // A streaming writer may leave the sizes to the descriptor after the
    // data; the stub trusts the local header, so its walk derails there.
    bool sizeMissing = m.hasDescriptor() && m.compressedSize == 0 && walk.ranOut &&
                       walk.end == kWalkEndOnGarbage && walk.endOffset == m.next;
    if (sizeMissing) {
      add(who + "the local header has no compressed size (sizes in a data descriptor only)");
    }
    // The stub tests the data against the local header's CRC; only empty
    // data has a CRC of 0.
    if (m.hasDescriptor() && m.crc == 0 && (m.uncompressedSize != 0 || sizeMissing)) {
      add(who + "the local header has no CRC (only in a data descriptor)");
    }
    if (m.zip64) add(who + "Zip64");
    std::string problem = VerdictText(m);
    if (!problem.empty()) add(who + problem);
    if (problem.empty() && !NameFitsFolder(kTypicalTempFolder, m.name)) {
      add(who + "name too long for a typical temporary folder of " +
              std::to_string(kTypicalTempFolder) +
              " characters; the installation fails where the temporary folder is that long",
          false);
    }
    if (m.dataPastEnd) add(who + "data runs past the end of the package");
    if (!m.isFolder()) ++files;
  }
  if (files > kMaxExtractedFiles) {
    add(std::to_string(files) + " files: only the first " + std::to_string(kMaxExtractedFiles) +
            " are cleaned up after installation",
        false);
  }
  if (walk.members.empty()) add(kNoMembers);
  if (walk.ranOut && !walk.endedNormally()) add(EndProblem(walk));
  return warnings;
}

}  // namespace vantrel_pack
