// `vantrel-pack create`: its options, and the making of a package.
#include "create.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "arguments.h"
#include "byte_source.h"
#include "central_directory.h"
#include "commands.h"
#include "create_inputs.h"
#include "folder_source.h"
#include "folder_zip.h"
#include "inf_package.h"
#include "pack_error.h"
#include "package_format.h"
#include "package_reader.h"
#include "package_writer.h"
#include "pending_output.h"
#include "progress.h"
#include "zip_source.h"
#include "zip_walk.h"

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

bool IsFolder(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
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
  PieceSet zip;
  if (!zip.AddFile(zipPath)) throw PackError("cannot open " + zipPath);
  ArchiveWalk walk = WalkArchive(zip, 0);
  std::vector<std::string> disagreements = DirectoryDisagreements(zip, 0, walk);
  if (!disagreements.empty()) {
    throw PackError("the archive written for " + options.source +
                    " disagrees with itself: " + disagreements[0]);
  }
  for (const WalkProblem &problem : WalkWarnings(walk)) {
    if (problem.stopsInstallation) {
      throw PackError("the archive written for " + options.source +
                      " cannot be extracted: " + problem.text);
    }
    err << "vantrel-pack create: warning: " << problem.text << "\n";
  }
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

using Flag = bool CreateOptions::*;
using Text = std::optional<std::string> CreateOptions::*;

// The options that switch something on.
const OptionRow<Flag> kFlags[] = {
    {"--stay-open", &CreateOptions::stayOpen},
    {"--admin", &CreateOptions::adminRequired},
    {"--advpack", &CreateOptions::useAdvpack},
    {"--skip-check", &CreateOptions::skipIntegrityCheck},
    {"--no-inf-check", &CreateOptions::noInfCheck},
    {"-q", &CreateOptions::quiet},
    {"--quiet", &CreateOptions::quiet},
};

// The options whose value is kept as it is given.
const OptionRow<Text> kTexts[] = {
    {"--title", &CreateOptions::title},
    {"--inf", &CreateOptions::infName},
    {"--welcome", &CreateOptions::welcomeText},
    {"--welcome-file", &CreateOptions::welcomeFile},
    {"--licence-file", &CreateOptions::licenceFile},
    {"--password", &CreateOptions::password},
    {"--stub", &CreateOptions::stub},
};

}  // namespace

uint64_t SignablePieceSize(uint64_t splitSize) { return splitSize - splitSize % 8; }

void CreatePackage(const CreateOptions &options, std::ostream &out, std::ostream &err) {
  const std::string stub = LoadStub(options);
  RefuseToReplaceOtherThanFiles({options.output});
  PackageTexts texts = MakeTexts(options);

  PendingOutput pending;
  std::vector<std::string> names;
  std::string zipPath;
  if (IsFolder(options.source)) {
    zipPath = ZipFolder(options, pending, names, err);
  } else {
    if (options.password) throw UsageError("--password needs a folder SOURCE");
    if (access(options.source.c_str(), R_OK) != 0) {
      throw PackError("cannot open " + options.source + ": " + std::strerror(errno));
    }
    if (options.levelGiven) {
      err << "vantrel-pack create: warning: --level does not apply to a .zip SOURCE\n";
    }
    names = CheckZipForStub(options.source, err);
    zipPath = options.source;
  }
  texts.infName = ChooseInf(names, options);
  CheckInfForCreate(options, names, texts.infName, err);

  PackageHeader header;
  header.stayOpen = options.stayOpen;
  header.adminRequired = options.adminRequired;
  header.skipIntegrityCheck = options.skipIntegrityCheck;
  header.useAdvpack = options.useAdvpack;
  header.multiPart = options.splitSize != 0;
  const uint64_t archiveBase = ArchiveBase(texts);
  const uint64_t totalSize = archiveBase + FileSize(zipPath);
  if (totalSize > kMaxPackageSize) throw PackError("the package would be larger than 2 GiB");
  header.totalSize = int32_t(totalSize);
  std::vector<uint8_t> headerBytes = EncodePackageHeader(header, texts);

  std::vector<std::string> paths = {options.output};
  const uint64_t pieceSize = SignablePieceSize(options.splitSize);
  if (options.splitSize) {
    paths = SplitPieceNames(options.output, totalSize, pieceSize, archiveBase);
  }
  RefuseToReplaceOtherThanFiles(paths);
  PackageWriter writer(pending, paths, pieceSize);
  writer.Write(stub.data(), stub.size());
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
  if (options.quiet) return;
  out << options.output << ": " << totalSize << " bytes";
  if (paths.size() > 1) out << " in " << paths.size() << " pieces";
  out << ", " << names.size() << " members\n";
}

const char *CreateHelp() {
  return R"(usage: vantrel-pack create -o OUT [options] SOURCE

Makes the setup program OUT: the stub, a package header with the texts
below, and a zip archive. SOURCE is a folder (zipped here, deflated) or a
.zip file (appended byte for byte after checking that the stub can extract
every member: sizes in every local header, no Zip64, at most 2 GiB).

  -o, --output OUT      the program file to write (also the name the parts
                        of a split package are derived from)
  --level N             deflate level 0..9 for a folder SOURCE; 0 stores
                        (default 6)
  --title TEXT          dialog caption and disk prompt caption, at most 255
                        bytes once converted
  --inf NAME            the INF file to install; default: the only .inf file
                        at the top of the archive
  --welcome TEXT        text of the main dialog
  --welcome-file FILE   the same, read from FILE; without either option the
                        package installs unattended, without a dialog
  --licence-file FILE   licence text the user must accept first
  --password TEXT       folder SOURCE: encrypt every member with the
                        traditional zip encryption; the user types the
                        password (at most 79 characters), the package does
                        not contain it
  --stay-open           keep the dialog open after the installation
  --admin               refuse to run without administrator rights
  --advpack             install through advpack LaunchINFSection
  --skip-check          write the flag that makes the stub skip its check of
                        the archive's end; without it a single-part package
                        that would fail that check is refused here
  --no-inf-check        make the package even when the INF checks find errors
                        (they are shown as warnings)
  --stub FILE           the stub (exactly 35,328 bytes); default:
                        vantrel-stub.exe beside this program
  --split SIZE          split into pieces of SIZE bytes (k or m suffix,
                        1024-based; rounded down to a multiple of 8, so that
                        OUT can be signed): OUT holds the stub, header, texts
                        and the start of the archive, the rest goes to OUT
                        with its last three characters replaced by 001, 002,
                        ... (at most 255 parts)
  --codepage N          Windows ANSI code page of the texts and file names
                        (default 1252); texts are read as UTF-8, and one that
                        cannot be written in the code page is an error
  -q, --quiet           no progress display and no summary line (progress is
                        shown only when standard error is a terminal anyway)

The INF file is checked against the archive and the package's road: the
sections the stub runs (DefaultInstall; with --advpack DefaultInstall2,
DefaultInstall2.ntx86 and DefaultInstallX), the files its install sections
copy (through SourceDisksNames/SourceDisksFiles, sub-folders included), the
sections its directives name, and its name (8.3, no space or comma, and a
setupx command line within the 126 characters of the 16-bit rundll.exe).
Errors stop create; `vantrel-pack inf` writes an INF that passes.

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
}

CreateOptions ParseCreateOptions(const std::vector<std::string> &args,
                                 const char *sourceDateEpoch) {
  CreateOptions options;
  bool haveOutput = false;
  Arguments in(args);
  while (in.NextOption()) {
    const std::string name = in.Name();
    if (name == "-o" || name == "--output") {
      options.output = in.Value();
      haveOutput = true;
    } else if (name == "--level") {
      options.level = int(ParseNumber(in.Value(), 0, 9, "--level"));
      options.levelGiven = true;
    } else if (auto text = OptionNamed(kTexts, name)) {
      options.*text = in.Value();
    } else if (name == "--split") {
      options.splitSize = ParseSize(in.Value(), "--split");
    } else if (name == "--codepage") {
      options.codePage = int(ParseNumber(in.Value(), 1, 65535, "--codepage"));
    } else if (auto flag = OptionNamed(kFlags, name)) {
      in.NoValue();
      options.*flag = true;
    } else {
      throw UsageError("unknown option " + name);
    }
  }
  if (!haveOutput || options.output.empty()) throw UsageError("no output file (-o OUT)");
  options.source = in.OnlyPositional("no SOURCE folder or .zip file", "SOURCE");
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
