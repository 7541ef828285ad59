// `vantrel-pack extract`: the stub's own loader and archive walk, run on the
// build machine through the host platform layer, with DIR as the temporary
// folder. What the stub would show goes to the standard streams: status
// lines to stdout, message boxes to stderr as "caption: text".
#include "archive/extract.h"

#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <optional>

#include "startup/entry.h"
#include "arguments.h"
#include "commands.h"
#include "pack_error.h"
#include "platform/driver.h"
#include "startup/package.h"
#include "startup/program_state.h"
#include "startup/text.h"
#include "ui/window_helpers.h"

namespace fs = std::filesystem;

namespace vantrel_pack {
namespace {

struct ExtractOptions {
  std::string package;
  std::string folder;
  std::optional<std::string> password;
};

ExtractOptions ParseExtractOptions(const std::vector<std::string> &args) {
  ExtractOptions options;
  std::vector<std::string> positional;
  Arguments in(args);
  while (in.Next()) {
    if (!in.IsOption()) {
      positional.push_back(in.Word());
    } else if (in.Name() == "-d" || in.Name() == "--dir") {
      options.folder = in.Value();
    } else if (in.Name() == "--password") {
      options.password = in.Value();
    } else {
      throw UsageError("unknown option " + in.Name());
    }
  }
  if (positional.empty()) throw UsageError("no package given");
  if (positional.size() > 1) throw UsageError("more than one package: " + positional[1]);
  if (options.folder.empty()) throw UsageError("no folder given (-d DIR)");
  options.package = positional[0];
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

// The user at the stub's dialogs: the password prompt is answered from
// --password, else from the terminal, else cancelled.
void ScriptTheUser(const ExtractOptions &options, std::ostream &err) {
  host::OnDialog("DLG_PASS", [&options, &err](const host::Dialog &d) {
    std::optional<std::string> password = options.password;
    if (!password && isatty(0)) password = PromptOnTerminal(err);
    if (!password) {
      d.Click(2);
      return;
    }
    d.Type(101, *password);
    d.Click(1);
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
// begins with.
class StatusPrinter {
 public:
  explicit StatusPrinter(std::ostream &out) : out_(out) {}
  void Flush() {
    std::vector<std::string> lines = host::TextHistory("DLG_MAIN", 3002);
    for (; printed_ < lines.size(); ++printed_) {
      std::string line = lines[printed_];
      if (line.compare(0, 2, "\r\n") == 0) line.erase(0, 2);
      out_ << line << "\n";
    }
    out_.flush();
  }

 private:
  std::ostream &out_;
  size_t printed_ = 0;
};

INT_PTR CALLBACK ExtractDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && LOWORD(wParam) == 2) EndDialog(dialog, 2);
  return FALSE;
}

void PrepareProgramState() {
  state = ProgramState{};
  InitProgramState();
}

// Where the stub's own temporary folder lies: DIR, under a drive of its
// own (see RunExtract).
const char kRebuildFolder[] = "T:\\$Vantrel.Tmp";

// The stub's exit sequence, less the removal of what was extracted: the
// package is closed, a rebuilt package file deleted (also after a rebuild
// that failed) and its folder removed when empty.
void CloseThePackage() {
  if (state.packageFile && state.packageFile != INVALID_HANDLE_VALUE) {
    CloseHandle(state.packageFile);
  }
  if (state.rebuiltPath.length) DeleteFileA(state.rebuiltPath.text);
  RemoveDirectoryA(kRebuildFolder);
}

// The load and the walk as one process of the stub; true when the walk
// ran and succeeded. An integrity failure or a fatal error ends the process
// before that.
bool RunStub(const std::string &folderWindows, StatusPrinter &status) {
  bool extracted = false;
  host::RunAsProcess([&] {
    PrepareProgramState();
    if (!LoadPackage()) return 1;
    // A multi-part package has been rebuilt in the stub's own temporary
    // folder; the members go straight into DIR.
    CopyBytes(state.tempDir, folderWindows.c_str(), DWORD(folderWindows.size() + 1));
    RunModalDialog("DLG_Main", ExtractDlgProc);
    extracted = state.extractOk;
    return 0;
  });
  status.Flush();
  CloseThePackage();
  return extracted;
}

// The Windows name of a POSIX path through Z:, the POSIX root.
std::string ThroughZ(const std::string &posix) {
  std::string path = "Z:" + posix;
  for (char &c : path) {
    if (c == '/') c = '\\';
  }
  while (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

const char *ExtractHelp() {
  return "usage: vantrel-pack extract PACKAGE -d DIR [--password TEXT]\n"
         "  Extracts the package's archive into DIR (made when missing) with the\n"
         "  stub's own loader and archive walk. Status lines go to stdout, the\n"
         "  stub's message boxes to stderr as \"caption: text\". An encrypted member\n"
         "  takes --password, else a password typed at the terminal; without\n"
         "  either the prompt counts as cancelled. For a package in parts, name\n"
         "  the first part: the others are read from beside it.\n"
         "  Exit status 0 exactly when the extraction succeeded.\n";
}

int RunExtract(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  ExtractOptions options = ParseExtractOptions(args);
  std::error_code ec;
  if (!fs::is_regular_file(options.package, ec)) throw PackError("cannot read " + options.package);
  fs::create_directories(options.folder, ec);
  if (!fs::is_directory(options.folder))
    throw PackError("cannot make the folder " + options.folder);
  std::string package = fs::absolute(options.package).lexically_normal().string();
  std::string folder = fs::canonical(options.folder).string();

  host::Reset();
  std::string folderWindows = ThroughZ(folder);
  if (folderWindows.size() + 2 >= kPathBufferSize) throw PackError("the folder's path is too long");
  host::SetModuleFileName(ThroughZ(package));
  // The stub's own temporary folder, where a multi-part package is rebuilt,
  // lies in DIR too: a drive of its own keeps its name short and free of
  // spaces, so the stub does not fall back to the system folder.
  host::MapDrive('T', folder);
  host::SetTempPath("T:\\");
  host::SetSystemDirectory("T:\\");
  host::SetCurrentDirectory(folderWindows);
  ScriptTheUser(options, err);
  StatusPrinter status(out);
  host::OnPump([&status] { status.Flush(); });

  bool extracted = RunStub(folderWindows, status);
  host::Reset();
  state = ProgramState{};
  return extracted ? 0 : 1;
}

}  // namespace vantrel_pack
