#include "stub_rules.h"

#include "core/program_state.h"

namespace vantrel_pack {

std::string StubName(const std::string &nameField) {
  CountedString name{};
  if (nameField.size() > kLongestMemberName ||
      !StringFromBytes(nameField.data(), DWORD(nameField.size()), name)) {
    return nameField;
  }
  return std::string(name.text, name.length);
}

bool StubSplitsNameAt(char c) { return IsSeparator(c); }

bool NameStaysInsideFolder(const std::string &name) {
  return NameStaysInside(name.data(), DWORD(name.size()));
}

bool NameFitsFolder(size_t folderLength, const std::string &name) {
  return OutputPathFits(DWORD(folderLength), name.data(), DWORD(name.size()));
}

std::string InstallerArguments(InstallerRun run, bool windowsNT, const std::string &folder,
                               const std::string &infName) {
  // The stub's own composition, into a buffer as large as any line can be.
  std::string line(folder.size() + infName.size() + 256, '\0');
  DWORD n = AppendInstallerArguments(&line[0], 0, DWORD(line.size()), run, windowsNT,
                                     folder.c_str(), infName.c_str());
  line.resize(n);
  return line;
}

}  // namespace vantrel_pack
