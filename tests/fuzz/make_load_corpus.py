#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_load from the packages of fuzz_extract's
corpus: the same packages whole, split into parts (the program file and
SETUP.001, SETUP.002), with a part missing, with a total size of 0, with a
disk that fills up and with a part whose reads stop early.

Input format of fuzz_load: a control byte, then chunks of a 16-bit
little-endian length and that many bytes (the program file's bytes after the
stub's image, then each part)."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "corpus", "fuzz_extract")
OUT = os.path.join(HERE, "corpus", "fuzz_load")
IMAGE = 35328
RETRY, FULL_DISK, CUT_READS = 1, 2, 4


def chunks(control, pieces):
    out = bytearray([control])
    for piece in pieces:
        out += struct.pack("<H", len(piece)) + piece
    return bytes(out)


def as_split(body, total=None):
    """The package with the multi-part flag on and its total size set."""
    body = bytearray(body)
    body[17] = 1
    struct.pack_into("<i", body, 21, IMAGE + len(body) if total is None else total)
    return bytes(body)


def main():
    os.makedirs(OUT, exist_ok=True)
    seeds = {}
    for name in ("deflated", "stored", "encrypted", "multipart"):
        with open(os.path.join(SOURCE, name), "rb") as f:
            seeds[name] = f.read()
    for name, body in seeds.items():
        split = as_split(body)
        third = len(split) // 3
        cases = {
            f"{name}-whole": chunks(0, [body]),
            f"{name}-two": chunks(0, [split[:third * 2], split[third * 2:]]),
            f"{name}-three": chunks(0, [split[:third], split[third:third * 2], split[third * 2:]]),
            f"{name}-missing": chunks(RETRY, [split[:third]]),
            f"{name}-total0": chunks(0, [as_split(body, 0)]),
            f"{name}-fulldisk": chunks(FULL_DISK | (20 << 3), [split[:third], split[third:]]),
            f"{name}-cut": chunks(CUT_READS | (10 << 3), [split[:third], split[third:]]),
        }
        for case, data in cases.items():
            with open(os.path.join(OUT, case), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
