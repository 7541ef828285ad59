#include <algorithm>
#include <filesystem>

#include "folder_source.h"
#include "cli/errors.h"
#include "cli/text.h"
#include "windows_names.h"

namespace vantrel_pack {

namespace fs = std::filesystem;

namespace {

// A '\\' in a file's name here would split it into folders on Windows.
void RefuseBackslash(const std::string &name) {
  if (name.find('\\') != std::string::npos) {
    throw PackError("the file name " + name +
                    " holds a \\, which would split it into folders on Windows");
  }
}

}  // namespace

// Folders are not stored as members: the stub creates each member's folders
// on its own, and an empty folder has nothing to install.
std::vector<SourceFile> CollectFolder(const std::string &folder, int codePage) {
  std::vector<SourceFile> files;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, fs::directory_options::follow_directory_symlink,
                                      error);
  if (error) throw PackError("cannot read folder " + folder + ": " + error.message());
  for (const fs::recursive_directory_iterator end; it != end; it.increment(error)) {
    if (error) throw PackError("cannot read folder " + folder + ": " + error.message());
    const fs::path path = it->path();
    if (it->is_directory(error)) continue;
    if (!it->is_regular_file(error)) {
      throw PackError(path.string() + " is neither a file nor a folder");
    }
    std::string relative = path.lexically_relative(folder).generic_string();
    RefuseBackslash(relative);
    files.push_back({path.string(), ToCodePage(relative, codePage, "the file name " + relative)});
  }
  if (error) throw PackError("cannot read folder " + folder + ": " + error.message());
  std::sort(files.begin(), files.end(),
            [](const SourceFile &a, const SourceFile &b) { return a.name < b.name; });
  std::vector<std::string> names;
  for (const SourceFile &file : files) names.push_back(file.name);
  std::vector<NameFinding> found = WindowsNameFindings(names, WindowsNames(codePage), true);
  if (!found.empty()) throw PackError(found[0].text);
  return files;
}

}  // namespace vantrel_pack
