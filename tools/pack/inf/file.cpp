#include "file.h"

#include "cli/text.h"

#include <cctype>
#include <map>
#include <string_view>

namespace vantrel_pack {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string &text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Where the installers' reading is documented, our reading keeps to it;
// where it is not, the text is refused rather than read one way and
// installed another.
const size_t kLongestSectionName = 255;  // longer: setupapi refuses the INF
const size_t kLongestLine = 4096;        // the longest string setupapi hands over
const size_t kLongestField = 4095;       // after %strings%, without its terminating NUL
const size_t kLongestString = 511;       // a [Strings] value; longer ones are cut silently
const size_t kMostProblems = 100;        // the rest are counted, not kept
// Entries and values the reader keeps, each some 50 to 110 bytes in
// memory: an INF that `inf` writes has about 7 per file.
const size_t kMostItems = 400000;
const size_t kItemsPerSection = 40;

void Report(std::vector<InfProblem> &problems, int line, std::string text) {
  if (problems.size() < kMostProblems) {
    problems.push_back({line, std::move(text)});
  } else if (problems.size() == kMostProblems) {
    problems.push_back({0, "more problems follow; these are the first " +
                               std::to_string(kMostProblems)});
  }
}

// Whether `items` passed the most the reader takes; reports it when so.
bool TooManyItems(size_t items, std::vector<InfProblem> &problems, int line) {
  if (items <= kMostItems) return false;
  Report(problems, line,
         "more than " + std::to_string(kMostItems) + " entries and values (a section counting as " +
             std::to_string(kItemsPerSection) + "), more than the packer reads of an INF file");
  return true;
}

// The file's physical lines, one at a time: CR LF and LF end one. A CR
// alone does not end a line for setupapi, where we would: it is reported
// (once), and read as a line end so that the rest still gets checked.
class PhysicalLines {
 public:
  PhysicalLines(std::string_view bytes, std::vector<InfProblem> &problems)
      : bytes_(bytes), problems_(problems) {}

  // The next line into `line`; false at the end of the file.
  bool Next(std::string &line) {
    if (at_ >= bytes_.size()) return false;
    size_t end = bytes_.find_first_of("\r\n", at_);
    if (end == std::string_view::npos) end = bytes_.size();
    line.assign(bytes_.substr(at_, end - at_));
    ++number_;
    at_ = end;
    if (at_ < bytes_.size() && bytes_[at_] == '\r') {
      ++at_;
      if (at_ < bytes_.size() && bytes_[at_] == '\n') {
        ++at_;
      } else if (!loneCrSeen_) {
        loneCrSeen_ = true;
        Report(problems_, number_,
               "a carriage return without a line feed, which setupapi does not take for the "
               "end of a line: save the file with CR LF line ends");
      }
    } else if (at_ < bytes_.size()) {
      ++at_;  // LF
    }
    return true;
  }

  int Number() const { return number_; }
  bool AtEnd() const { return at_ >= bytes_.size(); }

 private:
  std::string_view bytes_;
  std::vector<InfProblem> &problems_;
  size_t at_ = 0;
  int number_ = 0;
  bool loneCrSeen_ = false;
};

// A physical line without its comment. `continued` tells whether it ends in
// the continuation mark, which is dropped; `unclosed` whether a quote stays
// open at its end.
std::string WithoutComment(const std::string &line, bool &continued, bool &unclosed) {
  bool quoted = false;
  size_t end = line.size();
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ';' && !quoted) {
      end = i;
      break;
    }
  }
  unclosed = quoted;
  std::string text = line.substr(0, end);
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  continued = !quoted && !text.empty() && text.back() == '\\';
  if (continued) text.pop_back();
  return text;
}

// One field of an entry as it is written: unquoted parts lose their outer
// blanks, quoted parts keep everything and turn "" into ".
struct FieldBuilder {
  std::string text;
  size_t keep = 0;  // characters that trimming must not remove
  void Add(char c, bool quoted) {
    if (!quoted && text.size() == keep && IsBlank(c)) {
      if (text.empty()) return;  // leading blank
    }
    text += c;
    if (quoted || !IsBlank(c)) keep = text.size();
  }
  std::string Take() {
    std::string field = text.substr(0, keep);
    text.clear();
    keep = 0;
    return field;
  }
};

// Entries and sections are read straight into their final form and
// substituted where they lie: the file is held about once.
using RawEntry = InfEntry;
using RawSection = InfSection;

// Splits an entry at its first unquoted '=' (in the first field only) and
// at unquoted commas.
RawEntry SplitEntry(const std::string &text, int line) {
  RawEntry entry{line, false, "", {}};
  FieldBuilder field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
        field.Add('"', true);
        ++i;
      } else {
        quoted = !quoted;
        field.keep = field.text.size();  // "" is an empty value, not nothing
      }
    } else if (!quoted && c == '=' && !entry.hasKey && entry.values.empty()) {
      entry.hasKey = true;
      entry.key = field.Take();
    } else if (!quoted && c == ',') {
      entry.values.push_back(field.Take());
    } else {
      field.Add(c, quoted);
    }
  }
  entry.values.push_back(field.Take());
  if (entry.hasKey && entry.values.size() == 1 && entry.values[0].empty()) {
    entry.values.clear();  // "Key=" has no value
  }
  return entry;
}


bool IsStringsSection(const std::string &name) {
  std::string folded = FoldCase(name);
  return folded == "strings" || folded.rfind("strings.", 0) == 0;
}

bool AllDigits(const std::string &text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

class Substitution {
 public:
  Substitution(const std::deque<RawSection> &sections) {
    // [Strings] first, then the language variants for keys it lacks.
    for (int pass = 0; pass < 2; ++pass) {
      for (const RawSection &section : sections) {
        bool plain = FoldCase(section.name) == "strings";
        if (!IsStringsSection(section.name) || plain != (pass == 0)) continue;
        for (const RawEntry &entry : section.entries) {
          if (!entry.hasKey) continue;
          std::string value;
          for (size_t i = 0; i < entry.values.size(); ++i) {
            value += (i ? "," : "") + entry.values[i];
          }
          strings_.emplace(FoldCase(entry.key), value);
        }
      }
    }
  }

  std::string Apply(const std::string &text, int line, std::vector<InfProblem> &problems) const {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '%') {
        out += text[i];
        continue;
      }
      size_t close = text.find('%', i + 1);
      if (close == std::string::npos) {
        Report(problems, line, "a lone % in \"" + text + "\" (write %% for a percent sign)");
        out += text.substr(i);
        break;
      }
      std::string name = text.substr(i + 1, close - i - 1);
      if (name.empty()) {
        out += '%';
      } else if (AllDigits(name)) {
        out += text.substr(i, close - i + 1);
      } else {
        auto found = strings_.find(FoldCase(name));
        if (found != strings_.end()) {
          out += found->second;
        } else {
          Report(problems, line, "%" + name + "% is not defined in [Strings]");
          out += text.substr(i, close - i + 1);
        }
      }
      i = close;
    }
    return out;
  }

 private:
  std::map<std::string, std::string> strings_;
};

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

// Reads the lines into sections, before any substitution.
std::deque<RawSection> ReadSections(std::string_view bytes, std::vector<InfProblem> &problems,
                                     std::map<std::string, size_t> &byName) {
  std::deque<RawSection> sections;
  RawSection *current = nullptr;
  PhysicalLines lines(bytes, problems);
  std::string line;
  size_t items = 0;
  while (lines.Next(line)) {
    const int number = lines.Number();
    std::string text;
    for (;;) {
      bool continued = false;
      bool unclosed = false;
      text += WithoutComment(line, continued, unclosed);
      if (unclosed) Report(problems, lines.Number(), "a quote is not closed on this line");
      if (!continued) break;
      if (!lines.Next(line)) {
        Report(problems, lines.Number(), "the last line ends in a continuation mark '\\'");
        break;
      }
    }
    std::string entry = Trimmed(text);
    if (entry.empty()) continue;
    if (entry.size() > kLongestLine) {
      // Not split: what the installers make of it is not documented.
      Report(problems, number,
             "an entry of " + std::to_string(entry.size()) +
                 " characters, longer than the installers are documented to read (" +
                 std::to_string(kLongestLine) + "): split it");
      continue;
    }
    if (entry[0] == '[') {
      size_t close = entry.find(']');
      if (close == std::string::npos) {
        Report(problems, number, "the section name is not closed with ']'");
        close = entry.size();
      } else if (close + 1 != entry.size()) {
        Report(problems, number, "text after the section name: " + entry.substr(close + 1));
      }
      // Blanks inside the brackets stay part of the name, as setupapi reads it.
      std::string name = entry.substr(1, close - 1);
      if (name.empty()) Report(problems, number, "a section without a name");
      if (Trimmed(name) != name) {
        Report(problems, number,
               "the section name " + Quoted(name) +
                   " has blanks inside its brackets, which the installers keep as part of the "
                   "name: write [" + Trimmed(name) + "]");
      }
      if (name.size() > kLongestSectionName) {
        Report(problems, number,
               "a section name of " + std::to_string(name.size()) +
                   " characters: setupapi refuses the whole INF for a name longer than " +
                   std::to_string(kLongestSectionName));
      }
      auto found = byName.find(FoldCase(name));
      if (found == byName.end()) {
        // A section costs about forty entries' memory (its index and the
        // first block of its entries).
        items += kItemsPerSection;
        if (TooManyItems(items, problems, number)) break;
        byName.emplace(FoldCase(name), sections.size());
        sections.push_back({name, number, {}});
        current = &sections.back();
      } else {
        current = &sections[found->second];
      }
      continue;
    }
    if (!current) {
      Report(problems, number, "text before the first section: " + entry);
      continue;
    }
    current->entries.push_back(SplitEntry(entry, number));
    current->entries.back().values.shrink_to_fit();
    items += 1 + current->entries.back().values.size();
    if (TooManyItems(items, problems, number)) break;
  }
  return sections;
}

// The text as setupapi reads it: up to the first Ctrl-Z, its end-of-file
// mark. Blanks and line ends after it are common (old editors wrote the
// mark last) and change nothing; anything else after it is read by one
// installer and not, or not surely, by another, so it is refused.
std::string_view UpToEndMark(std::string_view text, std::vector<InfProblem> &problems) {
  size_t mark = text.find('\x1A');
  if (mark == std::string_view::npos) return text;
  std::string_view rest = text.substr(mark);
  if (rest.find_first_not_of(" \t\r\n\x1A") != std::string_view::npos) {
    int line = 1;
    for (size_t i = 0; i < mark; ++i) {
      if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == mark || text[i + 1] != '\n'))) ++line;
    }
    Report(problems, line,
           "a Ctrl-Z (end-of-file mark) with text after it, which setupapi does not read: "
           "remove the mark");
  }
  return text.substr(0, mark);
}

}  // namespace

std::string InfEntry::Value(size_t index) const {
  return index < values.size() ? values[index] : std::string();
}

const InfEntry *InfSection::Find(const std::string &wanted) const {
  for (const InfEntry &entry : entries) {
    if (entry.hasKey && FoldCase(entry.key) == FoldCase(wanted)) return &entry;
  }
  return nullptr;
}

const InfSection *InfFile::Find(const std::string &wanted) const {
  auto found = index.find(FoldCase(wanted));
  return found == index.end() ? nullptr : &sections[found->second];
}

InfFile ParseInf(const std::string &bytes) {
  InfFile inf;
  if (bytes.size() > kLargestInf) {
    inf.problems.push_back({0, "the file is larger than " + std::to_string(kLargestInf >> 20) +
                                   " MiB, more than an INF file is read here"});
    return inf;
  }
  if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0) {
    inf.problems.push_back({0,
                            "the file is saved as Unicode (UTF-16), which Windows 95/98 "
                            "cannot read: save it as ANSI text"});
    return inf;
  }
  std::string_view text = bytes;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    inf.problems.push_back({1,
                            "the file begins with a UTF-8 byte-order mark, which the "
                            "installers read as text: save it without one"});
    text.remove_prefix(3);
  }
  if (text.find('\0') != std::string_view::npos) {
    inf.problems.push_back({0, "the file holds NUL bytes: it is not an ANSI text file"});
    return inf;
  }
  text = UpToEndMark(text, inf.problems);
  std::deque<RawSection> raw = ReadSections(text, inf.problems, inf.index);
  for (const RawSection &section : raw) {
    if (!IsStringsSection(section.name)) continue;
    for (const RawEntry &entry : section.entries) {
      size_t length = entry.values.empty() ? 0 : entry.values.size() - 1;  // the commas
      for (const std::string &value : entry.values) length += value.size();
      if (length <= kLongestString) continue;
      Report(inf.problems, entry.line,
             "a [Strings] value of " + std::to_string(length) +
                 " characters, which setupapi cuts to " + std::to_string(kLongestString) +
                 " without a word: shorten it");
    }
  }
  Substitution strings(raw);
  for (RawSection &section : raw) {
    if (IsStringsSection(section.name)) continue;  // taken as written
    for (RawEntry &entry : section.entries) {
      if (entry.key.find('%') != std::string::npos) {
        entry.key = strings.Apply(entry.key, entry.line, inf.problems);
      }
      for (std::string &value : entry.values) {
        if (value.find('%') == std::string::npos) continue;
        value = strings.Apply(value, entry.line, inf.problems);
        if (value.size() > kLongestField) {
          Report(inf.problems, entry.line,
                 "a value of " + std::to_string(value.size()) +
                     " characters with its %strings% put in; setupapi takes at most " +
                     std::to_string(kLongestField) + ": shorten it");
        }
      }
    }
  }
  inf.sections = std::move(raw);
  return inf;
}

}  // namespace vantrel_pack
