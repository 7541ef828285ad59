// Windows paths as vantrel-pack composes and compares them: '\' between
// folders, '/' read as the same, as in member names.
#ifndef VANTREL_PACK_CLI_WINDOWS_PATH_H
#define VANTREL_PACK_CLI_WINDOWS_PATH_H

#include <string>
#include <vector>

namespace vantrel_pack {

inline std::string WithBackslashes(std::string path) {
  for (char &c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

inline std::string WithSlashes(std::string path) {
  for (char &c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// The components between separators, empty ones included.
inline std::vector<std::string> WindowsPathParts(const std::string &path) {
  std::vector<std::string> parts(1);
  for (char c : path) {
    if (c == '\\' || c == '/') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

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
