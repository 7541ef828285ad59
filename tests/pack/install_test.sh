#!/bin/sh
# The installed tool: the Debian package `make deb` builds (from the same
# install rules as `make install`), unpacked into a scratch root with
# dpkg -x, never into the system. Its contents and dependencies, lintian's
# verdict, the manual (rendered, and naming every option --help lists), and
# the installed vantrel-pack run from another folder: it finds its stub
# under ../share/vantrel/ and makes the same bytes as the build tree's tool.
# usage: install_test.sh SOURCE_DIR HOST_BUILD_DIR PATH/TO/vantrel-pack
set -u
SOURCE=$1
BUILD=$2
PACK_BUILT=$3
. "$(dirname "$0")/checks.sh"

for tool in dpkg-deb dpkg-shlibdeps lintian man; do
  command -v $tool > /dev/null || { echo "missing $tool (scripts/bootstrap installs it)" >&2; exit 1; }
done

DEB=$("$SOURCE/scripts/make_deb" "$BUILD" "$WORK/deb" 2> "$WORK/err") ||
  { echo "make_deb failed: $(cat "$WORK/err")" >&2; exit 1; }

# ---- the package as Debian judges it
lintian --fail-on error,warning "$DEB" > "$WORK/lintian" 2>&1 ||
  fail "lintian: $(cat "$WORK/lintian")"
for package in $(dpkg-deb -f "$DEB" Depends | sed 's/([^)]*)//g; s/,/ /g'); do
  case $package in
    libc6 | libgcc-s1 | libstdc++6 | zlib1g) ;;
    *) fail "the package depends on $package" ;;
  esac
done
dpkg-deb -f "$DEB" Depends | grep -q 'libstdc++6' || fail "the package does not depend on libstdc++6"

# ---- what it installs, and what it leaves out
ROOT="$WORK/root"
dpkg -x "$DEB" "$ROOT" || { echo "dpkg -x cannot unpack $DEB" >&2; exit 1; }
TOOL="$ROOT/usr/bin/vantrel-pack"
for file in usr/bin/vantrel-pack usr/share/vantrel/vantrel-stub.exe \
    usr/share/man/man1/vantrel-pack.1.gz usr/share/doc/vantrel/copyright \
    usr/share/doc/vantrel/examples/licence.txt usr/share/doc/vantrel/examples/demo-app/vdemo.inf; do
  [ -f "$ROOT/$file" ] || fail "the package does not install /$file"
done
[ "$(ls "$ROOT/usr/bin")" = vantrel-pack ] || fail "usr/bin holds more than vantrel-pack: $(ls "$ROOT/usr/bin")"
[ -z "$(find "$ROOT" -name '*guidriver*' -o -name '*test*' -type f)" ] ||
  fail "the package installs test tools: $(find "$ROOT" -name '*guidriver*' -o -name '*test*' -type f)"

# ---- the manual: renders without a warning, and describes every option
MANPAGE="$ROOT/usr/share/man/man1/vantrel-pack.1.gz"
MANWIDTH=80 man --warnings -l "$MANPAGE" > "$WORK/man.txt" 2> "$WORK/man.err" ||
  fail "man -l cannot render the page: $(cat "$WORK/man.err")"
[ -s "$WORK/man.err" ] && fail "the page renders with warnings: $(cat "$WORK/man.err")"
grep -q 'SOURCE_DATE_EPOCH' "$WORK/man.txt" || fail "the rendered page lacks its ENVIRONMENT"
VERSION=$(dpkg-deb -f "$DEB" Version)
grep -q "vantrel $VERSION" "$WORK/man.txt" || fail "the page does not name version $VERSION"
gzip -dc "$MANPAGE" | sed 's/\\-/-/g' > "$WORK/page"
"$TOOL" --help > "$WORK/help" || fail "--help of the installed tool"
# Long options wherever the help names them, short ones where a row of a
# command's options starts.
options=$( { grep -o -- '--[a-z][a-z-]*' "$WORK/help"
             grep -o -- '^  -[a-z],' "$WORK/help" | tr -d ' ,'; } | sort -u)
[ "$(echo "$options" | wc -l)" -gt 20 ] || fail "too few options found in --help: $options"
for option in $options; do
  grep -qE -- "$option([^a-z-]|\$)" "$WORK/page" || fail "the manual does not name $option"
done

# ---- the installed tool, run from another folder
mkdir "$WORK/elsewhere"
cd "$WORK/elsewhere" || exit 1
"$TOOL" --version > version 2> version.err || fail "--version of the installed tool: $(cat version.err)"
grep -q "^stub 35328 bytes, sha256 [0-9a-f]\{12\} ($ROOT/usr/share/vantrel/vantrel-stub.exe)\$" version ||
  fail "the installed tool does not name its stub under share/vantrel: $(cat version)"
"$PACK_BUILT" --version > built-version 2>&1 || fail "--version of the build tree's tool: $(cat built-version)"
[ "$(sed 's/ (.*//' version)" = "$(sed 's/ (.*//' built-version)" ] ||
  fail "the installed tool and stub name other versions than the build tree's: $(cat version built-version)"

EXAMPLES="$ROOT/usr/share/doc/vantrel/examples"
cp -r "$EXAMPLES/shortcut-app" app
# The same inputs through both tools; times older than the epoch would be
# clamped to it, so the files' own times do not matter.
make_package() {  # TOOL OUT
  SOURCE_DATE_EPOCH=1700000000 "$1" create -q -o "$2" --title "Acme Notes 1.0" \
    --welcome-file "$EXAMPLES/welcome.txt" --licence-file "$EXAMPLES/licence.txt" \
    --password "s3cret" app
}
make_package "$TOOL" installed.exe 2> err || fail "create with the installed tool: $(cat err)"
make_package "$PACK_BUILT" built.exe 2> err || fail "create with the build tree's tool: $(cat err)"
cmp -s installed.exe built.exe || fail "the installed tool makes other bytes than the build tree's"
"$TOOL" inspect installed.exe > inspect.out 2>&1 || fail "inspect with the installed tool: $(cat inspect.out)"
grep -q "^stub *35328 bytes, sha256 [0-9a-f]\{12\} (this vantrel-pack's stub)" inspect.out ||
  fail "inspect does not name the stub the package carries: $(grep '^stub' inspect.out)"
"$TOOL" test --password "s3cret" installed.exe > test.out 2>&1 ||
  fail "test with the installed tool: $(cat test.out)"

finish "install test passed"
