// `vantrel-pack inf`: writes an INF file that installs a folder.
#include <filesystem>
#include <fstream>

#include "arguments.h"
#include "commands.h"
#include "folder_source.h"
#include "inf_check.h"
#include "inf_file.h"
#include "inf_roads.h"
#include "inf_writer.h"
#include "pack_error.h"
#include "text_codec.h"

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
  int codePage = 1252;
};

using Flag = bool InfOptions::*;
using Text = std::string InfOptions::*;

// The options that switch something on.
const OptionRow<Flag> kFlags[] = {
    {"--advpack", &InfOptions::advpack},
    {"--force", &InfOptions::force},
};

// The options whose value is kept as it is given.
const OptionRow<Text> kTexts[] = {
    {"-o", &InfOptions::output},
    {"--output", &InfOptions::output},
    {"--version", &InfOptions::version},
    {"--publisher", &InfOptions::publisher},
    {"--dest", &InfOptions::destination},
};

InfOptions ParseInfOptions(const std::vector<std::string> &args) {
  InfOptions options;
  bool haveName = false;
  Arguments in(args);
  while (in.NextOption()) {
    const std::string name = in.Name();
    if (name == "--name") {
      options.name = in.Value();
      haveName = true;
    } else if (auto text = OptionNamed(kTexts, name)) {
      options.*text = in.Value();
    } else if (name == "--shortcut") {
      std::string value = in.Value();
      size_t equals = value.find('=');
      if (equals == std::string::npos || equals == 0 || equals + 1 == value.size()) {
        throw UsageError("--shortcut takes NAME=PROGRAM, such as \"Acme Mines=mines.exe\"");
      }
      options.shortcuts.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    } else if (name == "--codepage") {
      options.codePage = int(ParseNumber(in.Value(), 1, 65535, "--codepage"));
    } else if (auto flag = OptionNamed(kFlags, name)) {
      in.NoValue();
      options.*flag = true;
    } else {
      throw UsageError("unknown option " + name);
    }
  }
  if (!haveName || options.name.empty()) throw UsageError("no application name (--name NAME)");
  options.folder = in.OnlyPositional("no FOLDER", "FOLDER");
  return options;
}

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
  for (const auto &shortcut : options.shortcuts) {
    plan.shortcuts.push_back({ToPackage(shortcut.first, options, "--shortcut"),
                              ToPackage(shortcut.second, options, "--shortcut")});
  }
  std::vector<std::string> otherInfs;
  for (const SourceFile &file : files) {
    if (InfFold(file.name) == InfFold(infName)) continue;
    plan.files.push_back(file.name);
    bool topLevel = file.name.find('/') == std::string::npos;
    if (topLevel && InfFold(file.name).size() > 4 &&
        InfFold(file.name).compare(file.name.size() - 4, 4, ".inf") == 0) {
      otherInfs.push_back(file.name);
    }
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
  InfSubject subject{plan.infName, text, plan.files, options.advpack};
  subject.members.push_back(plan.infName);
  for (const InfFinding &finding : CheckInf(subject)) {
    if (finding.severity == InfFinding::kNote) continue;
    throw PackError("the INF written for " + options.folder +
                    " fails its own check: " + FromCodePage(finding.text, options.codePage));
  }
}

}  // namespace

const char *InfHelp() {
  return R"(usage: vantrel-pack inf --name NAME [options] FOLDER

Writes an INF file that installs FOLDER: every file, with its sub-folder, into
the destination; Start-menu shortcuts; an Add/Remove Programs entry whose
uninstall removes the files, shortcuts and registry entries again; and a copy
of the INF in the system's INF folder for that uninstall. The INF carries the
sections of both roads: setupapi (NT family) and setupx (Windows 95/98), or
with --advpack advpack's on both. Then make the package from the same folder:

  vantrel-pack inf --name "Acme Mines" --shortcut "Acme Mines=mines.exe" app
  vantrel-pack create -o setup.exe --title "Acme Mines" app

  -o, --output FILE       the INF to write, at the top of FOLDER or outside
                          it; default: FOLDER/<8.3 name made from NAME>.inf
  --name NAME             the application's name: Add/Remove Programs entry,
                          Start-menu folder and default destination folder
  --version TEXT          the version shown in Add/Remove Programs
  --publisher TEXT        the publisher shown in Add/Remove Programs
  --dest FOLDER           a folder under Program Files (default: NAME)
  --dest DIRID[,FOLDER]   or a folder by directory id, such as 24,Acme (the
                          root of the system drive) or 10,Acme (the Windows
                          folder); ids of 16384 and above exist only on the
                          NT family
  --shortcut NAME=PROGRAM a Start-menu shortcut NAME to PROGRAM, a file of
                          FOLDER (such as bin/mines.exe); may be repeated
  --advpack               write the advpack sections (for create --advpack)
  --codepage N            the package's ANSI code page (default 1252)
  --force                 replace an existing output file

Exit status: 0 written, 1 bad input (nothing written), 2 bad command line.
)";
}

int RunInf(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) {
  InfOptions options = ParseInfOptions(args);
  if (!fs::is_directory(options.folder)) throw PackError(options.folder + " is not a folder");
  std::string wanted =
      options.output.empty()
          ? ShortInfName(ToPackage(options.name, options, "--name"))
          : ToPackage(fs::path(options.output).filename().string(), options, "the INF's name");
  for (const InfFinding &finding : InfNameFindings(options.advpack, wanted)) {
    std::string text = FromCodePage(finding.text, options.codePage);
    if (finding.severity == InfFinding::kError) throw PackError(text);
    err << "vantrel-pack inf: warning: " << text << "\n";
  }
  fs::path output = OutputPath(options, FromCodePage(wanted, options.codePage));
  if (fs::exists(output) && !options.force) {
    throw PackError(output.string() + " exists (--force replaces it)");
  }
  std::vector<SourceFile> files = CollectFolder(options.folder, options.codePage);
  InfPlan plan = MakePlan(options, wanted, files, err);
  if (plan.files.empty()) throw PackError(options.folder + " holds no files to install");
  std::string text = WriteInf(plan);
  SelfCheck(text, plan, options);

  fs::path scratch = output;
  scratch += ".part";
  {
    std::ofstream file(scratch, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) {
      fs::remove(scratch);
      throw PackError("cannot write " + scratch.string());
    }
  }
  std::error_code error;
  fs::rename(scratch, output, error);
  if (error) {
    fs::remove(scratch);
    throw PackError("cannot write " + output.string() + ": " + error.message());
  }
  out << output.string() << ": installs " << plan.files.size() << " files, "
      << plan.shortcuts.size() << (plan.shortcuts.size() == 1 ? " shortcut" : " shortcuts")
      << "; next: vantrel-pack create -o setup.exe" << (options.advpack ? " --advpack " : " ")
      << options.folder << "\n";
  return 0;
}

}  // namespace vantrel_pack
