// What create writes into the stub's manifest and version information for
// a package, and how inspect explains what it finds there.
#ifndef VANTREL_PACK_COMMANDS_PACKAGE_RESOURCES_H
#define VANTREL_PACK_COMMANDS_PACKAGE_RESOURCES_H

#include <optional>
#include <ostream>
#include <string>

#include "create.h"
#include "package/stub_resources.h"

namespace vantrel_pack {

// An execution level and why (UTF-8).
struct Elevation {
  std::string level;
  std::string reason;
};

// The level a package gets unless --elevation says otherwise:
// requireAdministrator with --admin (the stub refuses to run without the
// rights) or when the INF installs for the whole machine, else asInvoker.
// `infText` is null when the INF could not be read (`unreadable` says why).
Elevation DefaultElevation(bool adminRequired, const std::string *infText,
                           const std::string &unreadable, bool useAdvpack, int codePage);

// The stub of a package: `stub` with the execution level and the version
// information of `options` (and of the INF, for what they leave open)
// written in, and its checksum brought up to date. A stub without the
// resources is returned as it is, unless an option asks for them. Warnings
// go to `err`. Throws PackError.
std::string PackageStub(const std::string &stub, const CreateOptions &options,
                        const std::string *infText, const std::string &unreadable,
                        std::ostream &err);

// The keys of the version strings in the order inspect shows them.
extern const char *const kVersionKeys[6];

}  // namespace vantrel_pack

#endif
