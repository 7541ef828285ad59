// Whom an INF installs for: the whole machine (files in Program Files or
// the Windows folders, HKLM registry keys, Start-menu items for all users)
// or the current user only. On Windows Vista and later the first needs an
// administrator's token, which the package asks for in its manifest. Also
// the names `vantrel-pack inf` records in an INF it wrote.
#ifndef VANTREL_PACK_INF_SCOPE_H
#define VANTREL_PACK_INF_SCOPE_H

#include <optional>
#include <string>

namespace vantrel_pack {

// The first thing, in the order the NT family's installer meets it, that
// makes the INF install for the whole machine ("the INF copies into dirid
// 16422, Program Files"), in the INF's code page; empty optional when it
// installs for the current user only. Only the sections the NT family runs
// count: Windows 95/98 read no manifest.
std::optional<std::string> MachineWideReason(const std::string &infText, bool useAdvpack);

// The names `vantrel-pack inf` wrote into the INF's [Strings] (--name,
// --version, --publisher; the last two may be empty), in the INF's code
// page; empty optional for an INF it did not write.
struct WrittenInfNames {
  std::string name;
  std::string version;
  std::string publisher;
};
std::optional<WrittenInfNames> ReadWrittenInfNames(const std::string &infText);

}  // namespace vantrel_pack

#endif
