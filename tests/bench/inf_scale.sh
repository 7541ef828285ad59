#!/usr/bin/env bash
# Time and peak memory of `inf`, `create` and `inspect` on a folder of many
# small files (default 40,000), and of `inspect` on a small package whose INF
# inflates to 15 MiB of one line. A figure to read, not a timed test.
#   tests/bench/inf_scale.sh VANTREL_PACK STUB [FILES]
set -euo pipefail
PACK=$(realpath "$1")
STUB=$(realpath "$2")
FILES=${3:-40000}
WORK=$(mktemp -d /tmp/vantrel-inf-scale-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

measure() {  # LABEL COMMAND...: wall seconds and peak resident memory
  local label=$1
  shift
  local status=0
  /usr/bin/time -f "%e %M" -o time.txt "$@" >/dev/null 2>run.err || status=$?
  read -r seconds kib < <(tail -1 time.txt)
  printf '%-40s %8s s %8d KiB  exit %d  %s\n' "$label" "$seconds" "$kib" "$status" \
    "$(grep -m1 -E 'error|refus|not checked' run.err | cut -c1-90 || true)"
}

mkdir -p app
python3 - app "$FILES" <<'PY'
import os, sys
root, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    folder = os.path.join(root, "d%03d" % (i // 400))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.txt" % i), "w") as f:
        f.write("file %d\n" % i)
PY
measure "inf, $FILES files" "$PACK" inf --name "Scale Test" app
measure "create, $FILES files" "$PACK" create -o scale.exe --stub "$STUB" app
measure "inspect, $FILES files" "$PACK" inspect scale.exe

python3 - big.zip <<'PY'
import sys, zipfile
inf = ('[Version]\r\nSignature="$Chicago$"\r\n[DefaultInstall]\r\nAddReg=R\r\n[R]\r\n'
       'HKCU,Software\\Vantrel,V,,"' + "a," * (15 << 19) + '"\r\n')
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("setup.inf", inf)
PY
"$PACK" create -o big.exe --stub "$STUB" --no-inf-check big.zip >/dev/null 2>&1
measure "inspect, INF of 15 MiB ($(stat -c %s big.exe) B)" "$PACK" inspect big.exe
measure "create, INF of 15 MiB" "$PACK" create -o big2.exe --stub "$STUB" big.zip
