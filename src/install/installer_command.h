// The command lines that hand the package's INF file to the system's INF
// installer. LaunchInf builds them to run them; vantrel-pack builds the very
// same lines to show them and to check that they fit the installer.
#ifndef VANTREL_INSTALLER_COMMAND_H
#define VANTREL_INSTALLER_COMMAND_H

#include <windows.h>

// One run of an INF installer: which program, entry point and section.
enum InstallerRun {
  kSetupapiRun,       // rundll32.exe setupapi: DefaultInstall on the NT family
  kSetupxRun,         // rundll.exe setupx.dll: DefaultInstall on Windows 95/98
  kAdvpackFirstRun,   // rundll32.exe advpack: DefaultInstall2 (.ntx86 on NT)
  kAdvpackSecondRun,  // rundll32.exe advpack: DefaultInstallX on every platform
};

// The program the run starts: "rundll32.exe" or "rundll.exe".
const char *InstallerProgram(InstallerRun run);

// Appends what follows the program on the command line (entry point, section
// and `folder`\`infName`, unquoted) to `line`, a buffer of `capacity` bytes
// holding `used` characters; `windowsNT` adds ".ntx86" to the first advpack
// section. Returns the new length; text that does not fit is cut.
DWORD AppendInstallerArguments(char *line, DWORD used, DWORD capacity, InstallerRun run,
                               bool windowsNT, const char *folder, const char *infName);

#endif
