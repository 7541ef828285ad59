#include "arguments.h"

#include <cctype>

namespace vantrel_pack {

bool Arguments::Next() {
  ++index_;
  if (index_ >= words_.size()) return false;
  if (!positionalOnly_ && words_[index_] == "--") {
    positionalOnly_ = true;
    return Next();
  }
  return true;
}

bool Arguments::NextOption() {
  while (Next()) {
    if (IsOption()) return true;
    positional_.push_back(Word());
  }
  return false;
}

bool Arguments::IsOption() const {
  return !positionalOnly_ && Word().size() > 1 && Word()[0] == '-';
}

std::string Arguments::Name() const { return Word().substr(0, Word().find('=')); }

std::string Arguments::Value() {
  const std::string &word = Word();
  size_t equals = word.find('=');
  if (word.rfind("--", 0) == 0 && equals != std::string::npos) return word.substr(equals + 1);
  if (index_ + 1 >= words_.size()) throw UsageError(word + " needs a value");
  return words_[++index_];
}

void Arguments::NoValue() const {
  if (Word().find('=') != std::string::npos) throw UsageError(Name() + " takes no value");
}

bool NamesInclude(const char *names, const std::string &name) {
  std::string all = names;
  for (size_t start = 0; start <= all.size();) {
    size_t comma = all.find(',', start);
    size_t end = comma == std::string::npos ? all.size() : comma;
    size_t first = all.find_first_not_of(' ', start);
    if (first < end && all.compare(first, end - first, name) == 0) return true;
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return false;
}

std::string HelpRow(const char *names, const char *value, const char *help, size_t column) {
  std::string left = std::string(names) + (value ? " " + std::string(value) : "");
  // A spelling too long for the column puts the help on a line of its own.
  std::string row = "  " + left;
  row += left.size() < column ? std::string(column - left.size(), ' ') : "\n" + std::string(column + 2, ' ');
  for (const char *c = help; *c; ++c) {
    row += *c;
    if (*c == '\n') row += std::string(column + 2, ' ');
  }
  return row + "\n";
}

std::string OnlyPositional(const std::vector<std::string> &positional, const std::string &missing,
                           const std::string &what) {
  if (positional.empty()) throw UsageError(missing);
  if (positional.size() > 1) throw UsageError("more than one " + what + ": " + positional[1]);
  return positional[0];
}

long ParseNumber(const std::string &text, long low, long high, const std::string &what) {
  if (text.empty() || text.size() > 12) throw UsageError(what + " must be a number");
  long value = 0;
  for (char c : text) {
    if (!std::isdigit(static_cast<unsigned char>(c))) throw UsageError(what + " must be a number");
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) {
    throw UsageError(what + " must be from " + std::to_string(low) + " to " + std::to_string(high));
  }
  return value;
}

uint64_t ParseSize(const std::string &text, const std::string &what) {
  const std::string wrong = what + " must be a size in bytes, optionally with k or m";
  std::string digits = text;
  uint64_t unit = 1;
  if (!digits.empty()) {
    char last = char(std::tolower(static_cast<unsigned char>(digits.back())));
    if (last == 'k' || last == 'm') {
      unit = last == 'k' ? 1024 : 1024 * 1024;
      digits.pop_back();
    }
  }
  if (digits.empty() || digits.size() > 10) throw UsageError(wrong);
  uint64_t value = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) throw UsageError(wrong);
    value = value * 10 + uint64_t(c - '0');
  }
  if (value == 0) throw UsageError(what + " must be above 0");
  return value * unit;
}

}  // namespace vantrel_pack
