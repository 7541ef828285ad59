#!/usr/bin/env python3
"""raw_package.py ZIP OUT [INF]: a package around ZIP exactly as the stub reads
it (a stand-in image of 35,328 bytes, the header, the INF name, the archive),
without the checks of `vantrel-pack create`, so that archives create refuses
can still be given to the stub's walk."""
import struct
import sys


def main(argv):
    if len(argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    archive = open(argv[1], "rb").read()
    inf = (argv[3] if len(argv) == 4 else "setup.inf").encode()
    image = b"MZ" + bytes(35328 - 2)
    total = len(image) + 25 + len(inf) + len(archive)
    header = b"ZEP" + struct.pack("<BBBBBiiBBBBBi", 0, 0, len(inf), 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                  total)
    with open(argv[2], "wb") as f:
        f.write(image + header + inf + archive)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
