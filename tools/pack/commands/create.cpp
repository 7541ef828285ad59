// `vantrel-pack create`: its options, and the making of a package.
#include "create.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>

#include "cli/arguments.h"
#include "cli/errors.h"
#include "cli/pending_output.h"
#include "cli/progress.h"
#include "cli/text.h"
#include "cli/windows_path.h"
#include "commands.h"
#include "core/package_layout.h"
#include "create_inputs.h"
#include "inf/file.h"
#include "package_resources.h"
#include "inf/package_checks.h"
#include "package/format.h"
#include "package/recorded.h"
#include "package/reader.h"
#include "package/writer.h"
#include "zip/byte_source.h"
#include "zip/folder_source.h"
#include "zip/source_check.h"
#include "zip/top_folder.h"
#include "zip/utf8_names.h"
#include "zip/windows_names.h"
#include "zip/writer.h"

namespace vantrel_pack {
namespace {

// The package replaces only regular files: renaming it over a device, a
// pipe, a link or a folder would destroy what the name stood for.
void RefuseToReplaceOtherThanFiles(const std::vector<std::string> &paths) {
  for (const std::string &path : paths) {
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
      throw PackError(path + " exists and is not a regular file; nothing was written");
    }
  }
}

// Zips the folder into a scratch file and checks that what was written is
// what the stub can walk.
std::string ZipFolder(const CreateOptions &options, PendingOutput &pending,
                      std::vector<std::string> &names, std::ostream &err) {
  std::vector<SourceFile> files = CollectFolder(options.source, options.codePage);
  for (const SourceFile &file : files) names.push_back(file.name);
  if (files.empty()) throw PackError("the folder " + options.source + " holds no files");
  ChooseInf(names, options);  // fail before the work of compressing
  std::string zipPath = pending.Scratch(options.output);
  ZipSettings settings;
  settings.level = options.level;
  if (options.password) settings.password = CheckedPassword(options);
  settings.sourceDateEpoch = options.sourceDateEpoch;
  Progress progress(err, ShowsProgress(err, options.quiet), "zipping", ZipWork(files, settings),
                    files.size());
  WriteFolderZip(files, settings, zipPath, progress);
  progress.Finish();
  CheckWrittenZip(zipPath, options.source, options.codePage, err);
  return zipPath;
}

uint64_t FileSize(const std::string &path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) throw PackError("cannot read " + path);
  return uint64_t(info.st_size);
}

// Reads the package just written back with the stub's own loader: the
// stub must find the header and texts that were written, and a single-part
// package must pass its check of the file's end (a .zip SOURCE with bytes
// after its end record, say, would be called corrupted).
void CheckWithTheStub(const std::string &written, const PackageHeader &header,
                      const PackageTexts &texts, uint64_t archiveBase) {
  PackageView view = ReadPackage(written, false);
  if (!view.hasMagic || view.textPastEnd || view.archiveBase != archiveBase ||
      view.texts.title != texts.title || view.texts.infName != texts.infName ||
      view.texts.welcomeText != texts.welcomeText || view.texts.licenceText != texts.licenceText ||
      view.header.totalSize != header.totalSize) {
    throw PackError("the stub would not read back the header that was written");
  }
  if (!header.multiPart && !header.skipIntegrityCheck && !PackageEndPasses(view.end)) {
    throw PackError("the package would fail the stub's integrity check: " +
                    DescribePackageEnd(view.end) + " (--skip-check turns the check off)");
  }
}

// Seconds since 1970, as the reproducible-builds convention writes them; an
// empty value counts as unset.
std::optional<int64_t> ParseSourceDateEpoch(const char *value) {
  if (!value || !*value) return std::nullopt;
  std::string text = value;
  bool digits = text.size() <= 12;
  for (char c : text) digits = digits && c >= '0' && c <= '9';
  if (!digits) {
    throw PackError("SOURCE_DATE_EPOCH is \"" + text + "\", not a number of seconds since 1970");
  }
  return std::stoll(text);
}

// A name in UTF-8 without the zip's mark (Info-ZIP writes them so) would be
// created garbled. In a single-byte code page such bytes are almost never
// meant as they stand: refused. In a double-byte one they may well be, so
// only a warning.
void RefuseUnmarkedUtf8(const std::string &name, const CreateOptions &options, std::ostream &err) {
  const std::string text =
      "the member " + Quoted(FromCodePage(name, options.codePage), Escape::kControls) +
      " is named in UTF-8 (" + Quoted(name, Escape::kControls) +
      ") without the zip's mark for it, so Windows would create the first form";
  const bool doubleByte = WindowsNames(options.codePage).IsLeadByte(0x81);
  if (!doubleByte) {
    throw PackError(text + ": give create --utf8-names to read such names as UTF-8, or zip with "
                           "7-Zip, which marks them");
  }
  err << "vantrel-pack create: warning: " << text << "; if it is UTF-8, give --utf8-names\n";
}

// The INF as the installer will read it: from the folder, or as the stub
// extracts it from the .zip. Returns its text, or an empty optional with
// `unreadable` saying why there is none.
std::optional<std::string> CheckInf(const CreateOptions &options,
                                    const std::vector<std::string> &names,
                                    const std::string &infName, const std::string &zipPath,
                                    const ArchiveWalk *zipWalk, std::string &unreadable,
                                    std::ostream &err) {
  InfForCreate check;
  check.infName = infName;
  check.members = names;
  check.useAdvpack = options.useAdvpack;
  check.codePage = options.codePage;
  check.errorsAsWarnings = options.noInfCheck;
  check.targets = options.targets;
  if (zipWalk) {
    PieceSet zip;
    if (zip.AddFile(zipPath)) {
      check.text = ReadInfMember(zip, *zipWalk, infName, options.codePage, check.unreadable,
                                 &check.tooLarge);
    } else {
      check.unreadable = std::strerror(errno);
    }
  } else {
    // Member names are the folder's file names in the code page.
    std::string path = options.source + "/" + WithSlashes(FromCodePage(infName, options.codePage));
    std::ifstream in(path, std::ios::binary);
    std::string text(kLargestInf + 1, '\0');
    // One byte more than the cap tells a larger file without reading it all.
    if (in && (in.read(&text[0], std::streamsize(text.size())) || in.eof())) {
      text.resize(size_t(in.gcount()));
      if (text.size() > kLargestInf) {
        check.unreadable = TooLargeText();
        check.tooLarge = true;
      } else {
        check.text = std::move(text);
      }
    } else {
      check.unreadable = std::strerror(errno);
    }
  }
  CheckInfForCreate(check, err);
  unreadable = check.unreadable;
  return check.text;
}

}  // namespace

uint64_t SignablePieceSize(uint64_t splitSize) { return splitSize - splitSize % 8; }

// The media people copy pieces to, by name. A 1.44 MB diskette has 2,847
// clusters of 512 bytes for files, not 1.44 MiB; 650 MiB leaves a CD's file
// system its room.
uint64_t ParseSplitSize(const std::string &value, const std::string &name) {
  static const struct {
    const char *name;
    uint64_t bytes;
  } kMedia[] = {{"floppy", 1457664}, {"1.44m", 1457664}, {"cd", 650ull << 20}};
  for (const auto &medium : kMedia) {
    if (value == medium.name) return medium.bytes;
  }
  return ParseSize(value, name);
}

void CreatePackage(const CreateOptions &options, std::ostream &out, std::ostream &err) {
  const std::string stub = LoadStub(options);
  RefuseToReplaceOtherThanFiles({options.output});
  PackageTexts texts = MakeTexts(options);
  {
    // What the options alone give must fit the stub before the work of
    // compressing; the INF's names are added once it has been read.
    std::ostringstream unused;
    PackageStub(stub, options, nullptr, "", unused);
  }

  PendingOutput pending;
  std::vector<std::string> names;
  std::string zipPath;
  std::optional<ArchiveWalk> zipWalk;
  if (IsFolder(options.source)) {
    if (options.stripTopFolder) {
      throw UsageError("--strip-top-folder takes a .zip SOURCE; give the folder inside as SOURCE");
    }
    zipPath = ZipFolder(options, pending, names, err);
  } else {
    if (options.password) throw UsageError("--password needs a folder SOURCE");
    if (access(options.source.c_str(), R_OK) != 0) {
      throw PackError("cannot open " + options.source + ": " + std::strerror(errno));
    }
    if (options.levelGiven) {
      err << "vantrel-pack create: warning: --level does not apply to a .zip SOURCE\n";
    }
    zipWalk = CheckZipForStub(options.source, options.codePage, err);
    zipPath = options.source;
    const std::string unmarked = UnmarkedUtf8Name(*zipWalk);
    if (!unmarked.empty() && !options.utf8Names) RefuseUnmarkedUtf8(unmarked, options, err);
    if (HasUtf8Names(*zipWalk) || options.stripTopFolder ||
        (options.utf8Names && !unmarked.empty())) {
      // The stub would create the UTF-8 bytes as ANSI names: the package
      // gets a copy with the names in its code page (and without the top
      // folder when asked).
      std::vector<std::string> converted =
          CodePageNames(*zipWalk, options.codePage, options.utf8Names);
      if (options.stripTopFolder) converted = WithoutTopFolder(converted);
      zipPath = pending.Scratch(options.output);
      PieceSet zip;
      if (!zip.AddFile(options.source)) throw PackError("cannot open " + options.source);
      WriteRenamedZip(zip, *zipWalk, converted, zipPath);
      std::ostringstream again;  // its warnings were shown for the source
      zipWalk = CheckZipForStub(zipPath, options.codePage, again);
    }
    for (const WalkedMember &member : zipWalk->members) names.push_back(member.name);
  }
  texts.infName = ChooseInf(names, options);
  std::string unreadable;
  std::optional<std::string> infText =
      CheckInf(options, names, texts.infName, zipPath, zipWalk ? &*zipWalk : nullptr, unreadable,
               err);
  const std::string packageStub =
      PackageStub(stub, options, infText ? &*infText : nullptr, unreadable, err);

  PackageHeader header;
  header.stayOpen = options.stayOpen;
  header.adminRequired = options.adminRequired;
  header.skipIntegrityCheck = options.skipIntegrityCheck;
  header.useAdvpack = options.useAdvpack;
  header.multiPart = options.splitSize != 0;
  // Recorded for inspect, test and extract; the stub never reads them.
  header.reserved16 = CodePageMark(options.codePage);
  header.reserved20 = TargetsMark(options.targets);
  if (!header.reserved16) {
    err << "vantrel-pack create: warning: code page " << options.codePage
        << " is none that Windows names files in (1252, 932, ... 1258 are), so the package "
        << "does not record it: inspect, test and extract read it as 1252 unless given "
        << "--codepage\n";
  }
  const uint64_t archiveBase = ArchiveBase(texts);
  const uint64_t totalSize = archiveBase + FileSize(zipPath);
  if (totalSize > kLargestPackage) throw PackError("the package would be larger than 2 GiB");
  header.totalSize = int32_t(totalSize);
  std::vector<uint8_t> headerBytes = EncodePackageHeader(header, texts);

  std::vector<std::string> paths = {options.output};
  const uint64_t pieceSize = SignablePieceSize(options.splitSize);
  if (options.splitSize) {
    paths = SplitPieceNames(options.output, totalSize, pieceSize, archiveBase);
  }
  RefuseToReplaceOtherThanFiles(paths);
  PackageWriter writer(pending, paths, pieceSize);
  writer.Write(packageStub.data(), packageStub.size());
  writer.Write(headerBytes.data(), headerBytes.size());
  {
    // A folder was shown being zipped; a .zip SOURCE is shown being copied.
    bool show = zipPath == options.source && ShowsProgress(err, options.quiet);
    Progress progress(err, show, "copying", FileSize(zipPath), names.size());
    writer.CopyFile(zipPath, progress);
    progress.SetMembersDone(names.size());
    progress.Finish();
  }
  CheckWithTheStub(pending.Flushed(options.output), header, texts, archiveBase);
  pending.Commit();
  if (paths.size() > 1) {
    // Signing appends to the program file alone, which is cut to the full size.
    err << "vantrel-pack create: note: the program file is " << pieceSize
        << " bytes, the whole piece size: signing adds a certificate table (1.5 KB or more) "
        << "to it, so to fit a medium of that size signed, make it with a --split smaller by "
        << "that much";
    if (pieceSize > 65536) err << " (such as " << (pieceSize - 16384) / 1024 << "k)";
    err << "\n";
  }
  if (options.quiet) return;
  out << options.output << ": " << totalSize << " bytes";
  if (paths.size() > 1) out << " in " << paths.size() << " pieces";
  out << ", " << names.size() << " members\n";
}

namespace {

void ApplyTargets(CreateOptions &options, const std::string &value, const std::string &name) {
  options.targets = ParseTargets(value, name);
}

void ApplyElevation(CreateOptions &options, const std::string &value, const std::string &name) {
  if (!IsExecutionLevel(value)) {
    throw UsageError(name + " must be asInvoker, highestAvailable or requireAdministrator");
  }
  options.elevation = value;
}

// The options of create, each with its help.
const Option<CreateOptions> kCreateOptions[] = {
    {"-o, --output", "OUT",
     "the program file to write (also the name the parts\n"
     "of a split package are derived from)",
     Keep<&CreateOptions::output>},
    {"--level", "N",
     "deflate level 0..9 for a folder SOURCE; 0 stores\n"
     "(default 6)",
     [](CreateOptions &o, const std::string &v, const std::string &name) {
       o.level = int(ParseNumber(v, 0, 9, name));
       o.levelGiven = true;
     }},
    {"--title", "TEXT",
     "dialog caption and disk prompt caption, at most 255\n"
     "bytes once converted",
     Keep<&CreateOptions::title>},
    {"--inf", "NAME",
     "the INF file to install; default: the only .inf file\n"
     "at the top of the archive",
     Keep<&CreateOptions::infName>},
    {"--welcome", "TEXT", "text of the main dialog",
     Keep<&CreateOptions::welcomeText>},
    {"--welcome-file", "FILE",
     "the same, read from FILE; without either option the\n"
     "package installs unattended, without a dialog",
     Keep<&CreateOptions::welcomeFile>},
    {"--licence-file", "FILE", "licence text the user must accept first",
     Keep<&CreateOptions::licenceFile>},
    {"--password", "TEXT",
     "folder SOURCE: encrypt every member with the\n"
     "traditional zip encryption; the user types the\n"
     "password (at most 79 characters), the package does\n"
     "not contain it",
     Keep<&CreateOptions::password>},
    {"--stay-open", nullptr, "keep the dialog open after the installation",
     Switch<&CreateOptions::stayOpen>},
    {"--admin", nullptr, "refuse to run without administrator rights",
     Switch<&CreateOptions::adminRequired>},
    {"--elevation", "LEVEL",
     "what the manifest asks Windows Vista and later for:\n"
     "asInvoker, highestAvailable or requireAdministrator;\n"
     "default: requireAdministrator with --admin or when\n"
     "the INF installs for the whole machine (copies into\n"
     "Program Files or a Windows folder, writes HKLM keys,\n"
     "makes Start-menu items for all users), else asInvoker",
     ApplyElevation},
    {"--product-name", "TEXT",
     "version information: the product's name; default:\n"
     "the name given to `vantrel-pack inf` when it wrote\n"
     "the INF, else --title",
     Keep<&CreateOptions::productName>},
    {"--product-version", "TEXT",
     "version information: file and product version; as\n"
     "up to four dotted numbers it is also the binary\n"
     "version; default: the INF's (`vantrel-pack inf\n"
     "--version`), else none",
     Keep<&CreateOptions::productVersion>},
    {"--company", "TEXT",
     "version information: the company; default: the INF's\n"
     "publisher (`vantrel-pack inf --publisher`), else none",
     Keep<&CreateOptions::company>},
    {"--description", "TEXT",
     "version information: the file description; default:\n"
     "--title, else \"NAME setup\" from the product name",
     Keep<&CreateOptions::description>},
    {"--copyright", "TEXT", "version information: the copyright; default: none",
     Keep<&CreateOptions::copyright>},
    {"--advpack", nullptr, "install through advpack LaunchINFSection",
     Switch<&CreateOptions::useAdvpack>},
    {"--skip-check", nullptr,
     "write the flag that makes the stub skip its check of\n"
     "the archive's end; without it a single-part package\n"
     "that would fail that check is refused here",
     Switch<&CreateOptions::skipIntegrityCheck>},
    {"--strip-top-folder", nullptr,
     "a .zip SOURCE whose files all lie in one folder goes\n"
     "in without it, so the INF is at the top",
     Switch<&CreateOptions::stripTopFolder>},
    {"--utf8-names", nullptr,
     "read a .zip SOURCE's names that lack the UTF-8 mark\n"
     "as UTF-8 (Info-ZIP writes them so)",
     Switch<&CreateOptions::utf8Names>},
    {"--no-inf-check", nullptr,
     "make the package even when the INF checks find errors\n"
     "(they are shown as warnings)",
     Switch<&CreateOptions::noInfCheck>},
    {"--targets", "nt|9x|all",
     "the Windows the package is for: the NT family,\n"
     "Windows 95/98/ME or both; default: as the INF's\n"
     "Signature says (\"$Windows NT$\": nt, else all)",
     ApplyTargets},
    {"--stub", "FILE",
     "the stub (exactly 35,328 bytes); default:\n"
     "vantrel-stub.exe beside this program, else\n"
     "../share/vantrel/vantrel-stub.exe from its folder",
     Keep<&CreateOptions::stub>},
    {"--split", "SIZE",
     "split into pieces of SIZE bytes (k or m suffix,\n"
     "1024-based; floppy or 1.44m: 1,457,664 bytes, what a\n"
     "1.44 MB diskette holds; cd: 650m; rounded down to a\n"
     "multiple of 8, so that OUT can be signed): OUT holds\n"
     "the stub, header, texts and the start of the archive,\n"
     "the rest goes to OUT with its last three characters\n"
     "replaced by 001, 002, ... (at most 255 parts)",
     [](CreateOptions &o, const std::string &v, const std::string &name) {
       o.splitSize = ParseSplitSize(v, name);
     }},
    {"--codepage", "N",
     "Windows ANSI code page of the texts and file names\n"
     "(default 1252); texts are read as UTF-8, and one that\n"
     "cannot be written in the code page is an error",
     ApplyCodePage<CreateOptions>},
    {"-q, --quiet", nullptr,
     "no progress display and no summary line (progress is\n"
     "shown only when standard error is a terminal anyway)",
     Switch<&CreateOptions::quiet>},
};

}  // namespace

const char *CreateHelp() {
  static const std::string help =
      "usage: vantrel-pack create -o OUT [options] SOURCE\n\n"
      "Makes the setup program OUT: the stub, a package header with the texts\n"
      "below, and a zip archive. SOURCE is a folder (zipped here, deflated) or a\n"
      ".zip file (appended byte for byte after checking that the stub can extract\n"
      "every member: sizes in every local header, no Zip64, at most 2 GiB).\n\n" +
      OptionsHelp(kCreateOptions, 22) + R"(
The INF file is checked against the archive and the package's road: the
sections the stub runs (DefaultInstall; with --advpack DefaultInstall2,
DefaultInstall2.ntx86 and DefaultInstallX), the files its install sections
copy (through SourceDisksNames/SourceDisksFiles, sub-folders included), the
sections its directives name, and its name (8.3, no space or comma, and a
setupx command line within the 126 characters of the 16-bit rundll.exe).
The sections the target roads run must copy, add or run something. Faults
of a road outside the targets (--targets) are only notes.
Errors stop create; `vantrel-pack inf` writes an INF that passes.

The version strings go into slots the stub keeps for them, as UTF-16
(converted from UTF-8, or from the code page for the INF's names): at most 63
characters for the product name and the company, 23 for the version, 79 for
the description and the copyright. The stub keeps its size and layout; its
image checksum is brought up to date.

Line ends of the texts become CR LF. Exit status: 0 done, 1 bad input or a
failed file operation, 2 bad command line. OUT is written under a temporary
name and appears only when complete.

Reproducible packages: the same SOURCE, options and stub give the same
bytes, on any machine and at any time. Members are in name order, their
times are the files' modification times read as UTC, and nothing else of
the machine goes in; only the random bytes that open each encrypted member
differ from run to run. With SOURCE_DATE_EPOCH set (seconds since 1970), no
member time is later than it, and those bytes are derived from the password
and the member's name and content instead: packages made so show which
encrypted members they share (see the README).

Signing: sign OUT once it is made; the stub accepts the certificate table a
signing tool appends, and nothing else after the archive. Sign last: a byte
changed afterwards makes the stub refuse the package as corrupted. Of a split
package sign OUT only, and keep its name: the parts are found by it.
  Linux:    osslsigncode sign -pkcs12 cert.pfx -pass PASSWORD -n "TITLE" \
              -ts http://timestamp.example.com -in OUT -out signed.exe
            mv signed.exe OUT
  Windows:  signtool sign /fd sha256 /f cert.pfx /p PASSWORD
              /tr http://timestamp.example.com /td sha256 OUT
Then `vantrel-pack inspect OUT` shows where the signature lies and whether the
stub accepts the package; `osslsigncode verify` or `signtool verify /pa` says
whether the signature is valid.
)";
  return help.c_str();
}

CreateOptions ParseCreateOptions(const std::vector<std::string> &args,
                                 const char *sourceDateEpoch) {
  CreateOptions options;
  std::vector<std::string> positional = ParseOptions(args, kCreateOptions, options);
  if (options.output.empty()) throw UsageError("no output file (-o OUT)");
  options.source = OnlyPositional(positional, "no SOURCE folder or .zip file", "SOURCE");
  options.sourceDateEpoch = ParseSourceDateEpoch(sourceDateEpoch);
  if (options.welcomeText && options.welcomeFile) {
    throw UsageError("--welcome and --welcome-file exclude each other");
  }
  return options;
}

int RunCreate(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  CreatePackage(ParseCreateOptions(args, std::getenv("SOURCE_DATE_EPOCH")), out, err);
  return 0;
}

}  // namespace vantrel_pack
