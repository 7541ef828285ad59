#include "top_folder.h"

#include "cli/errors.h"
#include "cli/text.h"

namespace vantrel_pack {
namespace {

// The first component and whether a separator follows it.
std::string FirstComponent(const std::string &name, bool &inside) {
  size_t cut = name.find_first_of("/\\");
  inside = cut != std::string::npos;
  return inside ? name.substr(0, cut) : name;
}

}  // namespace

std::optional<std::string> SharedTopFolder(const std::vector<std::string> &names) {
  if (names.empty()) return std::nullopt;
  bool inside = false;
  const std::string top = FirstComponent(names[0], inside);
  bool anythingBelow = false;
  for (const std::string &name : names) {
    std::string first = FirstComponent(name, inside);
    if (!inside || top.empty() || FoldCase(first) != FoldCase(top)) return std::nullopt;
    anythingBelow = anythingBelow || name.size() > first.size() + 1;
  }
  if (!anythingBelow) return std::nullopt;
  return top;
}

std::vector<std::string> WithoutTopFolder(const std::vector<std::string> &names) {
  std::optional<std::string> top = SharedTopFolder(names);
  if (!top) {
    throw PackError("--strip-top-folder: the archive's files do not all lie in one folder");
  }
  std::vector<std::string> stripped;
  for (const std::string &name : names) stripped.push_back(name.substr(top->size() + 1));
  return stripped;
}

}  // namespace vantrel_pack
