#!/bin/sh
# scripts/check_tiers.py catches each kind of fault planted in a copy of the
# tree: an upward include in the stub and in the packer, a stub header
# outside the bridge, and a packer that reads or restates what the stub
# shows a user.  usage: tier_check_test.sh REPOSITORY
set -u
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cp -r "$1/src" "$1/tools" "$WORK/"
echo '#include "../ui/dialogs.h"' >> "$WORK/src/core/text.cpp"
echo '#include "commands/commands.h"' >> "$WORK/tools/pack/cli/text.cpp"
echo '#include "archive/walker.h"' >> "$WORK/tools/pack/zip/records.h"
echo 'void Scrape() { host::Events(); }' >> "$WORK/tools/pack/commands/test.cpp"
echo 'const char *kSeen = "Error extracting file(s).";' >> "$WORK/tools/pack/commands/extract.cpp"
python3 "$1/scripts/check_tiers.py" "$WORK" > "$WORK/out"
status=$?
FAILURES=0
[ $status -eq 1 ] || { echo "FAIL: exit status $status, not 1" >&2; FAILURES=1; }
for fault in "core includes ../ui/dialogs.h" "cli includes commands/commands.h" \
             "only bridge/ may" "(Events)" "Error extracting file(s)."; do
  grep -qF "$fault" "$WORK/out" || { echo "FAIL: not caught: $fault" >&2; FAILURES=1; }
done
[ $FAILURES -eq 0 ] && echo "the tier check catches every planted fault"
exit $FAILURES
