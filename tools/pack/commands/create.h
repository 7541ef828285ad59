// `vantrel-pack create`: the options and the making of a package.
#ifndef VANTREL_PACK_COMMANDS_CREATE_H
#define VANTREL_PACK_COMMANDS_CREATE_H

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vantrel_pack {

struct CreateOptions {
  std::string output;
  std::string source;
  int level = 6;
  bool levelGiven = false;
  std::optional<std::string> title;
  std::optional<std::string> infName;
  std::optional<std::string> welcomeText;
  std::optional<std::string> welcomeFile;
  std::optional<std::string> licenceFile;
  std::optional<std::string> password;
  bool stayOpen = false;
  bool adminRequired = false;
  bool useAdvpack = false;
  bool skipIntegrityCheck = false;
  bool noInfCheck = false;  // INF errors become warnings
  unsigned targets = 0;     // kTarget* bits; 0: as the INF's Signature says
  bool stripTopFolder = false;  // a .zip SOURCE's one top folder is taken off the names
  bool utf8Names = false;  // a .zip SOURCE's names without the UTF-8 mark are UTF-8 too
  std::optional<std::string> stub;
  uint64_t splitSize = 0;  // 0: one file
  int codePage = 1252;
  bool quiet = false;  // no progress display and no summary line
  // The manifest's execution level; unset: as DefaultElevation says.
  std::optional<std::string> elevation;
  // The version information's strings (UTF-8); unset: see PackageStub.
  std::optional<std::string> productName;
  std::optional<std::string> productVersion;
  std::optional<std::string> company;
  std::optional<std::string> description;
  std::optional<std::string> copyright;
  // SOURCE_DATE_EPOCH, when the environment sets it: see ZipSettings.
  std::optional<int64_t> sourceDateEpoch;
};

// Throws UsageError. `sourceDateEpoch` is the environment's
// SOURCE_DATE_EPOCH, or null when it is not set.
CreateOptions ParseCreateOptions(const std::vector<std::string> &args,
                                 const char *sourceDateEpoch = nullptr);

// The piece size a --split SIZE gives: SIZE rounded down to a multiple of 8,
// so that the program file can be signed without padding, which the stub's
// rebuild could not tell from the package's own bytes.
uint64_t SignablePieceSize(uint64_t splitSize);

// Throws PackError; nothing is left at the output paths on failure.
void CreatePackage(const CreateOptions &options, std::ostream &out, std::ostream &err);

}  // namespace vantrel_pack

#endif
