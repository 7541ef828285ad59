#!/usr/bin/env bash
# `vantrel-pack extract` against archives written by other zip tools:
# Info-ZIP zip and 7-Zip archives must come out byte for byte as their
# sources; damaged and hostile ones must be refused with a non-zero status
# and nothing written outside the extraction folder.
#   peer_archives.sh VANTREL_PACK
set -uo pipefail

PACK=$(realpath "$1")
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d /tmp/vantrel-peers-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"
failures=0
pass() { echo "PASS $1"; }
fail() {
  echo "FAIL $1" >&2
  failures=$((failures + 1))
}

for tool in zip 7z python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/bootstrap installs it)" >&2; exit 1; }
done

# A stand-in stub: the package only needs an image of the right size.
{ printf 'MZ'; head -c 35326 /dev/zero; } >stub.exe

# The source tree: text that deflates well, bytes that do not, an empty
# file, a name with spaces, nested and empty folders.
mkdir -p src/docs/deep src/empty-folder src/bin
printf '[Version]\r\nSignature="$Chicago$"\r\n[DefaultInstall]\r\nAddReg=Mark\r\n[Mark]\r\nHKCU,Software\\Vantrel Test,Mark,,1\r\n' >src/setup.inf
seq 1 20000 >src/docs/numbers.txt
# Bytes that do not deflate, the same on every run.
python3 -c "import random, sys; sys.stdout.buffer.write(random.Random(23).randbytes(70000))" >src/bin/random.bin
: >src/docs/empty.txt
printf 'spaced out\n' >"src/docs/deep/a name with spaces.txt"
head -c 40000 /dev/zero >src/bin/zeros.bin

# Runs extract in a sandbox of its own; the sandbox must then hold nothing
# but DIR, and the places hostile names aim at must stay empty.
run_extract() {  # NAME PACKAGE [extra arguments...]
  local name=$1 package=$2
  shift 2
  rm -rf "box-$name"
  mkdir "box-$name"
  (cd "box-$name" && "$PACK" extract "$WORK/$package" -d out "$@" \
    >"../$name.out" 2>"../$name.err" </dev/null)
  local status=$?
  local stray
  stray=$(cd "box-$name" && find . -mindepth 1 ! -path './out' ! -path './out/*')
  if [[ -n "$stray" ]]; then fail "$name: written outside DIR: $stray"; fi
  for escaped in /evil.txt /tmp/evil.txt "$WORK/evil.txt"; do
    if [[ -e "$escaped" ]]; then fail "$name: wrote $escaped"; rm -f "$escaped"; fi
  done
  return $status
}

expect_same() {  # NAME PACKAGE [extra arguments...]
  local name=$1
  if run_extract "$@" && diff -r src "box-$name/out" >"$name.diff"; then
    pass "$name"
  else
    fail "$name: $(head -c 400 "$name.err") $(head -5 "$name.diff")"
  fi
}

expect_refused() {  # NAME PACKAGE MESSAGE [extra arguments...]
  local name=$1 package=$2 message=$3
  shift 3
  if run_extract "$name" "$package" "$@"; then
    fail "$name: extract succeeded"
  elif ! grep -qF -- "$message" "$name.err"; then
    fail "$name: expected \"$message\" on stderr, got: $(head -c 300 "$name.err")"
  else
    pass "$name"
  fi
}

create() {  # OUT ZIP
  "$PACK" create -o "$1" --stub stub.exe --inf setup.inf "$2" >/dev/null
}

# ---- Info-ZIP zip -------------------------------------------------------------
(cd src && zip -q -r -0 ../zip-stored.zip .)
(cd src && zip -q -r -9 ../zip-deflated.zip .)
(cd src && zip -q -r -P 'open sesame' ../zip-encrypted.zip .)
for z in zip-stored zip-deflated zip-encrypted; do
  create "$z.exe" "$z.zip" || fail "create $z"
done
expect_same zip-stored zip-stored.exe
expect_same zip-deflated zip-deflated.exe
expect_same zip-encrypted zip-encrypted.exe --password 'open sesame'
grep -q "inflating: /.*/numbers.txt" zip-deflated.out && pass "members named on stdout" ||
  fail "member lines: $(head -3 zip-deflated.out)"

# Wrong passwords. Info-ZIP's encryption headers are random, and a wrong
# password passes their one-byte check 1 time in 256 per member, so these
# cases use an archive written here with fixed headers, and passwords chosen
# in a fixed order: the first that fails the check byte, and the first that
# passes it (the data then decrypt to garbage and the CRC-32 catches them).
python3 - crafted.zip passwords <<'PY'
import struct, sys, zlib

TABLE = [0] * 256
for n in range(256):
    c = n
    for _ in range(8):
        c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
    TABLE[n] = c

class Keys:  # the traditional zip encryption (zip format note, 6.1)
    def __init__(self, password):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for b in password:
            self.update(b)
    def update(self, b):
        k = self.k
        k[0] = (k[0] >> 8) ^ TABLE[(k[0] ^ b) & 0xFF]
        k[1] = ((k[1] + (k[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k[2] = (k[2] >> 8) ^ TABLE[(k[2] ^ (k[1] >> 24)) & 0xFF]
    def stream(self):
        t = (self.k[2] | 2) & 0xFFFF
        return ((t * (t ^ 1)) >> 8) & 0xFF
    def encrypt(self, data):
        out = bytearray()
        for b in data:
            out.append(b ^ self.stream())
            self.update(b)
        return bytes(out)
    def decrypt(self, data):
        out = bytearray()
        for b in data:
            p = b ^ self.stream()
            self.update(p)
            out.append(p)
        return bytes(out)

PASSWORD = b"open sesame"
secret = b"the secret text\r\n" * 40
crc = zlib.crc32(secret)
header = bytes(range(1, 12)) + bytes([crc >> 24])
members = [("setup.inf", b'[Version]\r\nSignature="$Chicago$"\r\n[DefaultInstall]\r\n'
            b'AddReg=Mark\r\n[Mark]\r\nHKCU,Software\\Vantrel Test,Mark,,1\r\n', 0),
           ("secret.txt", secret, 1)]
body, central = b"", b""
for name, data, flags in members:
    stored = Keys(PASSWORD).encrypt(header + data) if flags else data
    fields = struct.pack("<HHHHHIII", 20, flags, 0, 0, 0x21, zlib.crc32(data), len(stored),
                         len(data)) + struct.pack("<HH", len(name), 0)
    central += (b"PK\x01\x02" + struct.pack("<H", 20) + fields +
                struct.pack("<HHHII", 0, 0, 0, 0, len(body)) + name.encode())
    body += b"PK\x03\x04" + fields + name.encode() + stored
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 2, 2, len(central), len(body), 0)
open(sys.argv[1], "wb").write(body + central + end)

encrypted = Keys(PASSWORD).encrypt(header + secret)[:12]
def passes(password):
    return Keys(password).decrypt(encrypted)[11] == crc >> 24
candidates = [b"wrong %d" % i for i in range(100000)]
failing = next(p for p in candidates if not passes(p))
passing = next(p for p in candidates if passes(p))
open(sys.argv[2], "w").write(failing.decode() + "\n" + passing.decode() + "\n")
PY
{ read -r check_fails; read -r check_passes; } <passwords
create crafted.exe crafted.zip || fail "create crafted"
# The right password opens it: the archive is sound.
run_extract crafted-right crafted.exe --password 'open sesame' &&
  grep -q "the secret text" box-crafted-right/out/secret.txt && pass crafted-right ||
  fail "crafted-right: $(head -c 300 crafted-right.err)"
expect_refused zip-wrong-password crafted.exe "no password given opens it" --password "$check_fails"
[[ ! -e box-zip-wrong-password/out/secret.txt ]] && pass "wrong password extracts no file" ||
  fail "wrong password extracted secret.txt"
expect_refused wrong-password-passes-check crafted.exe "do not match the CRC-32" \
  --password "$check_passes"
(( $(grep -c "do not match the CRC-32" wrong-password-passes-check.err) == 1 )) ||
  fail "wrong-password-passes-check: $(cat wrong-password-passes-check.err)"
# Reported as failed, never as extracted, and an orderly refusal (status 1).
run_extract wrong-password-status crafted.exe --password "$check_passes"
status=$?
if (( status == 1 )) && ! grep -q "secret.txt" wrong-password-status.out; then
  pass "a password that passes the check byte: status 1, secret.txt not reported extracted"
else
  fail "wrong-password-status: status $status, $(cat wrong-password-status.out)"
fi
# No password and no terminal: the prompt is cancelled.
expect_refused zip-no-password zip-encrypted.exe "no password given opens it"
[[ -z $(find box-zip-no-password -type f) ]] && pass "no password extracts no file" ||
  fail "no password extracted files"

# ---- 7-Zip ----------------------------------------------------------------
(cd src && 7z a -tzip ../7z-deflated.zip . >/dev/null)
(cd src && 7z a -tzip -mx=0 ../7z-stored.zip . >/dev/null)
(cd src && 7z a -tzip -p'open sesame' -mem=ZipCrypto ../7z-zipcrypto.zip . >/dev/null)
for z in 7z-deflated 7z-stored 7z-zipcrypto; do
  create "$z.exe" "$z.zip" || fail "create $z"
done
expect_same 7z-deflated 7z-deflated.exe
expect_same 7z-stored 7z-stored.exe
expect_same 7z-zipcrypto 7z-zipcrypto.exe --password 'open sesame'

# ---- a package in parts -----------------------------------------------------
"$PACK" create -o split.exe --stub stub.exe --inf setup.inf --split 40k zip-stored.zip >/dev/null ||
  fail "create split"
[[ -e split.001 ]] && expect_same split split.exe || fail "split: no second part"

# ---- damaged packages -----------------------------------------------------------
# One byte of the first member's data changed: its CRC test fails.
python3 - zip-deflated.zip damaged.zip <<'PY'
import sys, zipfile
data = bytearray(open(sys.argv[1], "rb").read())
info = [i for i in zipfile.ZipFile(sys.argv[1]).infolist() if i.compress_size > 0][0]
name_len = int.from_bytes(data[info.header_offset + 26:info.header_offset + 28], "little")
extra_len = int.from_bytes(data[info.header_offset + 28:info.header_offset + 30], "little")
data[info.header_offset + 30 + name_len + extra_len + info.compress_size // 2] ^= 0x55
open(sys.argv[2], "wb").write(data)
PY
create damaged.exe damaged.zip || fail "create damaged"
expect_refused damaged damaged.exe "its data are damaged"

# The package's end cut off: the stub's integrity check refuses it.
head -c -100 zip-deflated.exe >truncated.exe
expect_refused truncated truncated.exe "corrupted"

# ---- archives create refuses ------------------------------------------------------
# Info-ZIP zip writing to a pipe puts CRC and sizes only in data descriptors
# after the data; reading standard input it writes Zip64 sizes. The stub
# trusts the local header's size, so create refuses both; the stub's walk
# given them anyway must fail, not report success with empty files.
(cd src && zip -q -r - . | cat >../streamed.zip)
(cd src && seq 1 5000 | zip -q - - | cat >../stdin.zip)
for z in streamed stdin; do
  if create "$z-created.exe" "$z.zip" 2>/dev/null; then fail "create accepted $z.zip"; else pass "create refuses $z.zip"; fi
  python3 "$HERE/raw_package.py" "$z.zip" "$z.exe"
  expect_refused "$z" "$z.exe" "vantrel-pack extract: "
done

# ---- hostile names ---------------------------------------------------------------
python3 "$HERE/hostile_zips.py" hostile
for z in hostile/hostile-*.zip; do
  n=$(basename "$z" .zip)
  # create has checks of its own; what matters here is that the stub's walk
  # refuses every one of these names, whatever made the package.
  python3 "$HERE/raw_package.py" "$z" "$n.exe"
  expect_refused "$n" "$n.exe" "name leads outside"
done

echo "$failures failure(s)"
(( failures == 0 ))
