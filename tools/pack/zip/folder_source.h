// The files of a folder given as SOURCE: every regular file below it, in
// name order, named in the package's code page with '/' between folders.
#ifndef VANTREL_PACK_ZIP_FOLDER_SOURCE_H
#define VANTREL_PACK_ZIP_FOLDER_SOURCE_H

#include <string>
#include <vector>

namespace vantrel_pack {

struct SourceFile {
  std::string path;  // on this machine
  std::string name;  // member name, in the code page
};

// Throws PackError for an unreadable folder, a name the code page cannot
// hold or Windows cannot make there (windows_names.h: two names for one
// file, a file where a folder must be), or anything that is neither a
// file nor a folder.
std::vector<SourceFile> CollectFolder(const std::string &folder, int codePage);

}  // namespace vantrel_pack

#endif
