// Zips made by zipping a folder from outside it hold everything in that one
// folder; the stub wants the INF at the top. These find such a folder and
// take it off the names.
#ifndef VANTREL_PACK_ZIP_TOP_FOLDER_H
#define VANTREL_PACK_ZIP_TOP_FOLDER_H

#include <optional>
#include <string>
#include <vector>

namespace vantrel_pack {

// The folder every name lies in (as the first name spells it), when there is
// exactly one and something lies inside it; Windows folds the case of ASCII
// letters, so "App/" and "APP/" are one folder.
std::optional<std::string> SharedTopFolder(const std::vector<std::string> &names);

// The names with the shared top folder taken off; the folder's own entry
// becomes "" (it has no place once stripped). Throws PackError when the names
// share no one top folder.
std::vector<std::string> WithoutTopFolder(const std::vector<std::string> &names);

}  // namespace vantrel_pack

#endif
