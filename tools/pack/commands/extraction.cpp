#include "extraction.h"

#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>

#include "cli/errors.h"
#include "cli/text.h"
#include "cli/windows_path.h"
#include "core/package_layout.h"
#include "package/recorded.h"
#include "zip/windows_names.h"

namespace vantrel_pack {
namespace {

// Reads a password from the terminal without echo; nullopt at end of input.
std::optional<std::string> PromptOnTerminal(std::ostream &err) {
  err << "Password: " << std::flush;
  termios saved{};
  bool quiet = tcgetattr(0, &saved) == 0;
  if (quiet) {
    termios silent = saved;
    silent.c_lflag &= ~tcflag_t(ECHO);
    tcsetattr(0, TCSAFLUSH, &silent);
  }
  std::string line;
  bool got = bool(std::getline(std::cin, line));
  if (quiet) tcsetattr(0, TCSAFLUSH, &saved);
  err << "\n";
  if (!got) return std::nullopt;
  return line;
}

}  // namespace

bool LoadForExtraction(const ExtractionOptions &options, const char *command,
                       std::ostream &err, LoadedPackage &loaded) {
  const std::string &path = options.package;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) throw PackError("cannot read " + path);
  if (!S_ISREG(info.st_mode)) throw PackError(path + " is not a regular file");
  loaded.view = ReadPackage(path);
  if (!loaded.view.hasMagic) {
    throw PackError(path + " has no package header at offset " + std::to_string(kHeaderOffset));
  }
  std::vector<std::string> refusals = loaded.view.Refusals();
  for (const std::string &refusal : refusals) {
    err << "vantrel-pack " << command << ": " << refusal << "\n";
  }
  if (!refusals.empty()) return false;
  loaded.codePage = CodePageOf(loaded.view.header, options.codePage).codePage;
  loaded.listing = WalkPackage(loaded.view);
  return true;
}

std::optional<std::string> PasswordFor(const ArchiveWalk &listing,
                                       const std::optional<std::string> &given, int codePage,
                                       std::ostream &err) {
  // The stub compares the bytes the user types in the package's code page.
  if (given) return ToCodePage(*given, codePage, "the password");
  bool encrypted = false;
  for (const WalkedMember &member : listing.members) encrypted = encrypted || member.encrypted();
  if (!encrypted || !isatty(0)) return std::nullopt;
  std::optional<std::string> typed = PromptOnTerminal(err);
  if (typed) typed = ToCodePage(*typed, codePage, "the password");
  return typed;
}

bool NamesAsWindowsReadsThem(const ArchiveWalk &listing, int codePage, const char *command,
                             std::ostream &err) {
  std::vector<std::string> names;
  for (const WalkedMember &member : listing.members) names.push_back(member.name);
  bool makeable = true;
  for (const NameFinding &finding : WindowsNameFindings(names, WindowsNames(codePage))) {
    // The stub's own verdict names what it refuses.
    if (listing.members[finding.member].verdict == kMemberBadName) continue;
    err << "vantrel-pack " << command << ": " << (finding.stopsInstallation ? "" : "warning: ")
        << finding.text << "\n";
    makeable = makeable && !finding.stopsInstallation;
  }
  return makeable;
}

std::string PathIn(const std::string &folder, const WalkedMember &member, int codePage) {
  return folder + "/" + WithSlashes(FromCodePage(member.name, codePage));
}

}  // namespace vantrel_pack
