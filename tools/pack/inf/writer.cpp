#include "writer.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <sstream>

#include "cli/errors.h"
#include "cli/text.h"
#include "cli/windows_path.h"
#include "file.h"
#include "roads.h"
#include "zip/windows_names.h"

namespace vantrel_pack {

const char kWrittenInfMark[] = ": installation written by vantrel-pack inf.";

namespace {

// Directory ids: the root of the system drive, the Windows folder, the
// system folder, the INF folder, and (setupapi only) Program Files and the
// all-users Start-menu programs.
const char kDriveRoot[] = "24";
const char kWindowsFolder[] = "10";
const char kSystemFolder[] = "11";
const char kInfFolder[] = "17";
const char kProgramFiles[] = "16422";
const char kCommonPrograms[] = "16407";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// Literal text for an INF line: a percent sign would start a %name%.
std::string Percent(const std::string &literal) {
  std::string out;
  for (char c : literal) out += c == '%' ? "%%" : std::string(1, c);
  return out;
}

// INF text in quotes, with "" for a quote inside.
std::string InQuotes(const std::string &text) {
  std::string out = "\"";
  for (char c : text) out += c == '"' ? "\"\"" : std::string(1, c);
  return out + "\"";
}

// A literal value that nothing in it can turn into syntax.
std::string Quoted(const std::string &literal) { return InQuotes(Percent(literal)); }

// Plain names stay as they are; anything else is quoted.
std::string Field(const std::string &value) {
  bool plain = !value.empty();
  for (unsigned char c : value) {
    plain = plain &&
            (std::isalnum(c) || std::string("._-$~!#&'()^{}`").find(char(c)) != std::string::npos);
  }
  return plain ? value : Quoted(value);
}

// Where one road puts the application: a directory id and a sub-folder.
struct Place {
  std::string dirid;
  std::string folder;
  // As INF text: the directory id for the installer to replace, the rest literal.
  std::string Path(const std::string &sub = "") const {
    return JoinWindowsPath("%" + dirid + "%", Percent(JoinWindowsPath(folder, sub)));
  }
};

bool IsDirid(const std::string &text) {
  return !text.empty() && std::all_of(text.begin(), text.end(),
                                      [](unsigned char c) { return std::isdigit(c) != 0; });
}

void CheckFolderName(const std::string &name, const std::string &what) {
  if (name.empty()) throw PackError(what + " is empty");
  for (unsigned char c : name) {
    if (c < 0x20 || std::string("<>:\"|?*/\\%").find(char(c)) != std::string::npos) {
      throw PackError(what + " \"" + name +
                      "\" names a folder or file: it cannot hold < > : \" | ? * / \\ or %");
    }
  }
  if (name.back() == '.' || name.back() == ' ' || name.front() == ' ') {
    throw PackError(what + " \"" + name + "\" cannot begin with a space or end in a dot or space");
  }
}

void CheckText(const std::string &text, const std::string &what) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == '"' || c == '%') {
      throw PackError(what + " \"" + text + "\" cannot hold quotes, % or control characters");
    }
  }
}

// The NT family puts programs under Program Files by its directory id;
// Windows 95/98 have no such id, and their Program Files is on the system
// drive.
void ChooseDestinations(const InfPlan &plan, Place &nt, Place &w9x) {
  std::string dest = plan.destination;
  size_t comma = dest.find(',');
  if (IsDirid(dest.substr(0, comma))) {
    std::string folder = comma == std::string::npos ? "" : WithBackslashes(dest.substr(comma + 1));
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    while (!folder.empty() && folder.front() == '\\') folder.erase(0, 1);
    nt = w9x = Place{dest.substr(0, comma), folder};
  } else {
    std::string folder = dest.empty() ? plan.name : WithBackslashes(dest);
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    if (folder.empty() || folder[0] == '\\' || (folder.size() > 1 && folder[1] == ':')) {
      throw PackError("--dest \"" + dest +
                      "\" must be a folder under Program Files (such as "
                      "\"Acme\\Mines\") or a directory id with a folder (such as \"24,Acme\")");
    }
    nt = Place{kProgramFiles, folder};
    w9x = Place{kDriveRoot, JoinWindowsPath("Program Files", folder)};
  }
  for (const Place *place : {&nt, &w9x}) {
    std::string rest = place->folder;
    while (!rest.empty()) {
      size_t slash = rest.find('\\');
      CheckFolderName(rest.substr(0, slash), "the destination folder");
      rest = slash == std::string::npos ? "" : rest.substr(slash + 1);
    }
  }
}

struct Folder {
  std::string path;  // '\' between folders, "" for the top
  std::vector<std::string> names;
};

// The files by folder, the top first; refuses two files of one name, which
// [SourceDisksFiles] can list only once (the INF itself is listed too).
std::vector<Folder> FoldersOf(const std::vector<std::string> &files, const std::string &infName,
                              const WindowsNames &windows) {
  std::map<std::string, Folder> byPath;
  std::map<std::string, std::string> byName = {{windows.Key(infName), infName}};
  for (const std::string &file : files) {
    std::string path = WithBackslashes(file);
    auto seen = byName.emplace(windows.Key(WindowsFileName(path)), path);
    if (!seen.second) {
      throw PackError("the files \"" + seen.first->second + "\" and \"" + path +
                      "\" have the same name, which an INF's [SourceDisksFiles] can list only "
                      "once: rename one of them");
    }
    Folder &folder = byPath[WindowsFolderOf(path)];
    folder.path = WindowsFolderOf(path);
    folder.names.push_back(WindowsFileName(path));
  }
  std::vector<Folder> folders;
  for (auto &entry : byPath) {
    std::sort(entry.second.names.begin(), entry.second.names.end());
    folders.push_back(entry.second);
  }
  return folders;  // the map's order puts "" (the top) first
}

class Writer {
 public:
  explicit Writer(const InfPlan &plan)
      : plan_(plan),
        windows_(plan.codePage),
        folders_(FoldersOf(plan.files, plan.infName, windows_)) {
    CheckFolderName(plan.name, "--name");
    CheckText(plan.version, "--version");
    CheckText(plan.publisher, "--publisher");
    ChooseDestinations(plan, nt_, w9x_);
    // Separate file lists only when both roads are written and their
    // folders differ.
    split_ = plan.targets == kTargetsAll &&
             (nt_.dirid != w9x_.dirid || nt_.folder != w9x_.folder);
    for (const InfShortcut &shortcut : plan.shortcuts) {
      CheckFolderName(shortcut.name, "the shortcut name");
      std::string target = WithBackslashes(shortcut.target);
      bool found = false;
      for (const std::string &file : plan.files)
        found = found || windows_.Key(file) == windows_.Key(target);
      if (!found) {
        throw PackError("the shortcut \"" + shortcut.name + "\" starts \"" + shortcut.target +
                        "\", which is not in the folder");
      }
      if (!seenLinks_.insert(FoldCase(shortcut.name)).second) {
        throw PackError("two shortcuts are called \"" + shortcut.name + "\"");
      }
    }
  }

  std::string Text() {
    Header();
    Version();
    InstallSections();
    UninstallSections();
    DestinationDirs();
    FileSections();
    RegistrySections();
    ShortcutSections();
    SourceSections();
    StringsSection();
    return out_.str();
  }

 private:
  // Output with CR LF line ends.
  void Line(const std::string &text = "") { out_ << text << "\r\n"; }
  void Section(const std::string &name, const std::string &comment = "") {
    Line();
    if (!comment.empty()) Line("; " + comment);
    Line("[" + name + "]");
  }

  std::string FilesSection(const std::string &road, size_t index) const {
    return "Files." + (split_ ? road + "." : std::string()) + std::to_string(index + 1);
  }
  std::string FileLists(const std::string &road) const {
    std::string lists;
    for (size_t i = 0; i < folders_.size(); ++i) lists += FilesSection(road, i) + ",";
    return lists + "InfCopy";
  }
  bool HasLinks() const { return !plan_.shortcuts.empty(); }
  bool TargetsNt() const { return plan_.targets & kTargetNt; }
  bool Targets9x() const { return plan_.targets & kTarget9x; }
  // The roads with file lists of their own: both when their folders
  // differ, else the one the lists are written for.
  std::vector<const char *> ListRoads() const {
    if (split_) return {"NT", "9x"};
    return {TargetsNt() ? "NT" : "9x"};
  }
  // Where the installation leaves its copy of this file.
  std::string InfCopyPath() const {
    return "%" + std::string(kInfFolder) + "%\\" + Percent(plan_.infName);
  }
  std::string Program(const Place &place, const InfShortcut &shortcut) const {
    return place.Path(WithBackslashes(shortcut.target));
  }

  void Header() {
    std::string title = plan_.name + (plan_.version.empty() ? "" : " " + plan_.version);
    Line("; " + title + kWrittenInfMark);
    Line(";");
    if (plan_.targets != kTargetsAll) {
      const bool nt = plan_.targets == kTargetNt;
      Line("; For " + TargetsText(plan_.targets) + " only: the setup program runs " +
           (plan_.advpack ? std::string("it through advpack.")
                          : nt ? "[DefaultInstall], which setupapi takes as" : "[DefaultInstall]."));
      if (nt && !plan_.advpack) Line("; [DefaultInstall.NTx86].");
    } else if (plan_.advpack) {
      Line("; The setup program runs it through advpack: [DefaultInstall2.ntx86] on the");
      Line("; NT family, [DefaultInstall2] on Windows 95/98, then [DefaultInstallX].");
    } else {
      Line("; The setup program runs [DefaultInstall]: setupapi takes");
      Line("; [DefaultInstall.NTx86] instead on the NT family, setupx runs [DefaultInstall]");
      Line("; itself on Windows 95/98.");
    }
    Line("; The installation copies this file into the INF folder; the Add/Remove");
    Line("; Programs entry runs its [DefaultUninstall] sections from there.");
  }

  void Version() {
    Section("Version");
    // Microsoft's signature for an INF only the NT family reads.
    Line(plan_.targets == kTargetNt ? "Signature=\"$Windows NT$\"" : "Signature=\"$CHICAGO$\"");
    if (plan_.advpack) Line("AdvancedINF=2.5");
  }

  void InstallSections() {
    const std::string nt = plan_.advpack ? "DefaultInstall2.ntx86" : "DefaultInstall.NTx86";
    const std::string w9x = plan_.advpack ? "DefaultInstall2" : "DefaultInstall";
    if (Targets9x()) {
      Section(w9x, "Windows 95/98");
      Line("CopyFiles=" + FileLists("9x"));
      Line("AddReg=" + std::string(plan_.advpack ? "" : "Entry,") + "Entry.9x");
      if (HasLinks()) Line("UpdateInis=Links.9x");
    }
    if (TargetsNt()) {
      Section(nt, "The NT family");
      Line("CopyFiles=" + FileLists("NT"));
      Line("AddReg=" + std::string(plan_.advpack ? "" : "Entry,") + "Entry.NT");
      if (HasLinks()) {
        // advpack does not make Start-menu items itself: setupapi does.
        Line(plan_.advpack ? "RunPostSetupCommands=Links.NT.Run" : "ProfileItems=" + LinkItems());
      }
    }
    if (plan_.advpack) {
      Section("DefaultInstallX", "advpack's second run, on every platform");
      Line("AddReg=Entry");
    }
  }

  std::string LinkItems() const {
    std::string items;
    for (size_t i = 0; i < plan_.shortcuts.size(); ++i) {
      items += (i ? "," : "") + std::string("Link.") + std::to_string(i + 1);
    }
    return items;
  }

  void UninstallSections() {
    if (Targets9x()) {
      Section("DefaultUninstall", "Windows 95/98, from the Add/Remove Programs entry");
      Line("DelFiles=" + FileLists("9x"));
      Line("DelReg=Entry.Remove");
      if (HasLinks()) Line("UpdateInis=Unlinks.9x");
      if (plan_.advpack) Line("RunPostSetupCommands=Folders.9x.Remove");
    }
    if (!TargetsNt()) return;
    Section("DefaultUninstall.NTx86", "The NT family, from the Add/Remove Programs entry");
    Line("DelFiles=" + FileLists("NT") + (HasLinks() ? ",Links.NT.Files" : ""));
    Line("DelReg=Entry.Remove");
    if (plan_.advpack) {
      Line("RunPostSetupCommands=Folders.NT.Remove");
    } else if (HasLinks()) {
      Line("ProfileItems=Group.Remove");
    }
  }

  void DestinationDirs() {
    Section("DestinationDirs");
    for (size_t i = 0; i < folders_.size(); ++i) {
      for (const char *road : ListRoads()) {
        const Place &place = std::string(road) == "NT" ? nt_ : w9x_;
        std::string folder = JoinWindowsPath(place.folder, folders_[i].path);
        Line(FilesSection(road, i) + "=" + place.dirid +
             (folder.empty() ? "" : "," + Field(folder)));
      }
    }
    Line(std::string("InfCopy=") + kInfFolder);
    if (HasLinks()) Line(std::string("Links.NT.Files=") + kCommonPrograms + ",%AppName%");
  }

  void FileSections() {
    for (size_t i = 0; i < folders_.size(); ++i) {
      const std::string where = folders_[i].path.empty() ? "the folder itself" : folders_[i].path;
      for (const char *road : ListRoads()) {
        Section(FilesSection(road, i), i == 0 && folders_[i].path.empty() ? "" : where);
        for (const std::string &name : folders_[i].names) Line(Field(name));
      }
    }
    Section("InfCopy");
    Line(Field(plan_.infName));
  }

  void Value(const std::string &name, const std::string &value) {
    Line("HKLM,%AppKey%," + name + ",," + value);
  }

  void RegistrySections() {
    Section("Entry", "The Add/Remove Programs entry");
    Value("DisplayName", "%AppName%");
    if (!plan_.version.empty()) Value("DisplayVersion", "%AppVersion%");
    if (!plan_.publisher.empty()) Value("Publisher", "%Publisher%");
    Line("HKLM,%AppKey%,NoModify,0x00010001,1");
    Line("HKLM,%AppKey%,NoRepair,0x00010001,1");
    for (const char *road : {"NT", "9x"}) {
      const bool isNT = std::string(road) == "NT";
      if (!(isNT ? TargetsNt() : Targets9x())) continue;
      const Place &place = isNT ? nt_ : w9x_;
      Section(std::string("Entry.") + road);
      Value("InstallLocation", InQuotes(place.Path()));
      Value("UninstallString", InQuotes(UninstallCommand(isNT)));
      if (HasLinks()) Value("DisplayIcon", InQuotes(Program(place, plan_.shortcuts[0])));
    }
    Section("Entry.Remove");
    Line("HKLM,%AppKey%");
  }

  // An installer program by its full path, in quotes: a program of that name
  // in whatever folder is current must never be the one that runs. The NT
  // family keeps rundll32.exe in the system folder, Windows 95/98 keep both
  // rundll programs in the Windows folder.
  static std::string SystemProgram(bool windowsNT, const char *program) {
    return "\"%" + std::string(windowsNT ? kSystemFolder : kWindowsFolder) + "%\\" + program + "\"";
  }

  // The command the Add/Remove Programs entry runs, as INF text.
  std::string UninstallCommand(bool windowsNT) const {
    std::string inf = InfCopyPath();
    if (plan_.advpack) {
      return SystemProgram(windowsNT, "rundll32.exe") + " advpack,LaunchINFSection " + inf + "," +
             (windowsNT ? "DefaultUninstall.NTx86" : "DefaultUninstall");
    }
    return (windowsNT ? SystemProgram(true, "rundll32.exe") + " setupapi"
                      : SystemProgram(false, "rundll.exe") + " setupx.dll") +
           ",InstallHinfSection DefaultUninstall 132 " + inf;
  }

  void ShortcutSections() {
    if (!HasLinks()) {
      if (plan_.advpack) FolderRemoval();
      return;
    }
    // Windows 95/98 make Start-menu items from SETUP.INI's [progman.groups]
    // once the installer is done.
    if (Targets9x()) Links9x();
    if (!TargetsNt()) {
      if (plan_.advpack) FolderRemoval();
      return;
    }
    if (plan_.advpack) {
      Section("Links.NT.Run", "advpack has setupapi make the Start-menu items");
      Line(InQuotes(SystemProgram(true, "rundll32.exe") +
                    " setupapi,InstallHinfSection Links.NT 132 " + InfCopyPath()));
      Section("Links.NT");
      Line("ProfileItems=" + LinkItems());
    }
    for (size_t i = 0; i < plan_.shortcuts.size(); ++i) {
      const InfShortcut &link = plan_.shortcuts[i];
      std::string target = WithBackslashes(link.target);
      std::string folder = JoinWindowsPath(nt_.folder, WindowsFolderOf(target));
      Section("Link." + std::to_string(i + 1));
      Line("Name=%Link" + std::to_string(i + 1) + "%");
      Line("CmdLine=" + nt_.dirid + "," + (folder.empty() ? "" : Field(folder)) + "," +
           Field(WindowsFileName(target)));
      Line("SubDir=%AppName%");
      Line("WorkingDir=" + nt_.dirid + (folder.empty() ? "" : "," + Field(folder)));
    }
    Section("Links.NT.Files");
    for (const InfShortcut &link : plan_.shortcuts) Line(Field(link.name + ".lnk"));
    if (plan_.advpack) {
      FolderRemoval();
    } else {
      Section("Group.Remove", "The Start-menu folder (setupapi does not remove folders otherwise)");
      Line("Name=%AppName%,6");
    }
  }

  void Links9x() {
    const std::string group = plan_.infName.substr(0, plan_.infName.find('.'));
    Section("Links.9x", "Windows 95/98: the shell makes these items from SETUP.INI");
    Line("setup.ini, progman.groups,, " + InQuotes(group + "=\"%AppName%\""));
    for (size_t i = 0; i < plan_.shortcuts.size(); ++i) {
      Line("setup.ini, " + group + ",, " +
           InQuotes("\"%Link" + std::to_string(i + 1) + "%\",\"" +
                    Program(w9x_, plan_.shortcuts[i]) + "\""));
    }
    Section("Unlinks.9x", "A link without a program is taken out of the folder");
    for (size_t i = 0; i < plan_.shortcuts.size(); ++i) {
      Line("setup.ini, " + group + ",, " + InQuotes("\"%Link" + std::to_string(i + 1) + "%\""));
    }
  }

  // advpack's uninstall runs commands: it removes the folders the files and
  // shortcuts leave, when they are empty (rd without /s removes nothing else).
  void FolderRemoval() {
    std::vector<std::string> nested;
    for (const Folder &folder : folders_) {
      std::string path = folder.path;
      while (!path.empty()) {
        if (std::find(nested.begin(), nested.end(), path) == nested.end()) nested.push_back(path);
        path = WindowsFolderOf(path);
      }
    }
    std::sort(nested.begin(), nested.end(), [](const std::string &a, const std::string &b) {
      return std::count(a.begin(), a.end(), '\\') > std::count(b.begin(), b.end(), '\\');
    });
    nested.push_back("");  // the application's folder itself, last
    if (Targets9x()) {
      Section("Folders.9x.Remove", "command.com runs one command at a time");
      for (const std::string &path : nested) {
        Line(InQuotes(SystemProgram(false, "command.com") + " /c rd \"" + w9x_.Path(path) + "\""));
      }
    }
    if (!TargetsNt()) return;
    Section("Folders.NT.Remove");
    std::string chain;
    for (const std::string &path : nested) {
      chain += (chain.empty() ? "" : " & ") + std::string("rd \"") + nt_.Path(path) + "\"";
    }
    if (HasLinks()) chain += " & rd \"%" + std::string(kCommonPrograms) + "%\\%AppName%\"";
    Line(InQuotes(SystemProgram(true, "cmd.exe") + " /c " + chain));
  }

  void SourceSections() {
    Section("SourceDisksNames");
    Line("1=%DiskName%,,,");
    Section("SourceDisksFiles");
    for (const Folder &folder : folders_) {
      for (const std::string &name : folder.names) {
        Line(Field(name) + "=1" + (folder.path.empty() ? "" : "," + Field(folder.path)));
      }
    }
    Line(Field(plan_.infName) + "=1");
  }

  void StringsSection() {
    Section("Strings");
    Line("AppName=" + Quoted(plan_.name));
    if (!plan_.version.empty()) Line("AppVersion=" + Quoted(plan_.version));
    if (!plan_.publisher.empty()) Line("Publisher=" + Quoted(plan_.publisher));
    Line("AppKey=" + Quoted(kUninstallKey + plan_.name));
    Line("DiskName=" + Quoted(plan_.name + " setup files"));
    for (size_t i = 0; i < plan_.shortcuts.size(); ++i) {
      Line("Link" + std::to_string(i + 1) + "=" + Quoted(plan_.shortcuts[i].name));
    }
  }

  const InfPlan &plan_;
  const WindowsNames windows_;
  std::vector<Folder> folders_;
  Place nt_, w9x_;
  bool split_ = false;
  std::set<std::string> seenLinks_;
  std::ostringstream out_;
};

}  // namespace

std::string WriteInf(const InfPlan &plan) { return Writer(plan).Text(); }

}  // namespace vantrel_pack
