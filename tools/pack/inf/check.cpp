#include "check.h"

#include <map>
#include <set>

#include "cli/text.h"
#include "cli/windows_path.h"
#include "file.h"
#include "roads.h"
#include "zip/windows_names.h"

namespace vantrel_pack {
namespace {

// Errors after this many are counted as one: a hostile INF of a million
// bad references must not make a million messages.
const size_t kMostFindings = 200;

void Error(std::vector<InfFinding> &found, const std::string &text) {
  if (found.size() < kMostFindings) {
    found.push_back({InfFinding::kError, text});
  } else if (found.size() == kMostFindings) {
    found.push_back({InfFinding::kError, "more errors follow; these are the first " +
                                             std::to_string(kMostFindings)});
  }
}

std::string Bracketed(const std::string &name) { return "[" + name + "]"; }

std::string ListOf(const std::vector<std::string> &items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    out += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  }
  return out;
}

// A path inside the archive as Windows compares it (zip/windows_names.h):
// the installers open the file the stub made of a member, whichever of its
// names the INF writes.
std::string ArchiveKey(const std::string &path, const WindowsNames &windows) {
  return windows.Key(path);
}

// The sections each road of the package runs, with the road's words and
// the families whose roads run them.
struct RoadSection {
  std::string section;
  std::string road;
  unsigned families;
};

// The section setupapi runs for DefaultInstall on the NT family: it prefers
// the decorated forms.
std::string NtInstallSection(const InfFile &inf) {
  for (const char *name : {"DefaultInstall.NTx86", "DefaultInstall.NT"}) {
    if (inf.Find(name)) return name;
  }
  return "DefaultInstall";
}

std::vector<RoadSection> RequiredSections(const InfFile &inf, bool useAdvpack) {
  if (useAdvpack) {
    return {{"DefaultInstall2", "advpack runs it on Windows 95/98", kTarget9x},
            {"DefaultInstall2.ntx86", "advpack runs it on the NT family", kTargetNt},
            {"DefaultInstallX", "advpack's second run, on every platform", kTargetsAll}};
  }
  if (NtInstallSection(inf) != "DefaultInstall") {
    return {{"DefaultInstall", "setupx runs it on Windows 95/98", kTarget9x}};
  }
  return {{"DefaultInstall", "setupx runs it on Windows 95/98, setupapi on the NT family",
           kTargetsAll}};
}

// The install sections the roads of `targets` run, each with the families
// that run it.
std::vector<RoadSection> RunningSections(const InfFile &inf, bool useAdvpack, unsigned targets) {
  std::vector<RoadSection> runs;
  if (useAdvpack) {
    runs = {{"DefaultInstall2", "", kTarget9x},
            {"DefaultInstall2.ntx86", "", kTargetNt},
            {"DefaultInstallX", "", kTargetsAll}};
  } else {
    std::string nt = NtInstallSection(inf);
    if (nt == "DefaultInstall") {
      runs = {{nt, "", kTargetsAll}};
    } else {
      runs = {{"DefaultInstall", "", kTarget9x}, {nt, "", kTargetNt}};
    }
  }
  std::vector<RoadSection> running;
  for (const RoadSection &run : runs) {
    if ((run.families & targets) && inf.Find(run.section)) running.push_back(run);
  }
  return running;
}

void CheckSignature(const InfFile &inf, std::vector<InfFinding> &found) {
  const InfSection *version = inf.Find("Version");
  const InfEntry *signature = version ? version->Find("Signature") : nullptr;
  std::string value = signature ? FoldCase(signature->Value(0)) : "";
  if (value == "$chicago$" || value == "$windows 95$") return;
  if (value == "$windows nt$") {
    found.push_back({InfFinding::kError,
                     "[Version] Signature=\"$Windows NT$\" is refused by setupx on Windows 95/98: "
                     "write Signature=\"$CHICAGO$\"",
                     kTarget9x});
  } else {
    Error(found,
          "the INF has no [Version] Signature=\"$CHICAGO$\", without which the "
          "installers refuse it: add it");
  }
}

void CheckRoadSections(const InfFile &inf, bool useAdvpack, unsigned targets,
                       std::vector<InfFinding> &found) {
  // Sections only roads outside the targets run are reported apart, so
  // that they become a note.
  for (bool inTargets : {true, false}) {
    std::vector<std::string> missing;
    unsigned families = 0;
    for (const RoadSection &required : RequiredSections(inf, useAdvpack)) {
      if (((required.families & targets) != 0) != inTargets || inf.Find(required.section)) {
        continue;
      }
      missing.push_back(Bracketed(required.section) + " (" + required.road + ")");
      families |= required.families;
    }
    if (missing.empty()) continue;
    std::string text = "the INF lacks " + ListOf(missing);
    if (useAdvpack && inf.Find("DefaultInstall")) {
      text +=
          "; it has [DefaultInstall], the section of the setupapi and setupx roads: make the "
          "package without --advpack, or add the missing sections";
    } else if (!useAdvpack && (inf.Find("DefaultInstall2") || inf.Find("DefaultInstall2.ntx86"))) {
      text +=
          "; it has the advpack sections [DefaultInstall2...]: make the package with "
          "--advpack, or add [DefaultInstall]";
    } else {
      text += ": add " + std::string(missing.size() > 1 ? "them" : "it");
    }
    found.push_back({InfFinding::kError, text, families});
  }
}

// Directives whose values name sections of this INF.
const char *const kSectionDirectives[] = {"CopyFiles",
                                          "DelFiles",
                                          "RenFiles",
                                          "AddReg",
                                          "DelReg",
                                          "BitReg",
                                          "Ini2Reg",
                                          "UpdateInis",
                                          "UpdateIniFields",
                                          "ProfileItems",
                                          "RegisterDlls",
                                          "UnregisterDlls",
                                          "RunPreSetupCommands",
                                          "RunPostSetupCommands"};

bool IsSectionDirective(const std::string &key) {
  for (const char *directive : kSectionDirectives) {
    if (FoldCase(key) == FoldCase(directive)) return true;
  }
  return false;
}

// An install section the road runs that copies, adds, deletes, registers
// and runs nothing: the installer reports success and nothing happens.
// advpack's second run (DefaultInstallX) may well be empty.
void CheckEmptySections(const InfFile &inf, bool useAdvpack, unsigned roads,
                        std::vector<InfFinding> &found) {
  for (const RoadSection &run : RunningSections(inf, useAdvpack, roads)) {
    if (FoldCase(run.section) == "defaultinstallx") continue;
    bool acts = false;
    for (const InfEntry &entry : inf.Find(run.section)->entries) {
      std::string key = FoldCase(entry.key);
      bool directive = IsSectionDirective(entry.key) || key == "include" || key == "needs";
      for (const std::string &value : entry.values) {
        acts = acts || (entry.hasKey && directive && !value.empty());
      }
    }
    if (acts) continue;
    found.push_back({InfFinding::kError,
                     Bracketed(run.section) + ", which the installer runs on " +
                         TargetsText(run.families & roads) +
                         ", copies nothing, adds nothing and runs nothing, so the package would "
                         "install nothing there: give it CopyFiles=, AddReg= or the like" +
                         (run.families & kTarget9x
                              ? ", or make the package with --targets nt if it is not meant "
                                "for Windows 95/98"
                              : ""),
                     run.families});
  }
}

bool IsFileListDirective(const std::string &key) {
  std::string folded = FoldCase(key);
  return folded == "copyfiles" || folded == "delfiles" || folded == "renfiles";
}

bool IsDataSection(const std::string &name) {
  std::string folded = FoldCase(name);
  for (const char *data :
       {"version", "strings", "destinationdirs", "sourcedisksnames", "sourcedisksfiles"}) {
    if (folded == data || folded.rfind(std::string(data) + ".", 0) == 0) return true;
  }
  return false;
}

// The sections a directive's values name ("@file" copies one file; advpack
// allows a ":flags" suffix on its command sections).
std::vector<std::string> NamedSections(const InfEntry &entry) {
  std::vector<std::string> names;
  bool commands = FoldCase(entry.key).rfind("run", 0) == 0;
  for (std::string value : entry.values) {
    if (value.empty() || value[0] == '@') continue;
    if (commands) value = value.substr(0, value.find(':'));
    names.push_back(value);
  }
  return names;
}

void CheckReferences(const InfFile &inf, std::vector<InfFinding> &found) {
  const InfSection *destinations = inf.Find("DestinationDirs");
  std::set<std::string> destined;  // folded keys of [DestinationDirs]
  if (destinations) {
    for (const InfEntry &entry : destinations->entries) {
      if (entry.hasKey) destined.insert(FoldCase(entry.key));
    }
  }
  const bool defaultDestination = destined.count("defaultdestdir") != 0;
  std::set<std::string> reported;
  for (const InfSection &section : inf.sections) {
    if (IsDataSection(section.name)) continue;
    for (const InfEntry &entry : section.entries) {
      if (!entry.hasKey || !IsSectionDirective(entry.key)) continue;
      for (const std::string &name : NamedSections(entry)) {
        if (!inf.Find(name)) {
          Error(found, Bracketed(section.name) + " " + entry.key + "=" + name + " (line " +
                           std::to_string(entry.line) + ") names a section the INF does not " +
                           "have: add " + Bracketed(name) + " or correct the name");
          continue;
        }
        bool needsDestination = IsFileListDirective(entry.key) && !defaultDestination &&
                                !destined.count(FoldCase(name));
        if (needsDestination && reported.insert(FoldCase(name)).second) {
          Error(found, "[DestinationDirs] has no entry for " + Bracketed(name) + " (used by " +
                           entry.key + " in " + Bracketed(section.name) +
                           "), so the installer would take the system folder for it: add " + name +
                           "=DIRID,SUBFOLDER to [DestinationDirs]");
        }
      }
      for (const std::string &value : entry.values) {
        if (!value.empty() && value[0] == '@' && !defaultDestination &&
            reported.insert("@").second) {
          Error(found, Bracketed(section.name) + " " + entry.key + "=" + value +
                           " needs DefaultDestDir= in [DestinationDirs]: add it");
        }
      }
    }
  }
}

// Where the installers look for the source files of CopyFiles: the media
// [SourceDisksNames] lists, relative to the INF's own folder.
class SourceLayout {
 public:
  SourceLayout(const InfFile &inf, const std::string &infName, const WindowsNames &windows,
               std::vector<InfFinding> &found)
      : inf_(inf), windows_(windows), found_(found) {
    size_t slash = infName.find_last_of("\\/");
    infFolder_ = slash == std::string::npos ? "" : infName.substr(0, slash);
    for (const char *name : {"SourceDisksFiles", "SourceDisksFiles.x86"}) {
      const InfSection *files = inf.Find(name);
      if (!files) continue;
      for (const InfEntry &entry : files->entries) {
        if (!entry.hasKey) continue;
        auto added = files_.emplace(FoldCase(entry.key), &entry);
        if (!added.second && added.first->second != &entry &&
            FoldCase(name) == "sourcedisksfiles") {
          Error(found, "[SourceDisksFiles] lists \"" + entry.key + "\" twice (lines " +
                           std::to_string(added.first->second->line) + " and " +
                           std::to_string(entry.line) +
                           "); the installers use the first: remove one, or rename one of the "
                           "files");
        }
      }
    }
  }

  // The member the installers would copy for `source`, or "" after
  // reporting why there is none.
  std::string Resolve(const std::string &source, const std::string &list,
                      const std::map<std::string, std::string> &members) {
    const std::string elsewhere = FolderHolding(source, members);
    auto entry = files_.find(FoldCase(source));
    if (entry == files_.end()) {
      std::string subfolder = elsewhere == "." ? "" : elsewhere;
      Error(found_, Bracketed(list) + " copies \"" + source +
                        "\", which [SourceDisksFiles] does not list: add \"" + source + "\"=1" +
                        (subfolder.empty() ? "" : ",\"" + subfolder + "\"") + " to it");
      return "";
    }
    const InfEntry &where = *entry->second;
    const std::string disk = where.Value(0);
    const InfEntry *media = FindDisk(disk);
    if (!media) {
      Error(found_, "[SourceDisksFiles] puts \"" + source + "\" on disk " + disk +
                        ", which [SourceDisksNames] does not list: add " + disk + "=\"...\",,,");
      return "";
    }
    const std::string folder = JoinWindowsPath(media->Value(3), where.Value(1));
    const std::string key =
        ArchiveKey(JoinWindowsPath(JoinWindowsPath(infFolder_, folder), source), windows_);
    if (members.count(key)) return key;
    std::string text =
        Bracketed(list) + " copies \"" + source + "\" from " +
        (ArchiveKey(folder, windows_).empty() ? "the INF's folder" : "\"" + folder + "\"") +
        ", where the archive has no such file";
    if (elsewhere.empty()) {
      text += ": add the file to the package, or correct its entry in [SourceDisksFiles]";
    } else if (!ArchiveKey(media->Value(3), windows_).empty()) {
      text += "; it is in \"" + elsewhere + "\": correct the path of disk " + disk +
              " in [SourceDisksNames] or the sub-folder in [SourceDisksFiles]";
    } else {
      text += "; it is in \"" + elsewhere + "\": write \"" + source + "\"=" + disk +
              (elsewhere == "." ? "" : ",\"" + elsewhere + "\"") + " in [SourceDisksFiles]";
    }
    Error(found_, text);
    return "";
  }

 private:
  const InfEntry *FindDisk(const std::string &disk) {
    if (disks_.empty()) {
      for (const char *name : {"SourceDisksNames.x86", "SourceDisksNames"}) {
        const InfSection *names = inf_.Find(name);
        if (!names) continue;
        for (const InfEntry &entry : names->entries) {
          if (entry.hasKey) disks_.emplace(FoldCase(entry.key), &entry);  // the first wins
        }
      }
    }
    auto found = disks_.find(FoldCase(disk));
    return found == disks_.end() ? nullptr : found->second;
  }

  // The folder, relative to the INF's own and with '\' between folders, in
  // which the archive holds a file called `source` ("." beside the INF), or
  // "" when it holds none. The members are indexed by file name once, so
  // that the check stays linear in the number of files.
  std::string FolderHolding(const std::string &source,
                            const std::map<std::string, std::string> &members) {
    if (!indexed_) {
      indexed_ = true;
      const std::string prefix = ArchiveKey(infFolder_, windows_);
      for (const auto &member : members) {
        if (!prefix.empty() && member.first.rfind(prefix + "\\", 0) != 0) continue;
        std::string path = WithBackslashes(member.second);
        if (!prefix.empty()) path = path.substr(prefix.size() + 1);
        size_t slash = path.rfind('\\');
        // The first in the members' order, as a scan would find it.
        byFileName_.emplace(FoldCase(WindowsFileName(member.second)),
                            slash == std::string::npos ? "." : path.substr(0, slash));
      }
    }
    auto found = byFileName_.find(FoldCase(source));
    return found == byFileName_.end() ? "" : found->second;
  }

  const InfFile &inf_;
  const WindowsNames &windows_;
  std::vector<InfFinding> &found_;
  std::string infFolder_;
  std::map<std::string, const InfEntry *> files_;
  std::map<std::string, const InfEntry *> disks_;
  bool indexed_ = false;
  std::map<std::string, std::string> byFileName_;  // folded file name -> its folder
};

// Resolves every file the running install sections copy; returns the
// members they copy.
std::set<std::string> CheckCopies(const InfFile &inf, const InfSubject &subject,
                                  const WindowsNames &windows,
                                  const std::map<std::string, std::string> &members,
                                  std::vector<InfFinding> &found) {
  std::set<std::string> copied;
  SourceLayout layout(inf, subject.infName, windows, found);
  std::set<std::string> listsSeen;
  for (const RoadSection &run : RunningSections(inf, subject.useAdvpack, SubjectTargets(subject))) {
    const InfSection *install = inf.Find(run.section);
    for (const InfEntry &entry : install->entries) {
      if (!entry.hasKey || FoldCase(entry.key) != "copyfiles") continue;
      for (const std::string &value : entry.values) {
        if (value.empty()) continue;
        if (value[0] == '@') {
          std::string key = layout.Resolve(value.substr(1), install->name, members);
          if (!key.empty()) copied.insert(key);
          continue;
        }
        const InfSection *list = inf.Find(value);
        if (!list || !listsSeen.insert(FoldCase(value)).second) continue;
        for (const InfEntry &file : list->entries) {
          // destination[,source[,temporary[,flags]]]
          std::string destination = file.hasKey ? file.key : file.Value(0);
          std::string source = file.hasKey ? "" : file.Value(1);
          if (source.empty()) source = destination;
          if (source.empty()) continue;
          std::string key = layout.Resolve(source, list->name, members);
          if (!key.empty()) copied.insert(key);
        }
      }
    }
  }
  return copied;
}

void NoteUncopied(const std::map<std::string, std::string> &members, const WindowsNames &windows,
                  const std::set<std::string> &copied, const std::string &infName,
                  std::vector<InfFinding> &found) {
  std::vector<std::string> left;
  for (const auto &member : members) {
    if (member.first == ArchiveKey(infName, windows) || copied.count(member.first)) continue;
    left.push_back(member.second);
  }
  if (left.empty()) return;
  const size_t shown = 5;
  std::string text = std::to_string(left.size()) +
                     (left.size() == 1 ? " file of the archive is" : " files of the archive are") +
                     " not copied by the install sections: ";
  for (size_t i = 0; i < left.size() && i < shown; ++i) text += (i ? ", " : "") + left[i];
  if (left.size() > shown) text += ", ...";
  found.push_back({InfFinding::kNote, text});
}

// Faults of roads outside the targets, noted and no more.
std::vector<InfFinding> Demoted(std::vector<InfFinding> found, unsigned targets) {
  for (InfFinding &finding : found) {
    if (finding.severity == InfFinding::kNote || (finding.families & targets)) continue;
    finding.severity = InfFinding::kNote;
    finding.text = "for " + TargetsText(finding.families) +
                   ", which the package does not target (--targets): " + finding.text;
  }
  return found;
}

}  // namespace

unsigned SignatureTargets(const std::string &infText) {
  InfFile inf = ParseInf(infText);
  const InfSection *version = inf.Find("Version");
  const InfEntry *signature = version ? version->Find("Signature") : nullptr;
  return signature && FoldCase(signature->Value(0)) == "$windows nt$" ? kTargetNt : kTargetsAll;
}

unsigned SubjectTargets(const InfSubject &subject) {
  if (subject.targets) return subject.targets;
  return subject.infText.empty() ? kTargetsAll : SignatureTargets(subject.infText);
}

std::vector<std::string> InstallSectionsRun(const InfFile &inf, bool useAdvpack, unsigned targets) {
  std::vector<std::string> names;
  for (const RoadSection &run : RunningSections(inf, useAdvpack, targets)) {
    names.push_back(inf.Find(run.section)->name);
  }
  return names;
}

bool IsTopLevelInf(const std::string &name) {
  return name.find_first_of("/\\") == std::string::npos && name.size() > 4 &&
         FoldCase(name.substr(name.size() - 4)) == ".inf";
}

std::vector<InfFinding> CheckInfName(const InfSubject &subject) {
  return Demoted(InfNameFindings(subject.useAdvpack, subject.infName), SubjectTargets(subject));
}

std::vector<InfFinding> CheckInf(const InfSubject &subject) {
  const unsigned targets = SubjectTargets(subject);
  std::vector<InfFinding> found = InfNameFindings(subject.useAdvpack, subject.infName);
  InfFile inf = ParseInf(subject.infText);
  for (const InfProblem &problem : inf.problems) {
    Error(found,
          (problem.line ? "line " + std::to_string(problem.line) + ": " : "") + problem.text);
  }
  CheckSignature(inf, found);
  CheckRoadSections(inf, subject.useAdvpack, targets, found);
  // Every road's: those outside the targets become notes below.
  CheckEmptySections(inf, subject.useAdvpack, kTargetsAll, found);
  CheckReferences(inf, found);
  const WindowsNames windows(subject.codePage);
  std::map<std::string, std::string> members;  // folded key -> name as stored
  for (const std::string &name : subject.members) {
    if (!name.empty() && name.back() != '/' && name.back() != '\\') {
      members.emplace(ArchiveKey(name, windows), name);
    }
  }
  std::set<std::string> copied = CheckCopies(inf, subject, windows, members, found);
  NoteUncopied(members, windows, copied, subject.infName, found);
  return Demoted(found, targets);
}

}  // namespace vantrel_pack
