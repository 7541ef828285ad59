// `vantrel-pack inf`: writes an INF file that installs a folder.
#include <filesystem>
#include <fstream>

#include "cli/arguments.h"
#include "cli/errors.h"
#include "cli/pending_output.h"
#include "cli/text.h"
#include "commands.h"
#include "inf/check.h"
#include "inf/file.h"
#include "inf/roads.h"
#include "inf/writer.h"
#include "zip/folder_source.h"
#include "zip/windows_names.h"

namespace vantrel_pack {
namespace {

namespace fs = std::filesystem;

struct InfOptions {
  std::string folder;
  std::string output;
  std::string name, version, publisher, destination;
  std::vector<std::pair<std::string, std::string>> shortcuts;
  bool advpack = false;
  bool force = false;
  unsigned targets = kTargetsAll;
  int codePage = 1252;
};

// The options of inf, each with its help.
const Option<InfOptions> kInfOptions[] = {
    {"-o, --output", "FILE",
     "the INF to write, at the top of FOLDER or outside\n"
     "it; default: FOLDER/<8.3 name made from NAME>.inf",
     Keep<&InfOptions::output>},
    {"--name", "NAME",
     "the application's name: Add/Remove Programs entry,\n"
     "Start-menu folder and default destination folder",
     Keep<&InfOptions::name>},
    {"--version", "TEXT", "the version shown in Add/Remove Programs",
     Keep<&InfOptions::version>},
    {"--publisher", "TEXT", "the publisher shown in Add/Remove Programs",
     Keep<&InfOptions::publisher>},
    {"--dest", "FOLDER", "a folder under Program Files (default: NAME)",
     Keep<&InfOptions::destination>},
    {"--dest", "DIRID[,FOLDER]",
     "or a folder by directory id, such as 24,Acme (the\n"
     "root of the system drive) or 10,Acme (the Windows\n"
     "folder); ids of 16384 and above exist only on the\n"
     "NT family",
     nullptr},
    {"--shortcut", "NAME=PROGRAM",
     "a Start-menu shortcut NAME to PROGRAM, a file of\n"
     "FOLDER (such as bin/mines.exe); may be repeated",
     [](InfOptions &o, const std::string &v, const std::string &) {
       size_t equals = v.find('=');
       if (equals == std::string::npos || equals == 0 || equals + 1 == v.size()) {
         throw UsageError("--shortcut takes NAME=PROGRAM, such as \"Acme Mines=mines.exe\"");
       }
       o.shortcuts.emplace_back(v.substr(0, equals), v.substr(equals + 1));
     }},
    {"--advpack", nullptr, "write the advpack sections (for create --advpack)",
     Switch<&InfOptions::advpack>},
    {"--targets", "nt|9x|all",
     "write only the sections of the NT family or of\n"
     "Windows 95/98 (default all: both)",
     [](InfOptions &o, const std::string &v, const std::string &name) {
       o.targets = ParseTargets(v, name);
     }},
    {"--codepage", "N", "the package's ANSI code page (default 1252)", ApplyCodePage<InfOptions>},
    {"--force", nullptr, "replace an existing output file",
     Switch<&InfOptions::force>},
};

// The INF belongs at the top of the folder, where `create` looks for it
// and where its [SourceDisksFiles] paths start.
fs::path OutputPath(const InfOptions &options, const std::string &infName) {
  fs::path folder = fs::weakly_canonical(options.folder);
  if (options.output.empty()) return folder / infName;
  fs::path output = fs::weakly_canonical(options.output);
  if (fs::is_directory(output)) throw PackError(options.output + " is a folder");
  fs::path parent = output.parent_path();
  auto inside = std::mismatch(folder.begin(), folder.end(), parent.begin(), parent.end());
  if (inside.first == folder.end() && parent != folder) {
    throw PackError(options.output + " lies in a sub-folder of " + options.folder +
                    ": the INF belongs at the top of the folder it installs");
  }
  return output;
}

// A word the user can paste into a POSIX shell: as it is when it holds
// nothing the shell would read, else in single quotes.
std::string ShellWord(const std::string &word) {
  if (!word.empty() && word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                              "0123456789_./-+=:,") == std::string::npos) {
    return word;
  }
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ToPackage(const std::string &utf8, const InfOptions &options, const std::string &what) {
  return ToCodePage(utf8, options.codePage, what);
}

InfPlan MakePlan(const InfOptions &options, const std::string &infName,
                 const std::vector<SourceFile> &files, std::ostream &err) {
  InfPlan plan;
  plan.infName = infName;
  plan.name = ToPackage(options.name, options, "--name");
  plan.version = ToPackage(options.version, options, "--version");
  plan.publisher = ToPackage(options.publisher, options, "--publisher");
  plan.destination = ToPackage(options.destination, options, "--dest");
  plan.advpack = options.advpack;
  plan.targets = options.targets;
  plan.codePage = options.codePage;
  for (const auto &shortcut : options.shortcuts) {
    plan.shortcuts.push_back({ToPackage(shortcut.first, options, "--shortcut"),
                              ToPackage(shortcut.second, options, "--shortcut")});
  }
  std::vector<std::string> otherInfs;
  const WindowsNames windows(options.codePage);
  for (const SourceFile &file : files) {
    if (windows.Key(file.name) == windows.Key(infName)) continue;
    plan.files.push_back(file.name);
    if (IsTopLevelInf(file.name)) otherInfs.push_back(file.name);
  }
  for (const std::string &other : otherInfs) {
    err << "vantrel-pack inf: warning: the folder also holds "
        << FromCodePage(other, options.codePage) << ": give create --inf "
        << FromCodePage(infName, options.codePage) << "\n";
  }
  return plan;
}

// The INF written here must pass create's checks: anything else is a fault
// of this program, reported before the file is written.
void SelfCheck(const std::string &text, const InfPlan &plan, const InfOptions &options) {
  InfSubject subject{plan.infName, text, plan.files, options.advpack, options.targets};
  subject.codePage = options.codePage;
  subject.members.push_back(plan.infName);
  for (const InfFinding &finding : CheckInf(subject)) {
    if (finding.severity == InfFinding::kNote) continue;
    throw PackError("the INF written for " + options.folder +
                    " fails its own check: " + FromCodePage(finding.text, options.codePage));
  }
}

}  // namespace

const char *InfHelp() {
  static const std::string help = R"(usage: vantrel-pack inf --name NAME [options] FOLDER

Writes an INF file that installs FOLDER: every file, with its sub-folder, into
the destination; Start-menu shortcuts; an Add/Remove Programs entry whose
uninstall removes the files, shortcuts and registry entries again; and a copy
of the INF in the system's INF folder for that uninstall. The INF carries the
sections of both roads: setupapi (NT family) and setupx (Windows 95/98), or
with --advpack advpack's on both; with --targets those of one road only. Then make the package from the same folder:

  vantrel-pack inf --name "Acme Mines" --shortcut "Acme Mines=mines.exe" app
  vantrel-pack create -o setup.exe --title "Acme Mines" app

)" + OptionsHelp(kInfOptions, 24) + R"(
Exit status: 0 written, 1 bad input (nothing written), 2 bad command line.
)";
  return help.c_str();
}

int RunInf(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  InfOptions options;
  std::vector<std::string> positional = ParseOptions(args, kInfOptions, options);
  if (options.name.empty()) throw UsageError("no application name (--name NAME)");
  options.folder = OnlyPositional(positional, "no FOLDER", "FOLDER");
  if (!fs::is_directory(options.folder)) throw PackError(options.folder + " is not a folder");
  bool avoidedDevice = false;
  std::string wanted =
      options.output.empty()
          ? ShortInfName(ToPackage(options.name, options, "--name"), &avoidedDevice)
          : ToPackage(fs::path(options.output).filename().string(), options, "the INF's name");
  if (avoidedDevice) {
    err << "vantrel-pack inf: note: the INF is called " << FromCodePage(wanted, options.codePage)
        << ", since a name made of --name alone would be a device's on Windows (-o names it "
           "otherwise)\n";
  }
  if (IsDeviceInfName(wanted)) {
    throw PackError(options.output + " is a device name on Windows, which would read or write "
                    "the device instead of the file: choose another name with -o");
  }
  for (const InfFinding &finding : InfNameFindings(options.advpack, wanted)) {
    if (!(finding.families & options.targets)) continue;  // a road not written
    std::string text = FromCodePage(finding.text, options.codePage);
    if (finding.severity == InfFinding::kError) throw PackError(text);
    err << "vantrel-pack inf: warning: " << text << "\n";
  }
  fs::path output = OutputPath(options, FromCodePage(wanted, options.codePage));
  // A link there, even one that leads nowhere, is a file of the user's.
  if (fs::exists(fs::symlink_status(output)) && !options.force) {
    throw PackError(output.string() + " exists (--force replaces it)");
  }
  std::vector<SourceFile> files = CollectFolder(options.folder, options.codePage);
  InfPlan plan = MakePlan(options, wanted, files, err);
  if (plan.files.empty()) throw PackError(options.folder + " holds no files to install");
  std::string text = WriteInf(plan);
  SelfCheck(text, plan, options);

  PendingOutput pending;
  WriteAll(pending.Create(output.string()), text.data(), text.size(), output.string());
  pending.Commit();
  out << output.string() << ": installs " << plan.files.size() << " files, "
      << plan.shortcuts.size() << (plan.shortcuts.size() == 1 ? " shortcut" : " shortcuts")
      << "; next: vantrel-pack create -o setup.exe --title " << ShellWord(options.name)
      << (options.advpack ? " --advpack" : "")
      // The Signature says "NT family only"; nothing says "95/98 only".
      << (options.targets == kTarget9x ? " --targets 9x " : " ") << ShellWord(options.folder)
      << "\n";
  return 0;
}

}  // namespace vantrel_pack
