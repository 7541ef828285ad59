#include "scope.h"

#include <cstdlib>

#include "check.h"
#include "cli/text.h"
#include "cli/windows_path.h"
#include "file.h"
#include "finding.h"
#include "writer.h"

namespace vantrel_pack {
namespace {

// Directory ids of folders a standard user cannot write on the NT family
// (Microsoft's "Using Dirids": the Windows folders, and the shell folders
// 16384 + CSIDL that belong to all users). 16430, All Users\Documents, is
// left out: every user may write there.
const struct {
  long dirid;
  const char *name;
} kMachineFolders[] = {
    {10, "the Windows folder"},
    {11, "the system folder"},
    {12, "the drivers folder"},
    {17, "the INF folder"},
    {18, "the Help folder"},
    {20, "the Fonts folder"},
    {21, "the viewers folder"},
    {23, "the colour folder"},
    {25, "the shared folder"},
    {50, "the 16-bit system folder"},
    {51, "the spool folder"},
    {52, "the spool drivers folder"},
    {54, "the boot loader's folder"},
    {55, "the print processors folder"},
    {16406, "the all-users Start menu"},
    {16407, "the all-users Start-menu programs"},
    {16408, "the all-users Startup folder"},
    {16409, "the all-users desktop"},
    {16415, "the all-users Favorites"},
    {16419, "the all-users application data"},
    {16422, "Program Files"},
    {16425, "the 32-bit system folder"},
    {16426, "Program Files (x86)"},
    {16427, "Common Files"},
    {16428, "Common Files (x86)"},
    {16429, "the all-users templates"},
};

// Roots of a drive (24 the system drive, 30 the boot drive): a user may
// make a folder there, but not a file, and not the system's own folders.
bool IsDriveRoot(long dirid) { return dirid == 24 || dirid == 30; }

bool ParseDirid(const std::string &text, long &dirid) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 6) {
    return false;
  }
  dirid = std::strtol(text.c_str(), nullptr, 10);
  return true;
}

// Why a destination (dirid and sub-folder) is the machine's, or "".
std::string MachineFolder(const std::string &diridText, const std::string &subfolder) {
  long dirid = 0;
  if (!ParseDirid(diridText, dirid)) return "";
  for (const auto &folder : kMachineFolders) {
    if (folder.dirid == dirid) return "dirid " + diridText + ", " + folder.name;
  }
  if (!IsDriveRoot(dirid)) return "";
  std::vector<std::string> parts = WindowsPathParts(WithBackslashes(subfolder));
  std::string first;
  for (const std::string &part : parts) {
    if (!part.empty()) {
      first = FoldCase(part);
      break;
    }
  }
  if (first.empty()) return "dirid " + diridText + ", the root of a drive";
  if (first == "program files" || first == "windows") {
    return "dirid " + diridText + ", " + (first == "windows" ? "Windows" : "Program Files");
  }
  return "";
}

bool IsKey(const InfEntry &entry, const char *key) {
  return entry.hasKey && FoldCase(entry.key) == FoldCase(key);
}

// Where the files of the list `list` go: its [DestinationDirs] entry, else
// DefaultDestDir, else the system folder, which setupapi takes then.
std::string ListDestination(const InfFile &inf, const std::string &list) {
  const InfSection *destinations = inf.Find("DestinationDirs");
  const InfEntry *entry = nullptr;
  if (destinations && !list.empty()) entry = destinations->Find(list);
  if (destinations && !entry) entry = destinations->Find("DefaultDestDir");
  if (!entry) return MachineFolder("11", "");
  return MachineFolder(entry->Value(0), entry->Value(1));
}

// The root a registry line names: its first field.
bool WritesMachineKeys(const InfSection &section) {
  for (const InfEntry &entry : section.entries) {
    std::string root = entry.hasKey ? entry.key : entry.Value(0);
    root = FoldCase(root.substr(0, root.find(',')));
    while (!root.empty() && root.back() == ' ') root.pop_back();
    if (root == "hklm" || root == "hkey_local_machine") return true;
  }
  return false;
}

// A ProfileItems section without FLG_PROFITEM_CURRENTUSER (1) makes its
// item for all users.
bool MakesItemsForAllUsers(const InfSection &section) {
  const InfEntry *name = section.Find("Name");
  if (!name) return false;
  std::string flags = name->Value(1);
  unsigned long value = flags.empty() ? 0 : std::strtoul(flags.c_str(), nullptr, 0);
  return (value & 1) == 0;
}

std::string SectionReason(const InfFile &inf, const InfSection &install) {
  for (const InfEntry &entry : install.entries) {
    if (IsKey(entry, "CopyFiles") || IsKey(entry, "DelFiles") || IsKey(entry, "RenFiles")) {
      const char *verb = IsKey(entry, "CopyFiles")  ? "copies into "
                         : IsKey(entry, "DelFiles") ? "deletes files in "
                                                    : "renames files in ";
      for (const std::string &value : entry.values) {
        if (value.empty()) continue;
        std::string where = ListDestination(inf, value[0] == '@' ? "" : value);
        if (!where.empty()) return std::string("the INF ") + verb + where;
      }
    }
    bool registry = IsKey(entry, "AddReg") || IsKey(entry, "DelReg") || IsKey(entry, "BitReg");
    bool items = IsKey(entry, "ProfileItems");
    if (!registry && !items) continue;
    for (const std::string &value : entry.values) {
      const InfSection *named = value.empty() ? nullptr : inf.Find(value);
      if (!named) continue;
      if (registry && WritesMachineKeys(*named)) {
        return "the INF writes HKLM registry keys ([" + named->name + "])";
      }
      if (items && MakesItemsForAllUsers(*named)) {
        return "the INF makes Start-menu items for all users ([" + named->name + "])";
      }
    }
  }
  return "";
}

std::string StringValue(const InfSection &strings, const char *key) {
  const InfEntry *entry = strings.Find(key);
  std::string value = entry ? entry->Value(0) : "";
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    out += value[i];
    if (value[i] == '%' && i + 1 < value.size() && value[i + 1] == '%') ++i;
  }
  return out;
}

}  // namespace

std::optional<std::string> MachineWideReason(const std::string &infText, bool useAdvpack) {
  InfFile inf = ParseInf(infText);
  for (const std::string &name : InstallSectionsRun(inf, useAdvpack, kTargetNt)) {
    std::string reason = SectionReason(inf, *inf.Find(name));
    if (!reason.empty()) return reason;
  }
  return std::nullopt;
}

std::optional<WrittenInfNames> ReadWrittenInfNames(const std::string &infText) {
  const std::string firstLine = infText.substr(0, infText.find_first_of("\r\n"));
  const std::string mark = kWrittenInfMark;
  if (firstLine.size() < mark.size() ||
      firstLine.compare(firstLine.size() - mark.size(), std::string::npos, mark) != 0) {
    return std::nullopt;
  }
  InfFile inf = ParseInf(infText);
  const InfSection *strings = inf.Find("Strings");
  if (!strings) return std::nullopt;
  WrittenInfNames names{StringValue(*strings, "AppName"), StringValue(*strings, "AppVersion"),
                        StringValue(*strings, "Publisher")};
  if (names.name.empty()) return std::nullopt;
  return names;
}

}  // namespace vantrel_pack
