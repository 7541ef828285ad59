#include "file.h"

#include "cli/text.h"

#include <cctype>
#include <map>

namespace vantrel_pack {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string &text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// The file's physical lines; CR LF, LF and CR all end one.
std::vector<std::string> PhysicalLines(const std::string &bytes) {
  std::vector<std::string> lines(1);
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

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

struct RawEntry {
  int line;
  bool hasKey = false;
  std::string key;
  std::vector<std::string> values;
};

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

struct RawSection {
  std::string name;
  int line;
  std::vector<RawEntry> entries;
};

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
  Substitution(const std::vector<RawSection> &sections) {
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
        problems.push_back({line, "a lone % in \"" + text + "\" (write %% for a percent sign)"});
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
          problems.push_back({line, "%" + name + "% is not defined in [Strings]"});
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

// Reads the lines into sections, before any substitution.
std::vector<RawSection> ReadSections(const std::string &bytes, std::vector<InfProblem> &problems) {
  std::vector<RawSection> sections;
  std::map<std::string, size_t> byName;
  RawSection *current = nullptr;
  std::vector<std::string> lines = PhysicalLines(bytes);
  for (size_t i = 0; i < lines.size(); ++i) {
    const int number = int(i + 1);
    std::string text;
    for (;;) {
      bool continued = false;
      bool unclosed = false;
      text += WithoutComment(lines[i], continued, unclosed);
      if (unclosed) problems.push_back({int(i + 1), "a quote is not closed on this line"});
      if (!continued) break;
      if (i + 1 == lines.size()) {
        problems.push_back({int(i + 1), "the last line ends in a continuation mark '\\'"});
        break;
      }
      ++i;
    }
    std::string entry = Trimmed(text);
    if (entry.empty()) continue;
    if (entry[0] == '[') {
      size_t close = entry.find(']');
      if (close == std::string::npos) {
        problems.push_back({number, "the section name is not closed with ']'"});
        close = entry.size();
      } else if (close + 1 != entry.size()) {
        problems.push_back({number, "text after the section name: " + entry.substr(close + 1)});
      }
      std::string name = Trimmed(entry.substr(1, close - 1));
      if (name.empty()) problems.push_back({number, "a section without a name"});
      auto found = byName.find(FoldCase(name));
      if (found == byName.end()) {
        byName.emplace(FoldCase(name), sections.size());
        sections.push_back({name, number, {}});
        current = &sections.back();
      } else {
        current = &sections[found->second];
      }
      continue;
    }
    if (!current) {
      problems.push_back({number, "text before the first section: " + entry});
      continue;
    }
    current->entries.push_back(SplitEntry(entry, number));
  }
  return sections;
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
  for (const InfSection &section : sections) {
    if (FoldCase(section.name) == FoldCase(wanted)) return &section;
  }
  return nullptr;
}

InfFile ParseInf(const std::string &bytes) {
  InfFile inf;
  if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0) {
    inf.problems.push_back({0,
                            "the file is saved as Unicode (UTF-16), which Windows 95/98 "
                            "cannot read: save it as ANSI text"});
    return inf;
  }
  std::string text = bytes;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
    inf.problems.push_back({1,
                            "the file begins with a UTF-8 byte-order mark, which the "
                            "installers read as text: save it without one"});
    text.erase(0, 3);
  }
  if (text.find('\0') != std::string::npos) {
    inf.problems.push_back({0, "the file holds NUL bytes: it is not an ANSI text file"});
    return inf;
  }
  std::vector<RawSection> raw = ReadSections(text, inf.problems);
  Substitution strings(raw);
  for (const RawSection &section : raw) {
    InfSection out{section.name, section.line, {}};
    const bool keepAsWritten = IsStringsSection(section.name);
    for (const RawEntry &entry : section.entries) {
      InfEntry parsed;
      parsed.line = entry.line;
      parsed.hasKey = entry.hasKey;
      parsed.key = keepAsWritten ? entry.key : strings.Apply(entry.key, entry.line, inf.problems);
      for (const std::string &value : entry.values) {
        parsed.values.push_back(keepAsWritten ? value
                                              : strings.Apply(value, entry.line, inf.problems));
      }
      out.entries.push_back(parsed);
    }
    inf.sections.push_back(out);
  }
  return inf;
}

}  // namespace vantrel_pack
