// `vantrel-pack extract`: the stub's own loader and archive walk, run on the
// build machine through the host platform layer, with DIR as the temporary
// folder. What the stub would show goes to the standard streams: status
// lines to stdout, message boxes to stderr as "caption: text".
#include "archive/walker.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <optional>
#include <set>

#include "arguments.h"
#include "byte_source.h"
#include "commands.h"
#include "pack_error.h"
#include "package_format.h"
#include "platform/driver.h"
#include "progress.h"
#include "startup/package.h"
#include "core/program_state.h"
#include "core/text.h"
#include "stub_session.h"
#include "text_codec.h"
#include "ui/resource_ids.h"
#include "ui/window_helpers.h"
#include "zip_walk.h"

namespace fs = std::filesystem;

namespace vantrel_pack {
namespace {

// DIR's drive: the folder is mapped whole, so that its own name never
// passes through Windows path parsing (a '\' in it splits nothing).
const char kOutputDrive = 'O';

struct ExtractOptions {
  std::string package;
  std::string folder;
  std::optional<std::string> password;
  int codePage = 1252;
  bool quiet = false;
};

ExtractOptions ParseExtractOptions(const std::vector<std::string> &args) {
  ExtractOptions options;
  Arguments in(args);
  while (in.NextOption()) {
    if (in.Name() == "-d" || in.Name() == "--dir") {
      options.folder = in.Value();
    } else if (in.Name() == "--password") {
      options.password = in.Value();
    } else if (in.Name() == "--codepage") {
      options.codePage = int(ParseNumber(in.Value(), 1, 65535, "--codepage"));
    } else if (in.Name() == "-q" || in.Name() == "--quiet") {
      in.NoValue();
      options.quiet = true;
    } else {
      throw UsageError("unknown option " + in.Name());
    }
  }
  if (options.folder.empty()) throw UsageError("no folder given (-d DIR)");
  options.package = in.OnlyPositional("no package given", "package");
  return options;
}

// Reads a password from the terminal without echo; nullopt at end of input.
std::optional<std::string> PromptOnTerminal(std::ostream &err) {
  err << "Password: " << std::flush;
  termios saved{};
  bool quiet = tcgetattr(0, &saved) == 0;
  if (quiet) {
    termios silent = saved;
    silent.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(0, TCSAFLUSH, &silent);
  }
  std::string line;
  bool got = bool(std::getline(std::cin, line));
  if (quiet) tcsetattr(0, TCSAFLUSH, &saved);
  err << "\n";
  if (!got) return std::nullopt;
  return line;
}

// The password as the package's code page writes it: the stub compares the
// bytes the user types in that code page.
std::string InCodePage(const std::string &password, int codePage) {
  return ToCodePage(password, codePage, "the password");
}

// The user at the stub's dialogs: the password prompt is answered from
// --password, else from the terminal, else cancelled.
void ScriptTheUser(const ExtractOptions &options, std::ostream &err) {
  std::optional<std::string> given;
  if (options.password) given = InCodePage(*options.password, options.codePage);
  host::OnDialog("DLG_PASS", [given, &options, &err](const host::Dialog &d) {
    std::optional<std::string> password = given;
    if (!password && isatty(0)) {
      password = PromptOnTerminal(err);
      if (password) password = InCodePage(*password, options.codePage);
    }
    if (!password) {
      d.Click(IDC_PASSWORD_CANCEL);
      return;
    }
    d.Type(IDC_PASSWORD_EDIT, *password);
    d.Click(IDC_PASSWORD_OK);
  });
  host::OnMessageBox([&err](const host::MessageBoxRecord &box) {
    err << box.caption << ": " << box.text << "\n";
    // Nobody can insert another disk here: a prompt for a missing part is
    // answered with Cancel, which ends the rebuild.
    return (box.style & MB_OKCANCEL) ? IDCANCEL : IDOK;
  });
  host::OnDialog("DLG_MAIN", [](const host::Dialog &d) { ExtractArchive(d.window); });
}

// Prints the status lines shown since the last call, without the CR LF each
// begins with, and with DIR's own name where the stub shows its drive;
// --quiet prints none. Each member's line tells the progress display that
// the members before it are done.
class StatusPrinter {
 public:
  StatusPrinter(std::ostream &out, const std::string &folder, bool quiet)
      : out_(out), folder_(folder), quiet_(quiet) {}
  void Attach(Progress *progress) { progress_ = progress; }
  uint64_t MembersStarted() const { return membersStarted_; }
  // Only the events since the last call are looked at: a package of many
  // members must not cost a look at every earlier line for each new one.
  void Flush() {
    const std::vector<std::string> &events = host::Events();
    const std::string prefix = "text DLG_MAIN " + std::to_string(IDC_MAIN_TEXT) + ": ";
    std::vector<std::string> lines;
    for (; seen_ < events.size(); ++seen_) {
      if (events[seen_].compare(0, prefix.size(), prefix) == 0) {
        lines.push_back(events[seen_].substr(prefix.size()));
      }
    }
    if (lines.empty()) return;
    // The progress line makes way for the status lines and comes back under them.
    if (progress_ && !quiet_) progress_->Clear();
    for (std::string &line : lines) {
      if (line.compare(0, 2, "\r\n") == 0) line.erase(0, 2);
      if (line.find("Extracting: ") != std::string::npos) ++membersStarted_;
      if (quiet_) continue;
      const std::string drive = std::string(1, kOutputDrive) + ":\\";
      size_t at = line.find(drive);
      if (at != std::string::npos) {
        std::string rest = line.substr(at + drive.size());
        for (char &c : rest) c = c == '\\' ? '/' : c;
        line = line.substr(0, at) + folder_ + "/" + rest;
      }
      out_ << line << "\n";
    }
    out_.flush();
    if (progress_ && membersStarted_ > 0) progress_->SetMembersDone(membersStarted_ - 1);
  }

 private:
  std::ostream &out_;
  std::string folder_;
  bool quiet_;
  size_t seen_ = 0;
  uint64_t membersStarted_ = 0;
  Progress *progress_ = nullptr;
};

INT_PTR CALLBACK ExtractDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wParam) == IDC_CLOSE) EndDialog(dialog, IDC_CLOSE);
  return FALSE;
}

std::pair<dev_t, ino_t> FileIdentity(const struct stat &info) { return {info.st_dev, info.st_ino}; }

// The package's program file and every numbered part beside it.
std::set<std::pair<dev_t, ino_t>> PackageFiles(const std::string &package) {
  std::set<std::pair<dev_t, ino_t>> files;
  struct stat info;
  if (stat(package.c_str(), &info) == 0) files.insert(FileIdentity(info));
  for (int number = 1; number <= kMaxNumberedParts; ++number) {
    if (stat(PartName(package, number).c_str(), &info) == 0) files.insert(FileIdentity(info));
  }
  return files;
}

// A member that would replace the package being read, or one of its parts,
// is refused before anything is written: extracting into the package's own
// folder must not destroy the package.
void RefuseMembersOverThePackage(const ArchiveWalk &walk, const std::string &package,
                                 const std::string &folder) {
  std::set<std::pair<dev_t, ino_t>> packageFiles = PackageFiles(package);
  for (const WalkedMember &member : walk.members) {
    std::string path = folder + "/" + member.name;
    for (char &c : path) c = c == '\\' ? '/' : c;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && packageFiles.count(FileIdentity(info))) {
      throw PackError("member \"" + DisplayName(member.name) + "\" would overwrite " + path +
                      ", a file of the package itself; extract into another folder");
    }
  }
}

// The archive the loaded stub is about to walk: in the program file, or
// in the rebuilt file of a split package.
ArchiveWalk WalkLoadedArchive(const std::string &package) {
  PieceSet bytes;
  std::string rebuilt = host::PosixPath(state.rebuiltPath.text);
  if (!bytes.AddFile(state.rebuiltPath.length ? rebuilt : package)) return ArchiveWalk();
  return WalkArchive(bytes, uint64_t(state.archiveBase));
}

uint64_t UncompressedBytes(const ArchiveWalk &walk) {
  uint64_t total = 0;
  for (const WalkedMember &member : walk.members) total += member.uncompressedSize;
  return total;
}

// The load and the walk as one process of the stub; true when the walk
// ran and succeeded. An integrity failure or a fatal error ends the process
// before that. The progress display counts what the stub writes.
bool RunStub(StubSession &session, const std::string &folder, StatusPrinter &status,
             bool showProgress, std::ostream &err) {
  bool loaded = false;
  session.Run([&] { loaded = LoadPackage(); });
  if (!loaded) return false;
  ArchiveWalk walk = WalkLoadedArchive(session.PackagePath());
  RefuseMembersOverThePackage(walk, session.PackagePath(), folder);
  // A split package was rebuilt in the session's scratch folder; the
  // members go straight into DIR.
  std::string root = session.MapFolder(kOutputDrive, folder);
  CopyBytes(state.tempDir, root.c_str(), DWORD(root.size() + 1));
  Progress progress(err, showProgress, "extracting", UncompressedBytes(walk),
                    walk.members.size());
  status.Attach(&progress);
  host::OnWrite([&progress](DWORD bytes) { progress.AddBytes(bytes); });
  bool extracted = false;
  session.Run([&] {
    RunModalDialog("DLG_Main", ExtractDlgProc);
    extracted = state.extractOk;
  });
  host::OnWrite(nullptr);
  status.Flush();
  status.Attach(nullptr);
  uint64_t started = status.MembersStarted();
  progress.SetMembersDone(extracted || started == 0 ? started : started - 1);
  progress.Finish();
  return extracted;
}

bool IsRegularFile(const std::string &path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

const char *ExtractHelp() {
  return "usage: vantrel-pack extract PACKAGE -d DIR [--password TEXT] [--codepage N] [-q]\n"
         "  Extracts the package's archive into DIR (made when missing) with the\n"
         "  stub's own loader and archive walk. Status lines go to stdout, the\n"
         "  stub's message boxes to stderr as \"caption: text\". An encrypted member\n"
         "  takes --password, else a password typed at the terminal; without\n"
         "  either the prompt counts as cancelled. The password is typed in the\n"
         "  package's code page (--codepage, default 1252), as the stub's user\n"
         "  would. For a package in parts, name the first part: the others are\n"
         "  read from beside it and rebuilt in a scratch folder under $TMPDIR.\n"
         "  Nothing is written outside DIR; files already in DIR are replaced by\n"
         "  members of the same name, but symbolic links in DIR are never\n"
         "  followed, and a member that would replace the package itself is refused.\n"
         "  On a terminal, standard error shows the progress (bytes and members\n"
         "  done, the rate); -q, --quiet shows neither that nor the status lines.\n"
         "  Exit status 0 exactly when the extraction succeeded.\n";
}

int RunExtract(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  ExtractOptions options = ParseExtractOptions(args);
  if (!fs::exists(options.package)) throw PackError("cannot read " + options.package);
  if (!IsRegularFile(options.package)) {
    throw PackError(options.package + " is not a regular file");
  }
  std::error_code ec;
  fs::create_directories(options.folder, ec);
  if (!fs::is_directory(options.folder)) {
    throw PackError("cannot make the folder " + options.folder);
  }
  std::string folder = fs::canonical(options.folder).string();

  StubSession session(options.package);
  ScriptTheUser(options, err);
  StatusPrinter status(out, folder, options.quiet);
  host::OnPump([&status] { status.Flush(); });
  return RunStub(session, folder, status, ShowsProgress(err, options.quiet), err) ? 0 : 1;
}

}  // namespace vantrel_pack
