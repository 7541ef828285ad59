// Member names as Windows reads their bytes in the package's code page:
// where a double-byte character sits (its second byte may be that of '\'),
// which names are one file (case folded, trailing dots and spaces dropped
// from each component), and which names it cannot create at all (forbidden
// characters, devices, a file where a folder must be). create and inf refuse
// what this finds, inspect warns of it, extract refuses it before writing.
#ifndef VANTREL_PACK_ZIP_WINDOWS_NAMES_H
#define VANTREL_PACK_ZIP_WINDOWS_NAMES_H

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace vantrel_pack {

class WindowsNames {
 public:
  explicit WindowsNames(int codePage);

  int codePage() const { return codePage_; }
  // The first byte of a double-byte character (932, 936, 949, 950 only).
  bool IsLeadByte(unsigned char c) const;
  // The components between '\' and '/', empty ones included; a double-byte
  // character is never split, whatever its second byte.
  std::vector<std::string> Components(const std::string &name) const;
  // The same for every name of one file: each component without trailing
  // dots and spaces and in upper case as Windows compares it, empty
  // components left out, '\' between them.
  std::string Key(const std::string &name) const;
  // Why Windows cannot make a file of this name, or "": a forbidden or
  // control character, a double-byte character ending in the byte of '\' or
  // '/', or what the stub itself refuses (a device, "..", a drive).
  std::string Unmakeable(const std::string &name) const;

 private:
  int codePage_;
  const unsigned char *leadRanges_;  // pairs of first and last, 0-terminated
  std::array<unsigned char, 256> upper_;
};

// A finding about a member's name: it names `member`, and for a clash the
// member before it that it clashes with as well.
struct NameFinding {
  size_t member;
  std::string text;        // begins with the member label(s)
  bool stopsInstallation;  // false: installs, but not what the names show
};

// Every name Windows cannot make, every two names that are one file (the
// later replaces the earlier), and every file that stands where another
// member needs a folder, in member order. `names` are the names as the
// stub takes them, in the code page of `windows`; the texts call them
// members, or with `files` files of a folder, named by their paths alone.
std::vector<NameFinding> WindowsNameFindings(const std::vector<std::string> &names,
                                             const WindowsNames &windows, bool files = false);

}  // namespace vantrel_pack

#endif
