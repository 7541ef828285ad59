#!/usr/bin/env python3
"""hostile_zips.py DIR: writes zip archives whose member names try to lead
out of the extraction folder, one name per archive (after a harmless
setup.inf), as DIR/hostile-N.zip."""
import os
import sys
import zipfile

NAMES = [
    "../evil.txt",
    "..\\evil.txt",
    "sub/../../evil.txt",
    "/tmp/evil.txt",
    "\\evil.txt",
    "//server/share/evil.txt",
    "C:/evil.txt",
    "Z:\\tmp\\evil.txt",
    "Z:evil.txt",
    "sub/.../evil.txt",
    "CON",
]


def main(argv):
    out = argv[1]
    os.makedirs(out, exist_ok=True)
    for i, name in enumerate(NAMES):
        with zipfile.ZipFile(os.path.join(out, "hostile-%d.zip" % i), "w") as z:
            z.writestr("setup.inf", "[Version]\r\n")
            info = zipfile.ZipInfo(name)
            z.writestr(info, "escaped\r\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
