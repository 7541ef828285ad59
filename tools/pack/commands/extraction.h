// What `extract` and `test` share: the package loaded by the stub's loader
// and refused where the stub would refuse it, its members as the stub walks
// them, and the password for the encrypted ones.
#ifndef VANTREL_PACK_COMMANDS_EXTRACTION_H
#define VANTREL_PACK_COMMANDS_EXTRACTION_H

#include <optional>
#include <ostream>
#include <string>

#include "cli/arguments.h"
#include "package/reader.h"
#include "zip/walk_view.h"

namespace vantrel_pack {

// The options of both commands (test has no folder).
struct ExtractionOptions {
  std::string package;
  std::string folder;
  std::optional<std::string> password;
  std::optional<int> codePage;  // default: the one create recorded, else 1252
  bool quiet = false;
};

// The options of both commands but --quiet, whose meaning differs.
const Option<ExtractionOptions> kPasswordOption = {
    "--password", "TEXT",
    "the password of encrypted members; without it a\n"
    "terminal asks for one, else they are not extracted",
    Keep<&ExtractionOptions::password>};
const Option<ExtractionOptions> kCodePageOption = {
    "--codepage", "N",
    "the package's code page, in which the password is\n"
    "typed as the stub's user would and names are read\n"
    "as Windows reads them (default: the one create\n"
    "recorded, else 1252)",
    ApplyCodePage<ExtractionOptions>};

struct LoadedPackage {
  PackageView view;
  ArchiveWalk listing;  // the stub's listing walk, before anything is extracted
  int codePage = 1252;  // the package's, or --codepage
};

// Reads the package at `path` with the stub's loader. False, after one line
// on `err` (begun by `command`) for each reason, when the stub would refuse
// it before extracting anything. Throws PackError for what is no package.
bool LoadForExtraction(const ExtractionOptions &options, const char *command,
                       std::ostream &err, LoadedPackage &loaded);

// The password the stub is to try on encrypted members, in the package's
// code page: `given`, else for a package with encrypted members one typed
// at the terminal (without echo), else none. Throws PackError for a
// password the code page cannot write, which no user could type.
std::optional<std::string> PasswordFor(const ArchiveWalk &listing,
                                       const std::optional<std::string> &given, int codePage,
                                       std::ostream &err);

// Whether Windows can make every member's name as this machine does, in
// `codePage`: each one it cannot make (or a double-byte character the stub
// would split) goes to `err` as an error, each two names of one file, which
// are two files here, as a warning (lines begun by `command`).
bool NamesAsWindowsReadsThem(const ArchiveWalk &listing, int codePage, const char *command,
                             std::ostream &err);

// A member's path in `folder`, as this machine names it: in UTF-8 from the
// package's code page, as Windows would show the name.
std::string PathIn(const std::string &folder, const WalkedMember &member, int codePage);

}  // namespace vantrel_pack

#endif
