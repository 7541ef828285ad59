#include "roads.h"

#include <cctype>

#include "bridge/stub_rules.h"
#include "cli/errors.h"
#include "cli/windows_path.h"

namespace vantrel_pack {
namespace {

// What a road depends on in each Windows family: where GetTempPathA
// typically points (without its final backslash) and the folder the stub
// starts the installer program from by its full path: rundll32.exe lies in
// the NT family's system folder, both programs in the Windows folder of
// Windows 95/98.
struct FamilyFolders {
  const char *platform;
  const char *temp;
  const char *installerFolder;
};
const FamilyFolders kNtFamily = {"NT family", "C:\\Users\\User\\AppData\\Local\\Temp",
                                 "C:\\WINDOWS\\system32"};
const FamilyFolders k9xFamily = {"Windows 95/98", "C:\\WINDOWS\\TEMP", "C:\\WINDOWS"};

InfRoad MakeRoad(InstallerRun run, bool windowsNT, const std::string &infName) {
  const FamilyFolders &family = windowsNT ? kNtFamily : k9xFamily;
  InfRoad road;
  road.installer = run == kSetupxRun ? "setupx" : run == kSetupapiRun ? "setupapi" : "advpack";
  road.platform = family.platform;
  road.folder = TempFolderUnder(family.temp);
  road.sixteenBit = run == kSetupxRun;
  road.family = windowsNT ? kTargetNt : kTarget9x;
  std::string line = InstallerArguments(run, windowsNT, road.folder, infName);
  road.program = std::string(family.installerFolder) + "\\" + InstallerProgram(run);
  road.commandLine = road.program + " " + line;
  road.argumentsLength = 1 + line.size();
  road.section = run == kAdvpackSecondRun ? "DefaultInstallX"
                 : run == kAdvpackFirstRun
                     ? (windowsNT ? "DefaultInstall2.ntx86" : "DefaultInstall2")
                     : "DefaultInstall";
  return road;
}

bool IsDosNameCharacter(unsigned char c) {
  if (c < 0x21 || c == 0x7F) return false;
  return std::string("\"*+,./:;<=>?[\\]|").find(char(c)) == std::string::npos;
}

}  // namespace

std::vector<InfRoad> PackageRoads(bool useAdvpack, const std::string &infName) {
  if (!useAdvpack) {
    return {MakeRoad(kSetupapiRun, true, infName), MakeRoad(kSetupxRun, false, infName)};
  }
  return {MakeRoad(kAdvpackFirstRun, true, infName), MakeRoad(kAdvpackSecondRun, true, infName),
          MakeRoad(kAdvpackFirstRun, false, infName), MakeRoad(kAdvpackSecondRun, false, infName)};
}

unsigned ParseTargets(const std::string &value, const std::string &option) {
  const struct {
    const char *word;
    unsigned targets;
  } kWords[] = {{"nt", kTargetNt}, {"9x", kTarget9x}, {"all", kTargetsAll}};
  for (const auto &word : kWords) {
    if (value == word.word) return word.targets;
  }
  throw UsageError(option + " must be nt, 9x or all");
}

std::string TargetsText(unsigned targets) {
  if (targets == kTargetNt) return "the NT family";
  if (targets == kTarget9x) return "Windows 95/98";
  return "the NT family and Windows 95/98";
}

std::vector<InfRoad> TargetRoads(const std::vector<InfRoad> &roads, unsigned targets) {
  std::vector<InfRoad> kept;
  for (const InfRoad &road : roads) {
    if (road.family & targets) kept.push_back(road);
  }
  return kept;
}

bool IsShortName(const std::string &component) {
  size_t dot = component.find('.');
  std::string base = component.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : component.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3) return false;
  for (unsigned char c : base + extension) {
    if (!IsDosNameCharacter(c)) return false;
  }
  return true;
}

std::string ShortInfName(const std::string &name, bool *avoidedDevice) {
  std::string stem = name;
  size_t slash = stem.find_last_of("\\/");
  if (slash != std::string::npos) stem = stem.substr(slash + 1);
  size_t dot = stem.rfind('.');
  if (dot != std::string::npos && dot > 0) stem = stem.substr(0, dot);
  std::string base;
  for (unsigned char c : stem) {
    if (std::isalnum(c) && base.size() < 8) base += char(std::tolower(c));
  }
  if (base.empty()) base = "setup";
  // "aux.inf" would open the device AUX, whatever the extension: such a
  // name gets "app" after it, which no device name has and which keeps it
  // within 8 characters (the longest device, com1 or lpt1, has four).
  const bool device = !NameStaysInsideFolder(base + ".inf");
  if (device) base += "app";
  if (avoidedDevice) *avoidedDevice = device;
  return base + ".inf";
}

bool IsDeviceInfName(const std::string &name) {
  return !name.empty() && name.find_first_of("\\/") == std::string::npos &&
         !NameStaysInsideFolder(name);
}

std::vector<InfFinding> InfNameFindings(bool useAdvpack, const std::string &infName) {
  std::vector<InfFinding> found;
  const std::string quoted = "the INF name \"" + infName + "\"";
  const std::string fix = "rename it to an 8.3 name such as " + ShortInfName(infName);
  bool shortName = true;
  for (const std::string &part : WindowsPathParts(infName))
    shortName = shortName && IsShortName(part);
  // advpack reads "<path>,<section>"; setupx (Windows 95/98) takes the INF
  // path from an unquoted 16-bit command line and opens only 8.3 names. The
  // stub never quotes the path.
  if (infName.find(',') != std::string::npos) {
    found.push_back(
        {InfFinding::kError, quoted + " has a comma, where " +
                                 std::string(useAdvpack ? "advpack" : "the installers") +
                                 " split their arguments: " + fix});
  } else if (!useAdvpack && infName.find(' ') != std::string::npos) {
    found.push_back({InfFinding::kError,
                     quoted +
                         " has a space, where setupx (Windows 95/98) splits the unquoted "
                         "command line and looks for a file that does not exist: " +
                         fix,
                     kTarget9x});
  } else if (!useAdvpack && !shortName) {
    found.push_back({InfFinding::kError,
                     quoted +
                         " is not an 8.3 name, the only kind the 16-bit "
                         "setupx of Windows 95/98 opens: " +
                         fix,
                     kTarget9x});
  } else if (!shortName) {
    found.push_back({InfFinding::kWarning,
                     quoted +
                         " is not an 8.3 name: advpack on Windows 95/98 hands it to the "
                         "16-bit setup engine, which opens only 8.3 names; " +
                         fix,
                     kTarget9x});
  }
  if (useAdvpack) return found;
  for (const InfRoad &road : PackageRoads(false, infName)) {
    if (!road.sixteenBit || road.argumentsLength <= kSixteenBitArgumentLimit) continue;
    found.push_back({InfFinding::kError,
                     "the setupx command line would pass " + std::to_string(road.argumentsLength) +
                         " characters to rundll.exe under " + road.folder + ", more than the " +
                         std::to_string(kSixteenBitArgumentLimit) +
                         " a 16-bit program receives: the installer would get a cut name; "
                         "shorten the INF's path (an 8.3 name at the top of the archive)",
                     kTarget9x});
  }
  return found;
}

}  // namespace vantrel_pack
