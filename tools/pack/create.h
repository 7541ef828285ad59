// `vantrel-pack create`: the options and the making of a package.
#ifndef VANTREL_PACK_CREATE_H
#define VANTREL_PACK_CREATE_H

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
  std::optional<std::string> stub;
  uint64_t splitSize = 0;  // 0: one file
  int codePage = 1252;
};

// Throws UsageError.
CreateOptions ParseCreateOptions(const std::vector<std::string> &args);

// Throws PackError; nothing is left at the output paths on failure.
void CreatePackage(const CreateOptions &options, std::ostream &out, std::ostream &err);

}  // namespace vantrel_pack

#endif
