#include "arguments.h"

#include <cctype>

#include "pack_error.h"

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

std::string Arguments::OnlyPositional(const std::string &missing, const std::string &what) const {
  if (positional_.empty()) throw UsageError(missing);
  if (positional_.size() > 1) throw UsageError("more than one " + what + ": " + positional_[1]);
  return positional_[0];
}

bool Arguments::IsOption() const {
  const std::string &word = words_[index_];
  return !positionalOnly_ && word.size() > 1 && word[0] == '-';
}

std::string Arguments::Name() const {
  const std::string &word = words_[index_];
  return word.substr(0, word.find('='));
}

std::string Arguments::Value() {
  const std::string &word = words_[index_];
  size_t equals = word.find('=');
  if (word.rfind("--", 0) == 0 && equals != std::string::npos) return word.substr(equals + 1);
  std::string name = word;
  if (index_ + 1 >= words_.size()) throw UsageError(name + " needs a value");
  return words_[++index_];
}

void Arguments::NoValue() const {
  if (Word().find('=') != std::string::npos) throw UsageError(Name() + " takes no value");
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
  std::string digits = text;
  uint64_t unit = 1;
  if (!digits.empty()) {
    char last = char(std::tolower(static_cast<unsigned char>(digits.back())));
    if (last == 'k' || last == 'm') {
      unit = last == 'k' ? 1024 : 1024 * 1024;
      digits.pop_back();
    }
  }
  if (digits.empty() || digits.size() > 10) {
    throw UsageError(what + " must be a size in bytes, optionally with k or m");
  }
  uint64_t value = 0;
  for (char c : digits) {
    if (!std::isdigit(static_cast<unsigned char>(c))) {
      throw UsageError(what + " must be a size in bytes, optionally with k or m");
    }
    value = value * 10 + uint64_t(c - '0');
  }
  if (value == 0) throw UsageError(what + " must be above 0");
  return value * unit;
}

}  // namespace vantrel_pack
