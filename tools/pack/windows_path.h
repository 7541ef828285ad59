// Windows paths as vantrel-pack composes them for the INF file and the
// archive: '\' between folders ('/' read as the same).
#ifndef VANTREL_PACK_WINDOWS_PATH_H
#define VANTREL_PACK_WINDOWS_PATH_H

#include <string>

namespace vantrel_pack {

// a\b, or the one that is not empty.
inline std::string JoinWindowsPath(const std::string &a, const std::string &b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "\\" + b;
}

// The last component of a path.
inline std::string WindowsFileName(const std::string &path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Everything before the last component, or "" for a bare name.
inline std::string WindowsFolderOf(const std::string &path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

}  // namespace vantrel_pack

#endif
