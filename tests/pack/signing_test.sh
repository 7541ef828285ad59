#!/bin/sh
# Packages signed as a publisher signs them: osslsigncode with a throw-away
# self-signed certificate, on packages made with the real stub. The signed
# package, the signed split package and the signed encrypted package must
# verify and extract; a signed package changed in any way must be refused
# as corrupted by the stub's own loader (run by vantrel-pack extract).
# usage: signing_test.sh PATH/TO/vantrel-pack PATH/TO/vantrel-stub.exe
set -u
PACK=$1
STUB=$2
. "$(dirname "$0")/checks.sh"

for tool in osslsigncode openssl python3; do
  command -v $tool > /dev/null || { echo "missing $tool (scripts/bootstrap installs it)" >&2; exit 1; }
done
[ -f "$STUB" ] || { echo "missing the stub $STUB (make win32 builds it)" >&2; exit 1; }

cd "$WORK"
openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
  -subj "/CN=Vantrel signing test" > openssl.log 2>&1 || { cat openssl.log >&2; exit 1; }

mkdir -p src/docs
printf '[Version]\r\nSignature="$CHICAGO$"\r\n[DefaultInstall]\r\nAddReg=Mark\r\n[DefaultInstall2]\r\nAddReg=Mark\r\n[DefaultInstall2.ntx86]\r\nAddReg=Mark\r\n[DefaultInstallX]\r\n[Mark]\r\nHKCU,Software\\Vantrel Test,Mark,,1\r\n' > src/setup.inf
seq 1 20000 > src/docs/numbers.txt
head -c 90000 /dev/urandom > src/docs/noise.bin

# Signs $1 in place: the parts of a split package are found by the program
# file's name, so the signed file must keep it.
sign() {
  osslsigncode sign -certs cert.pem -key key.pem -n "Vantrel test" -in "$1" -out "$1.signed" \
    > sign.log 2>&1 || { fail "osslsigncode cannot sign $1: $(cat sign.log)"; return 1; }
  mv "$1.signed" "$1"
}

verifies() {
  osslsigncode verify -CAfile cert.pem -in "$1" > verify.log 2>&1
}

extracts() {  # PACKAGE [extract options...]
  package=$1
  shift
  rm -rf out
  "$PACK" extract "$package" -d out "$@" > extract.out 2> extract.err &&
    diff -r src out > /dev/null
}

refused() {  # PACKAGE
  rm -rf out
  ! "$PACK" extract "$1" -d out > extract.out 2> extract.err &&
    grep -qF "the stub will call this package corrupted" extract.err && [ ! -e out/setup.inf ]
}

# ---- a signed package, a signed split package, a signed encrypted package
"$PACK" create -q --stub "$STUB" -o plain.exe --title "Signed" src || fail "create plain.exe"
"$PACK" create -q --stub "$STUB" -o split.exe --split 40k src || fail "create split.exe"
"$PACK" create -q --stub "$STUB" -o secret.exe --password "s3cret" src || fail "create secret.exe"
[ -e split.002 ] || fail "the split package has no second part"
# The stub's name (size and hash) stays that of the unsigned package when
# the signature rewrites the PE checksum and security entry.
STUB_NAME=$("$PACK" inspect plain.exe | sed -n 's/^stub *\(35328 bytes, sha256 [0-9a-f]\{12\}\).*/\1/p')
[ -n "$STUB_NAME" ] || fail "inspect does not name the stub of plain.exe"
for package in plain.exe split.exe secret.exe; do
  sign $package || continue
  verifies $package || fail "$package does not verify: $(cat verify.log)"
  "$PACK" inspect $package > inspect.out || fail "inspect $package"
  grep -q '^signature *signed: certificate table at offset' inspect.out ||
    fail "inspect does not show the signature of $package"
  grep -q '^integrity check *passed' inspect.out || fail "inspect: $package would be refused"
  grep -q '^warnings *0' inspect.out || fail "inspect warns about $package: $(cat inspect.out)"
  grep -q "^stub *$STUB_NAME" inspect.out ||
    fail "inspect of the signed $package does not name the stub as $STUB_NAME: $(grep '^stub' inspect.out)"
done
extracts plain.exe || fail "the signed package does not extract: $(cat extract.err)"
extracts split.exe || fail "the signed split package does not extract: $(cat extract.err)"
extracts secret.exe --password s3cret ||
  fail "the signed encrypted package does not extract: $(cat extract.err)"

# ---- the manifest and version information create writes, read by an
# independent PE reader (Debian's python3-pefile), before and after signing
"$PACK" create -q --stub "$STUB" -o versioned.exe --elevation highestAvailable \
  --product-name "Acme Notes" --product-version 3.1.4 --company "Acme Ltd" \
  --copyright "© 2026 Acme Ltd" --title "Acme Notes Setup" src || fail "create versioned.exe"
"$PACK" create -q --stub "$STUB" -o admin.exe --elevation requireAdministrator src ||
  fail "create admin.exe"
cat > pe_check.py << 'PY'
import struct, sys
import xml.etree.ElementTree as ElementTree
try:
    import pefile
except ImportError:  # Debian's python3-pefile, under another interpreter than the system's
    sys.path.append('/usr/lib/python3/dist-packages')
    import pefile
ASM_V2 = '{urn:schemas-microsoft-com:asm.v2}'
path, level, whole_file = sys.argv[1], sys.argv[2], sys.argv[3] == 'whole'
strings = dict(arg.split('=', 1) for arg in sys.argv[4:])
data = open(path, 'rb').read()
# Unsigned, the checksum is the stub image's; a signing tool makes it the file's.
pe = pefile.PE(data=data if whole_file else data[:35328])
problems = []
if pe.generate_checksum() != pe.OPTIONAL_HEADER.CheckSum:
    problems.append(f'checksum {pe.OPTIONAL_HEADER.CheckSum:#x}, computed {pe.generate_checksum():#x}')
manifest = None
for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if kind.id == 24:
        entry = kind.directory.entries[0].directory.entries[0].data.struct
        manifest = pe.get_data(entry.OffsetToData, entry.Size)
requested = ElementTree.fromstring(manifest).find(f'.//{ASM_V2}requestedExecutionLevel')
if requested.get('level') != level or requested.get('uiAccess', 'false') != 'false':
    problems.append(f'manifest asks for {requested.attrib}')
found = {}
for info in pe.FileInfo[0]:
    for table in getattr(info, 'StringTable', []):
        found.update({k.decode(): v.decode('utf-8') for k, v in table.entries.items()})
for key, value in strings.items():
    if key == 'binary':
        fixed = pe.VS_FIXEDFILEINFO[0]
        numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                   fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF]
        if '.'.join(map(str, numbers)) != value:
            problems.append(f'binary version {numbers}')
    elif found.get(key) != value:
        problems.append(f'{key} is {found.get(key)!r}, not {value!r}')
if len(data) < 35328 or problems:
    sys.exit('; '.join(problems))
PY
pe_check() {  # PACKAGE LEVEL image|whole
  python3 pe_check.py "$1" "$2" "$3" "ProductName=Acme Notes" "ProductVersion=3.1.4" \
    "FileVersion=3.1.4" "CompanyName=Acme Ltd" "FileDescription=Acme Notes Setup" \
    "LegalCopyright=© 2026 Acme Ltd" "binary=3.1.4.0" > pe.log 2>&1
}
pe_check versioned.exe highestAvailable image || fail "pefile reads versioned.exe otherwise: $(cat pe.log)"
python3 pe_check.py admin.exe requireAdministrator image > pe.log 2>&1 ||
  fail "pefile reads admin.exe otherwise: $(cat pe.log)"
sign versioned.exe && {
  verifies versioned.exe || fail "versioned.exe does not verify: $(cat verify.log)"
  pe_check versioned.exe highestAvailable whole ||
    fail "pefile reads the signed versioned.exe otherwise: $(cat pe.log)"
  extracts versioned.exe || fail "the signed versioned.exe does not extract: $(cat extract.err)"
}

# ---- a split package cut off a multiple of 8 bytes, as another tool may
# cut it: the signer pads the program file before its table, and neither
# the padding nor the table is part of the rebuilt package. The second cut
# falls just after a zero byte of the archive, which looks like padding.
"$PACK" create -q --stub "$STUB" -o recut.exe --split 40k src || fail "create recut.exe"
cat recut.exe recut.0* > recut.whole
for cut in odd zero; do
  python3 - recut.whole $cut << 'PY'
import sys
whole = open(sys.argv[1], 'rb').read()
if sys.argv[2] == 'odd':
    cut = 40003
else:
    cut = next(i + 1 for i in range(40000, len(whole)) if whole[i] == 0 and (i + 1) % 8)
open('odd.exe', 'wb').write(whole[:cut])
open('odd.001', 'wb').write(whole[cut:])
PY
  sign odd.exe || continue
  extracts odd.exe || fail "the signed split package cut off 8 bytes ($cut) does not extract: $(cat extract.err)"
done

# ---- changed after signing
python3 - plain.exe << 'PY'
import struct, sys
signed = open(sys.argv[1], 'rb').read()
header = struct.unpack_from('<I', signed, 0x3C)[0]
entry = header + 24 + 96 + 4 * 8            # the security entry of a PE32 image
table, size = struct.unpack_from('<II', signed, entry)
archive = 35328 + 200                       # well inside the archive

changed = bytearray(signed)
changed[archive] ^= 0x01
open('changed-byte.exe', 'wb').write(changed)

open('appended.exe', 'wb').write(signed + b'appended after the signature')

into = bytearray(signed)
start = archive // 8 * 8
struct.pack_into('<II', into, entry, start, len(signed) - start)
open('entry-into-archive.exe', 'wb').write(into)
PY
for package in changed-byte.exe appended.exe entry-into-archive.exe; do
  refused $package || fail "$package is not refused as corrupted: $(cat extract.err)"
  "$PACK" inspect $package > inspect.out && fail "inspect exits 0 on $package"
  grep -q 'warning: the stub will call this package corrupted' inspect.out ||
    fail "inspect does not warn that $package will be refused"
done
verifies changed-byte.exe && fail "osslsigncode verifies a changed package"

finish "signed packages: all checks passed"
