#include "create.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "byte_source.h"
#include "central_directory.h"
#include "folder_archive.h"
#include "inf_package.h"
#include "pack_error.h"
#include "package_format.h"
#include "package_reader.h"
#include "package_writer.h"
#include "pending_output.h"
#include "progress.h"
#include "text_codec.h"
#include "zip_source.h"
#include "zip_walk.h"

namespace vantrel_pack {
namespace {

// The password dialog takes at most this many characters.
constexpr size_t kMaxPasswordLength = 79;

// Texts and the stub are read whole: a device or a pipe given by mistake
// would be read for ever, so only regular files are taken.
std::string ReadWholeFile(const std::string &path, uint64_t largest) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    throw PackError("cannot open " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) throw PackError(path + " is not a regular file");
  if (uint64_t(info.st_size) > largest) {
    throw PackError(path + " has " + std::to_string(info.st_size) + " bytes; at most " +
                    std::to_string(largest) + " are possible here");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PackError("cannot open " + path + ": " + std::strerror(errno));
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) throw PackError("cannot read " + path);
  return content.str();
}

std::string WithoutByteOrderMark(const std::string &text) {
  return text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
}

std::string DefaultStubPath() {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "vantrel-stub.exe";
  std::string path(self, size_t(length));
  return path.substr(0, path.rfind('/') + 1) + "vantrel-stub.exe";
}

std::string LoadStub(const CreateOptions &options) {
  std::string path = options.stub ? *options.stub : DefaultStubPath();
  struct stat info;
  if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
      uint64_t(info.st_size) != kStubSize) {
    throw PackError("the stub " + path + " has " + std::to_string(info.st_size) +
                    " bytes; it must have exactly " + std::to_string(kStubSize));
  }
  std::string stub = ReadWholeFile(path, kStubSize);
  if (stub.size() != kStubSize) {
    throw PackError("the stub " + path + " has " + std::to_string(stub.size()) +
                    " bytes; it must have exactly " + std::to_string(kStubSize));
  }
  if (stub.compare(0, 2, "MZ") != 0) throw PackError("the stub " + path + " is not a program");
  return stub;
}

// A text for the stub: UTF-8 in, code page and CR LF out.
std::string StubText(const std::string &utf8, const CreateOptions &options,
                     const std::string &what) {
  return ToCrLf(ToCodePage(WithoutByteOrderMark(utf8), options.codePage, what));
}

PackageTexts MakeTexts(const CreateOptions &options) {
  PackageTexts texts;
  if (options.title) texts.title = StubText(*options.title, options, "the title");
  if (texts.title.size() > 255) throw PackError("the title is longer than 255 bytes");
  if (options.welcomeText) {
    texts.welcomeText = StubText(*options.welcomeText, options, "the welcome text");
  } else if (options.welcomeFile) {
    texts.welcomeText =
        StubText(ReadWholeFile(*options.welcomeFile, kMaxPackageSize), options, *options.welcomeFile);
  }
  if (options.licenceFile) {
    texts.licenceText =
        StubText(ReadWholeFile(*options.licenceFile, kMaxPackageSize), options, *options.licenceFile);
  }
  // An empty text is no text to the stub: the licence dialog would silently
  // not appear, and a package without welcome text installs unattended.
  if ((options.welcomeText || options.welcomeFile) && texts.welcomeText.empty()) {
    throw PackError("the welcome text is empty; without --welcome or --welcome-file the package "
                    "installs unattended, which is what an empty text would do");
  }
  if (options.licenceFile && texts.licenceText.empty()) {
    throw PackError("the licence file " + *options.licenceFile +
                    " is empty: the stub would not show the licence at all");
  }
  // The header's stored password stays empty: anyone holding the package
  // could read it back.
  return texts;
}

std::string Lower(std::string text) {
  for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string WithBackslashes(std::string name) {
  for (char &c : name) {
    if (c == '/') c = '\\';
  }
  return name;
}

bool IsTopLevelInf(const std::string &name) {
  return name.find_first_of("/\\") == std::string::npos && name.size() > 4 &&
         Lower(name.substr(name.size() - 4)) == ".inf";
}

// The INF file the stub hands to the installer, named as in the archive
// (Windows paths: '\' between folders).
std::string ChooseInf(const std::vector<std::string> &names, const CreateOptions &options) {
  std::string chosen;
  if (options.infName) {
    std::string wanted = ToCodePage(*options.infName, options.codePage, "the INF name");
    for (const std::string &name : names) {
      if (Lower(WithBackslashes(name)) == Lower(WithBackslashes(wanted))) chosen = name;
    }
    if (chosen.empty())
      throw PackError("the INF file " + *options.infName + " is not in the archive");
  } else {
    std::vector<std::string> found;
    for (const std::string &name : names) {
      if (IsTopLevelInf(name)) found.push_back(name);
    }
    if (found.empty())
      throw PackError("no .inf file at the top of the archive (name one with --inf)");
    if (found.size() > 1) {
      throw PackError("several .inf files at the top of the archive (" + found[0] + ", " +
                      found[1] + ", ...): name one with --inf");
    }
    chosen = found[0];
  }
  chosen = WithBackslashes(chosen);
  if (chosen.size() > 255) throw PackError("the INF name is longer than 255 bytes");
  return chosen;
}

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

std::string CheckedPassword(const CreateOptions &options) {
  std::string password = ToCodePage(*options.password, options.codePage, "the password");
  if (password.empty()) throw PackError("the password is empty");
  for (unsigned char c : password) {
    if (c < 0x20 || c == 0x7F) {
      throw PackError("the password holds a control character, which nobody can type into "
                      "the password dialog");
    }
  }
  if (password.size() > kMaxPasswordLength) {
    throw PackError("the password is longer than " + std::to_string(kMaxPasswordLength) +
                    " characters, more than the password dialog takes");
  }
  return password;
}

// Zips the folder into a scratch file and checks that what the zip
// library wrote is what the stub can walk.
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
    throw PackError("the archive written for " + options.source + " disagrees with itself: " +
                    disagreements[0]);
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

}  // namespace vantrel_pack
