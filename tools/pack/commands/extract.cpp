// `vantrel-pack extract`: the stub's own loader and extraction, run on the
// build machine through the bridge, with DIR in the place of the stub's
// temporary folder. Each member is named on stdout as the stub finishes it;
// what fails goes to stderr in this tool's words, from the stub's verdict.
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include "cli/arguments.h"
#include "cli/errors.h"
#include "cli/progress.h"
#include "cli/text.h"
#include "cli/timely_lines.h"
#include "commands.h"
#include "core/package_layout.h"
#include "extraction.h"

namespace fs = std::filesystem;

namespace vantrel_pack {
namespace {

const Option<ExtractionOptions> kExtractOptions[] = {
    {"-d, --dir", "DIR", "the folder to extract into (made when missing)",
     Keep<&ExtractionOptions::folder>},
    kPasswordOption,
    kCodePageOption,
    {"-q, --quiet", nullptr,
     "no member lines and no progress display (progress is\n"
     "shown only when standard error is a terminal anyway)",
     Switch<&ExtractionOptions::quiet>},
};

std::pair<dev_t, ino_t> FileIdentity(const struct stat &info) { return {info.st_dev, info.st_ino}; }

// The package's program file and every numbered part beside it, and the
// names they go by.
struct PackageFiles {
  std::set<std::pair<dev_t, ino_t>> identities;
  // The name of each file's one link, in lower case; empty when a file has
  // more than one link, so that any name may lead to it.
  std::set<std::string> names;
  bool onlyOwnNames = true;

  void Add(const std::string &path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return;
    identities.insert(FileIdentity(info));
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    if (ec || info.st_nlink != 1) onlyOwnNames = false;
    if (!ec) names.insert(FoldCase(real.filename().string()));
  }

  // A path whose last name is not a name of the package's files cannot be
  // one of them when each has a single link: lstat takes the last name as
  // the folder holds it, so it would have to be that link. Names are
  // compared without case, for folders that ignore it; a name that a file
  // system may take for another (a short name with '~', a trailing dot or
  // space, letters beyond ASCII) is always looked up.
  bool MayBeOneOfThem(const std::string &path) const {
    if (!onlyOwnNames) return true;
    size_t slash = path.rfind('/');
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    for (unsigned char c : name) {
      if (c >= 0x80 || c == '~') return true;
    }
    if (!name.empty() && (name.back() == '.' || name.back() == ' ')) return true;
    return names.count(FoldCase(name)) > 0;
  }
};

PackageFiles FilesOfPackage(const std::string &package) {
  PackageFiles files;
  files.Add(package);
  for (int number = 1; number <= kLastPartNumber; ++number) files.Add(PartName(package, number));
  return files;
}

// A member that would replace the package being read, or one of its parts,
// is refused before anything is written: extracting into the package's own
// folder must not destroy the package. Only a member that may name one of
// the package's files is looked up, so that a large package does not cost
// a failed lookup per member.
void RefuseMembersOverThePackage(const ArchiveWalk &walk, const std::string &package,
                                 const std::string &folder, int codePage) {
  PackageFiles packageFiles = FilesOfPackage(package);
  for (size_t i = 0; i < walk.members.size(); ++i) {
    std::string path = PathIn(folder, walk.members[i], codePage);
    if (!packageFiles.MayBeOneOfThem(path)) continue;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && packageFiles.identities.count(FileIdentity(info))) {
      throw PackError(MemberLabel(i, walk.members[i].name) + " would overwrite " + path +
                      ", a file of the package itself; extract into another folder");
    }
  }
}

uint64_t UncompressedBytes(const ArchiveWalk &walk) {
  uint64_t total = 0;
  for (const WalkedMember &member : walk.members) total += member.uncompressedSize;
  return total;
}

// The listing's view of each member, by the offset of its header. The
// extraction walks the same headers, and the line for a member needs what
// the listing read already: nothing of the package is read again.
std::map<uint64_t, const WalkedMember *> ListedByOffset(const ArchiveWalk &listing) {
  std::map<uint64_t, const WalkedMember *> byOffset;
  for (const WalkedMember &member : listing.members) byOffset[member.offset] = &member;
  return byOffset;
}

// A member extracted, in the words of zip tools.
const char *Action(const WalkedMember &member) {
  if (member.isFolder()) return "   creating: ";
  return member.method == 8 ? "  inflating: " : " extracting: ";
}

}  // namespace

const char *ExtractHelp() {
  static const std::string help =
      "usage: vantrel-pack extract PACKAGE -d DIR [--password TEXT] [--codepage N] [-q]\n"
      "  Extracts the package's archive into DIR with the stub's own loader and\n"
      "  archive walk, DIR taking the place of the stub's temporary folder. Each\n"
      "  member is named on stdout as the stub finishes it; what fails, and why,\n"
      "  goes to stderr. For a package in parts, name the first part: the others\n"
      "  are read from beside it and rebuilt in a scratch folder under $TMPDIR.\n"
      "  Nothing is written outside DIR; files already in DIR are replaced by\n"
      "  members of the same name, but symbolic links in DIR are never\n"
      "  followed, and a member that would replace the package itself is refused.\n\n" +
      OptionsHelp(kExtractOptions, 20) +
      "\n  Exit status 0 exactly when the extraction succeeded.\n";
  return help.c_str();
}

int RunExtract(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  ExtractionOptions options;
  std::vector<std::string> positional = ParseOptions(args, kExtractOptions, options);
  if (options.folder.empty()) throw UsageError("no folder given (-d DIR)");
  options.package = OnlyPositional(positional, "no package given", "package");
  LoadedPackage loaded;
  if (!LoadForExtraction(options, "extract", err, loaded)) return 1;
  std::error_code ec;
  fs::create_directories(options.folder, ec);
  if (!fs::is_directory(options.folder)) {
    throw PackError("cannot make the folder " + options.folder);
  }
  const std::string folder = fs::canonical(options.folder).string();
  RefuseMembersOverThePackage(loaded.listing, options.package, folder, loaded.codePage);
  if (!NamesAsWindowsReadsThem(loaded.listing, loaded.codePage, "extract", err)) return 1;
  std::optional<std::string> password =
      PasswordFor(loaded.listing, options.password, loaded.codePage, err);

  const bool drawing = ShowsProgress(err, options.quiet);
  Progress progress(err, drawing, "extracting", UncompressedBytes(loaded.listing),
                    loaded.listing.members.size());
  TimelyLines lines(out);
  uint64_t done = 0;
  const std::map<uint64_t, const WalkedMember *> listed = ListedByOffset(loaded.listing);
  StubSession::Extraction how;
  how.folder = folder;
  how.password = password;
  how.namesCodePage = loaded.codePage;
  how.onBytesWritten = [&progress, &lines](uint64_t bytes) {
    progress.AddBytes(bytes);
    lines.Tick();
  };
  how.onMember = [&](const StubMember &member) {
    if (member.verdict != kMemberExtracted) return;
    progress.SetMembersDone(++done);
    if (options.quiet) return;
    progress.Clear();
    auto known = listed.find(member.headerOffset);
    WalkedMember shown =
        known != listed.end() ? *known->second : ViewMember(*loaded.view.bytes, member);
    out << Action(shown) << PathIn(folder, shown, loaded.codePage) << "\n";
    // Beside the progress line, which is drawn again at once, every line
    // must be out first.
    if (drawing) {
      out << std::flush;
    } else {
      lines.Written();
    }
  };
  StubWalk walk;
  bool extracted = loaded.view.session->ExtractArchive(how, walk);
  lines.Finish();
  progress.Finish();
  if (extracted) return 0;
  for (const std::string &failure : ExtractionFailures(ViewWalk(*loaded.view.bytes, walk))) {
    err << "vantrel-pack extract: " << failure << "\n";
  }
  return 1;
}

}  // namespace vantrel_pack
