#include "installer_command.h"

#include "../core/text.h"

namespace {

DWORD AppendInfPath(char *line, DWORD n, DWORD capacity, const char *folder, const char *infName) {
  n = AppendLiteral(line, n, capacity, folder);
  n = AppendLiteral(line, n, capacity, "\\");
  return AppendLiteral(line, n, capacity, infName);
}

}  // namespace

const char *InstallerProgram(InstallerRun run) {
  return run == kSetupxRun ? "rundll.exe" : "rundll32.exe";
}

// "setupx.dll,InstallHinfSection DefaultInstall 132 <folder>\<inf>",
// "setupapi,InstallHinfSection DefaultInstall 132 <folder>\<inf>" or
// "advpack,LaunchINFSection <folder>\<inf>,<section>".
DWORD AppendInstallerArguments(char *line, DWORD used, DWORD capacity, InstallerRun run,
                               bool windowsNT, const char *folder, const char *infName) {
  DWORD n = used;
  if (run == kSetupapiRun || run == kSetupxRun) {
    n = AppendLiteral(line, n, capacity, run == kSetupxRun ? "setupx.dll" : "setupapi");
    n = AppendLiteral(line, n, capacity, ",InstallHinfSection DefaultInstall 132 ");
    return AppendInfPath(line, n, capacity, folder, infName);
  }
  n = AppendLiteral(line, n, capacity, "advpack,LaunchINFSection ");
  n = AppendInfPath(line, n, capacity, folder, infName);
  if (run == kAdvpackSecondRun) return AppendLiteral(line, n, capacity, ",DefaultInstallX");
  n = AppendLiteral(line, n, capacity, ",DefaultInstall2");
  if (windowsNT) n = AppendLiteral(line, n, capacity, ".ntx86");
  return n;
}
