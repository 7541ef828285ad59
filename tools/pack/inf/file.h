// An INF file read the way the system's INF installers read it: sections
// (names without regard to case, repeated sections merged), entries split at
// the first '=' and at commas, quoted values ("" for a quote inside one),
// comments after ';', lines continued by a final '\', and %name% replaced
// from the [Strings] sections (%% is a percent sign; %24% and other numbers
// are directory ids, left for the installer). Whatever an installer would
// misread is reported as a problem with its line number, and so is whatever
// they are not documented to read as we do (a Ctrl-Z with text after it, a
// CR without LF, blanks inside a section's brackets, over-long names, lines
// and values): such an INF is refused rather than read one way and
// installed another.
//
// Files over kLargestInf are not read at all; below it the parser holds
// the file about once, and reports at most about a hundred problems.
#ifndef VANTREL_PACK_INF_FILE_H
#define VANTREL_PACK_INF_FILE_H

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace vantrel_pack {

struct InfEntry {
  int line = 0;  // where the entry starts, from 1
  bool hasKey = false;
  std::string key;                  // left of '=', unquoted and substituted
  std::vector<std::string> values;  // right of '=' (or the whole entry), split at commas

  // The value at `index`, or "" when the entry has fewer.
  std::string Value(size_t index) const;
};

struct InfSection {
  std::string name;  // as first written
  int line = 0;      // of its first header
  std::deque<InfEntry> entries;  // a deque: growing it never holds two copies

  // The first entry whose key is `key` (any case), or null.
  const InfEntry *Find(const std::string &key) const;
};

struct InfProblem {
  int line = 0;  // 0: the file as a whole
  std::string text;
};

// The largest INF file the packer reads. Setup INF files are a few
// kilobytes; one that `inf` writes takes about 42 bytes and 7 entries and
// values a file. The reader also keeps at most 400,000 entries and values,
// a section counting as 40 (some 55,000 files), so that what it holds stays
// under about 64 MiB whatever the text: linear in the file's size, bounded.
constexpr size_t kLargestInf = size_t(4) << 20;

struct InfFile {
  std::deque<InfSection> sections;  // in the order their names first appear
  std::vector<InfProblem> problems;
  std::map<std::string, size_t> index;  // folded name -> position in `sections`

  // The section called `name` (any case), or null.
  const InfSection *Find(const std::string &name) const;
};

// Reads an INF file's bytes (ANSI text in the package's code page).
InfFile ParseInf(const std::string &bytes);

}  // namespace vantrel_pack

#endif
