// A command's words: options from a table in which each option carries its
// help text, so that parsing and `--help` come from one place, and the
// positional words. An option's value follows as the next word or after
// '=' (--title=Setup); "--" ends the options.
#ifndef VANTREL_PACK_CLI_ARGUMENTS_H
#define VANTREL_PACK_CLI_ARGUMENTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "errors.h"

namespace vantrel_pack {

// One option of a command.
template <class Options>
struct Option {
  const char *names;  // every spelling, as the help shows them: "-o, --output"
  const char *value;  // the value's placeholder in the help ("OUT"); null for a switch
  const char *help;   // as shown, one line per '\n'
  // Sets the option; `name` is the spelling used, for error messages. A
  // row without it shows another form of the option above it in the help.
  void (*apply)(Options &options, const std::string &value, const std::string &name);
};

// The words that are not options, after each option has been applied.
// Throws UsageError for an unknown option, a missing value, or a value
// given to a switch.
template <class Options, size_t N>
std::vector<std::string> ParseOptions(const std::vector<std::string> &words,
                                      const Option<Options> (&table)[N], Options &options);

// The table as the help shows it: each option's names and value, padded to
// `column` characters after two spaces, then its help, whose further lines
// are indented to match.
template <class Options, size_t N>
std::string OptionsHelp(const Option<Options> (&table)[N], size_t column);

// The one positional word; throws UsageError with `missing` when there is
// none, and naming `what` when there are more.
std::string OnlyPositional(const std::vector<std::string> &positional, const std::string &missing,
                           const std::string &what);

// A whole decimal number in [low, high]; throws UsageError naming `what`.
long ParseNumber(const std::string &text, long low, long high, const std::string &what);

// Bytes, or with a k/m suffix (1024-based); throws UsageError.
uint64_t ParseSize(const std::string &text, const std::string &what);

// The commonest options: a switch that turns a field on, a value kept as
// it is given, and the --codepage of every command that takes or shows
// texts. `field` names the option's field: &CreateOptions::title.
template <class T>
struct FieldOf;
template <class Options, class Value>
struct FieldOf<Value Options::*> {
  using Owner = Options;
};

template <auto field>
void Switch(typename FieldOf<decltype(field)>::Owner &options, const std::string &,
            const std::string &) {
  options.*field = true;
}

template <auto field>
void Keep(typename FieldOf<decltype(field)>::Owner &options, const std::string &value,
          const std::string &) {
  options.*field = value;
}

template <class Options>
void ApplyCodePage(Options &options, const std::string &value, const std::string &name) {
  options.codePage = int(ParseNumber(value, 1, 65535, name));
}

// ---- what the templates above are made of ----------------------------------

// Walks the words one at a time.
class Arguments {
 public:
  explicit Arguments(const std::vector<std::string> &words) : words_(words) {}
  // Moves to the next option, keeping the words that are not options aside;
  // false at the end.
  bool NextOption();
  // The option's name without any "=value" part.
  std::string Name() const;
  // The option's value; throws UsageError when it has none.
  std::string Value();
  // The option must not carry "=value".
  void NoValue() const;
  const std::vector<std::string> &Positional() const { return positional_; }

 private:
  bool Next();
  bool IsOption() const;
  const std::string &Word() const { return words_[index_]; }

  const std::vector<std::string> &words_;
  std::vector<std::string> positional_;
  size_t index_ = size_t(-1);
  bool positionalOnly_ = false;
};

// Whether `name` is one of the comma-separated spellings in `names`.
bool NamesInclude(const char *names, const std::string &name);

// One row of the help.
std::string HelpRow(const char *names, const char *value, const char *help, size_t column);

template <class Options, size_t N>
std::vector<std::string> ParseOptions(const std::vector<std::string> &words,
                                      const Option<Options> (&table)[N], Options &options) {
  Arguments in(words);
  while (in.NextOption()) {
    const std::string name = in.Name();
    const Option<Options> *found = nullptr;
    for (const Option<Options> &option : table) {
      if (!found && option.apply && NamesInclude(option.names, name)) found = &option;
    }
    if (!found) throw UsageError("unknown option " + name);
    std::string value;
    if (found->value) {
      value = in.Value();
    } else {
      in.NoValue();
    }
    found->apply(options, value, name);
  }
  return in.Positional();
}

template <class Options, size_t N>
std::string OptionsHelp(const Option<Options> (&table)[N], size_t column) {
  std::string help;
  for (const Option<Options> &option : table) {
    help += HelpRow(option.names, option.value, option.help, column);
  }
  return help;
}

}  // namespace vantrel_pack

#endif
