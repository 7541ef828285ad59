// Walks a command's words: options with a value take it from the next word
// or after '=' (--title=Setup); everything else is a positional argument.
#ifndef VANTREL_PACK_ARGUMENTS_H
#define VANTREL_PACK_ARGUMENTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel_pack {

class Arguments {
 public:
  explicit Arguments(const std::vector<std::string> &words) : words_(words) {}

  // Moves to the next word; false at the end.
  bool Next();
  // Moves to the next option, keeping the words that are not options aside;
  // false at the end.
  bool NextOption();
  // The one word that was not an option; throws UsageError with `missing`
  // when there is none, and naming `what` when there are more.
  std::string OnlyPositional(const std::string &missing, const std::string &what) const;
  // The current word is an option (begins with '-' and is not "-").
  bool IsOption() const;
  // The option's name without any "=value" part.
  std::string Name() const;
  // The option's value; throws UsageError when it has none.
  std::string Value();
  // The option must not carry "=value".
  void NoValue() const;
  const std::string &Word() const { return words_[index_]; }

 private:
  const std::vector<std::string> &words_;
  std::vector<std::string> positional_;
  size_t index_ = size_t(-1);
  bool positionalOnly_ = false;
};

// A row of a table of options that set one field each: the option's name
// and the field, a pointer to a member of the command's options.
template <class Member>
struct OptionRow {
  const char *name;
  Member member;
};

// The field that `name` stands for in such a table; null when no row has
// that name.
template <class Member, size_t N>
Member OptionNamed(const OptionRow<Member> (&table)[N], const std::string &name) {
  for (const OptionRow<Member> &row : table) {
    if (name == row.name) return row.member;
  }
  return nullptr;
}

// A whole decimal number in [low, high]; throws UsageError naming `what`.
long ParseNumber(const std::string &text, long low, long high, const std::string &what);

// Bytes, or with a k/m suffix (1024-based); throws UsageError.
uint64_t ParseSize(const std::string &text, const std::string &what);

}  // namespace vantrel_pack

#endif
