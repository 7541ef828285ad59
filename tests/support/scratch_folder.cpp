#include "support/scratch_folder.h"

#include <stdio.h>
#include <stdlib.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace testing_support {

ScratchFolder::ScratchFolder(const std::string &purpose) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  std::string pattern = (ec ? fs::path("/tmp") : base).string() + "/vantrel-" + purpose + "-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    perror(pattern.c_str());
    abort();
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

}  // namespace testing_support
