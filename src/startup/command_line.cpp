#include "command_line.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The program's name, as Windows itself splits it off: a quoted name runs
// to the closing quote (a folder may hold spaces, never a quote), any other
// to the first blank.
const char *SkipProgramName(const char *at) {
  if (*at == '"') {
    ++at;
    while (*at && *at != '"') ++at;
    return *at ? at + 1 : at;
  }
  while (*at && !IsBlank(*at)) ++at;
  return at;
}

// Reads one argument, which runs to a blank outside quotes; its quotes are
// not part of it, so "/Q" counts as /Q. Returns where the argument ended.
const char *ReadArgument(const char *at, bool &quietSwitch) {
  bool quoted = false;
  unsigned length = 0;
  char first = 0, second = 0;
  for (; *at && (quoted || !IsBlank(*at)); ++at) {
    if (*at == '"') {
      quoted = !quoted;
      continue;
    }
    if (length == 0) first = *at;
    if (length == 1) second = *at;
    ++length;
  }
  quietSwitch = length == 2 && (first == '/' || first == '-') && (second == 'Q' || second == 'q');
  return at;
}
}  // namespace

bool QuietSwitchGiven(const char *commandLine) {
  if (!commandLine) return false;
  const char *at = SkipProgramName(commandLine);
  for (;;) {
    while (IsBlank(*at)) ++at;
    if (!*at) return false;
    bool quietSwitch = false;
    at = ReadArgument(at, quietSwitch);
    if (quietSwitch) return true;
  }
}
