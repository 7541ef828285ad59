// The stub's rules for what a package may hold, asked of the stub's own
// procedures: how it takes a member's name and which names it refuses, how
// much data a header leaves a member, and the command lines it hands the
// INF installers.
#ifndef VANTREL_PACK_BRIDGE_STUB_RULES_H
#define VANTREL_PACK_BRIDGE_STUB_RULES_H

#include <cstddef>
#include <string>

#include "archive/member_names.h"
#include "archive/walker.h"
#include "install/installer_command.h"
#include "startup/package.h"

namespace vantrel_pack {

// A member's name as the stub takes it from the name field; a field longer
// than the stub reads (which it refuses) is given back whole.
std::string StubName(const std::string &nameField);

// The stub starts a folder at this byte of a member's name, whatever the
// byte before it (it reads names byte by byte, in any code page).
bool StubSplitsNameAt(char c);

// The stub extracts the member only inside its temporary folder.
bool NameStaysInsideFolder(const std::string &name);

// The stub can make the member in a temporary folder of `folderLength`
// characters: its paths stay within what Windows takes.
bool NameFitsFolder(size_t folderLength, const std::string &name);

// The shortest temporary folder the stub can have: "C:" and its own name.
const size_t kShortestTempFolder = 2 + sizeof kTempFolderName - 1;

// The stub's temporary folder under the base folder `base`.
inline std::string TempFolderUnder(const std::string &base) { return base + kTempFolderName; }

// What follows the installer program on the stub's command line for `run`,
// with the INF `infName` in the temporary folder `folder`.
std::string InstallerArguments(InstallerRun run, bool windowsNT, const std::string &folder,
                               const std::string &infName);

}  // namespace vantrel_pack

#endif
