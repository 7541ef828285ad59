#!/bin/sh
# The vantrel-pack executable as a user runs it: the default stub beside the
# program or in ../share/vantrel/, --version, exit statuses, one-line
# errors, and a package whose archive part Info-ZIP unzip extracts.
# usage: cli_test.sh PATH/TO/vantrel-pack
set -u
PACK_BUILT=$1
. "$(dirname "$0")/checks.sh"

# A private copy of the tool with a dummy stub beside it.
mkdir "$WORK/bin" "$WORK/src" "$WORK/src/docs"
cp "$PACK_BUILT" "$WORK/bin/vantrel-pack"
PACK="$WORK/bin/vantrel-pack"
{ printf 'MZ'; head -c 35326 /dev/zero; } > "$WORK/bin/vantrel-stub.exe"
seq 1 3000 > "$WORK/src/docs/numbers.txt"
printf 'MZ' > "$WORK/src/app.exe"

# The two steps: an INF for the folder, then the package.
"$PACK" inf --name "CLI test" --shortcut "CLI test=app.exe" -o "$WORK/src/app.inf" "$WORK/src" \
  > "$WORK/out" 2> "$WORK/err" || fail "inf: $(cat "$WORK/err")"
grep -q 'CopyFiles=' "$WORK/src/app.inf" || fail "the INF written copies nothing"
"$PACK" inf --name "CLI test" -o "$WORK/src/app.inf" "$WORK/src" > /dev/null 2>&1
[ $? -eq 1 ] || fail "inf replaced an existing INF without --force"

"$PACK" create -o "$WORK/setup.exe" --title "CLI test" "$WORK/src" > "$WORK/out" 2> "$WORK/err" ||
  fail "create with the default stub: $(cat "$WORK/err")"
[ -s "$WORK/err" ] && fail "create writes to a standard error that is no terminal: $(cat "$WORK/err")"
[ "$(head -c 35328 "$WORK/setup.exe" | cmp - "$WORK/bin/vantrel-stub.exe" && echo same)" = same ] ||
  fail "the package does not start with the stub beside the tool"

"$PACK" inspect "$WORK/setup.exe" > "$WORK/inspect.out" 2> "$WORK/err" || fail "inspect: $(cat "$WORK/err")"
grep -q '"CLI test"' "$WORK/inspect.out" || fail "inspect does not show the title"
grep -q '"docs/numbers.txt"' "$WORK/inspect.out" || fail "inspect does not show the member"
grep -q 'integrity check *passed' "$WORK/inspect.out" || fail "inspect does not show the check passing"

"$PACK" test "$WORK/setup.exe" > "$WORK/out" 2>&1 || fail "test of a sound package: $(cat "$WORK/out")"
# One data byte flipped, and the end record damaged: test names the member,
# and both commands fail as the stub would.
python3 - "$WORK/setup.exe" "$WORK/flipped.exe" "$WORK/badend.exe" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
flipped = bytearray(data)
flipped[flipped.find(b'docs/numbers.txt') + len('docs/numbers.txt') + 100] ^= 0x55
open(sys.argv[2], 'wb').write(flipped)
badend = bytearray(data)
badend[badend.rfind(b'PK\x05\x06') + 2] ^= 0xFF
open(sys.argv[3], 'wb').write(badend)
PY
"$PACK" test "$WORK/flipped.exe" > "$WORK/out" 2> "$WORK/err"
[ $? -eq 1 ] || fail "test of a package with a flipped byte does not exit with 1"
grep -q 'FAILED  "docs/numbers.txt"' "$WORK/out" || fail "test does not name the damaged member: $(cat "$WORK/out")"
"$PACK" inspect "$WORK/badend.exe" > /dev/null 2>&1 && fail "inspect exits 0 on a damaged end record"
"$PACK" test "$WORK/badend.exe" > /dev/null 2> "$WORK/err" && fail "test exits 0 on a damaged end record"
grep -q 'corrupted' "$WORK/err" || fail "test does not say why: $(cat "$WORK/err")"

if command -v unzip > /dev/null; then
  BASE=$("$PACK" inspect --json "$WORK/setup.exe" | sed -n 's/.*"archiveBase": \([0-9]*\).*/\1/p')
  tail -c +$((BASE + 1)) "$WORK/setup.exe" > "$WORK/archive.zip"
  mkdir "$WORK/x"
  unzip -qq "$WORK/archive.zip" -d "$WORK/x" || fail "unzip cannot extract the archive part"
  cmp -s "$WORK/x/docs/numbers.txt" "$WORK/src/docs/numbers.txt" || fail "extracted file differs"
fi

"$PACK" create -o "$WORK/bad.exe" --inf none.inf "$WORK/src" > /dev/null 2> "$WORK/err"
[ $? -eq 1 ] || fail "a missing INF does not exit with 1"
[ "$(wc -l < "$WORK/err")" -eq 1 ] || fail "the error is not one line: $(cat "$WORK/err")"
[ -e "$WORK/bad.exe" ] && fail "a failed create left its output"

"$PACK" create --level 99 -o "$WORK/bad.exe" "$WORK/src" > /dev/null 2>&1
[ $? -eq 2 ] || fail "a bad --level does not exit with 2"
"$PACK" > /dev/null 2>&1
[ $? -eq 2 ] || fail "no command does not exit with 2"
"$PACK" --help | grep -q -- '--split' || fail "--help does not document --split"
"$PACK" --help | grep -q -- '--shortcut' || fail "--help does not document inf --shortcut"

# Progress shows on a terminal only, and never with --quiet.
if command -v script > /dev/null; then
  on_terminal() { script -qec "$1" /dev/null < /dev/null > "$WORK/tty" 2>&1; }
  on_terminal "'$PACK' create -o '$WORK/tty.exe' '$WORK/src'" || fail "create on a terminal"
  grep -qE 'zipping .* of .*, ([0-9]+) of \1 members, .*/s' "$WORK/tty" ||
    fail "create shows no progress on a terminal: $(cat "$WORK/tty")"
  on_terminal "'$PACK' extract '$WORK/tty.exe' -d '$WORK/tty-out'" || fail "extract on a terminal"
  grep -qE 'extracting .* of .*, ([0-9]+) of \1 members, .*/s' "$WORK/tty" ||
    fail "extract shows no progress on a terminal: $(cat "$WORK/tty")"
  on_terminal "'$PACK' create -q -o '$WORK/tty.exe' '$WORK/src'"
  [ -s "$WORK/tty" ] && fail "create --quiet prints: $(cat "$WORK/tty")"
  on_terminal "'$PACK' extract -q '$WORK/tty.exe' -d '$WORK/tty-out'"
  [ -s "$WORK/tty" ] && fail "extract --quiet prints: $(cat "$WORK/tty")"
fi

# A name whose double-byte character ends in the byte of '\' (表 is 95 5C in
# code page 932), which the stub would split into a folder: create and inf
# refuse it, naming the character.
mkdir "$WORK/dbcs"
printf x > "$WORK/dbcs/表示.txt"
"$PACK" create -o "$WORK/dbcs.exe" --codepage 932 "$WORK/dbcs" > /dev/null 2> "$WORK/err"
[ $? -eq 1 ] || fail "create packs a double-byte name the stub would split"
grep -qF '"表" (bytes 95 5C) ends in the byte of "\"' "$WORK/err" ||
  fail "create does not name the character: $(cat "$WORK/err")"
"$PACK" inf --name DBCS --codepage 932 "$WORK/dbcs" > /dev/null 2> "$WORK/err"
[ $? -eq 1 ] || fail "inf writes an INF for a double-byte name the stub would split"
[ "$(ls "$WORK/dbcs")" = "表示.txt" ] || fail "inf wrote into the folder it refused"

# --version names the stub by its size and the start of its SHA-256 (this
# one has no PE header, so the hash is the file's).
"$PACK" --version > "$WORK/out" 2> "$WORK/err" || fail "--version: $(cat "$WORK/err")"
grep -q '^vantrel-pack [0-9]' "$WORK/out" || fail "--version shows no version: $(cat "$WORK/out")"
HASH=$(sha256sum "$WORK/bin/vantrel-stub.exe" | cut -c1-12)
grep -qxF "stub 35328 bytes, sha256 $HASH ($WORK/bin/vantrel-stub.exe)" "$WORK/out" ||
  fail "--version does not name the stub beside the tool: $(cat "$WORK/out")"
grep -qF "stub                35328 bytes, sha256 $HASH (this vantrel-pack's stub)" \
  "$WORK/inspect.out" || fail "inspect does not name the package's stub: $(grep '^stub' "$WORK/inspect.out")"

# The default stub of an installed tree: ../share/vantrel/ from the tool.
mkdir -p "$WORK/share/vantrel"
mv "$WORK/bin/vantrel-stub.exe" "$WORK/share/vantrel/vantrel-stub.exe"
"$PACK" create -o "$WORK/shared.exe" "$WORK/src" > /dev/null 2> "$WORK/err" ||
  fail "create with the stub in ../share/vantrel: $(cat "$WORK/err")"
"$PACK" --version | grep -qF "($WORK/share/vantrel/vantrel-stub.exe)" ||
  fail "--version does not find the stub in ../share/vantrel"

rm "$WORK/share/vantrel/vantrel-stub.exe"
"$PACK" create -o "$WORK/nostub.exe" "$WORK/src" > /dev/null 2> "$WORK/err"
[ $? -eq 1 ] || fail "a missing default stub does not exit with 1"
grep -qF "looked for $WORK/bin/vantrel-stub.exe and $WORK/share/vantrel/vantrel-stub.exe" "$WORK/err" ||
  fail "the error does not say where it looked: $(cat "$WORK/err")"
"$PACK" --version > /dev/null 2>&1 && fail "--version exits 0 without a stub"

leftovers=$(find "$WORK" -maxdepth 1 -name '.*tmp-*' | wc -l)
[ "$leftovers" -eq 0 ] || fail "temporary files left behind"

finish "vantrel-pack CLI: all checks passed"
