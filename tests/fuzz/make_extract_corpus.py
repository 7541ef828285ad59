#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_extract: packages without the stub's image
(the fuzz target puts 35,328 bytes in front), each a header, an INF name and
a small zip archive that exercises one road through the archive walk."""
import os
import struct
import sys
import zlib

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "fuzz_extract")


def crc_step(c, b):
    c ^= b
    for _ in range(8):
        c = (c >> 1) ^ (0xEDB88320 if c & 1 else 0)
    return c


class Cipher:
    def __init__(self, password):
        self.k = [0x12345678, 0x23456789, 0x34567890]
        for ch in password.encode():
            self.update(ch)

    def update(self, p):
        k0 = crc_step(self.k[0], p)
        k1 = ((self.k[1] + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = crc_step(self.k[2], k1 >> 24)
        self.k = [k0, k1, k2]

    def encrypt(self, data):
        out = bytearray()
        for p in data:
            t = (self.k[2] & 0xFFFF) | 2
            out.append(p ^ (((t * (t ^ 1)) >> 8) & 0xFF))
            self.update(p)
        return bytes(out)


def member(name, data, method=0, password=None, descriptor=False, extra=b"", sig=0x04034B50):
    crc = zlib.crc32(data)
    body = data
    if method == 8:
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        body = c.compress(data) + c.flush()
    flags = 8 if descriptor else 0
    time, date = 0x6000, 0x5A21
    if password:
        flags |= 1
        check = (time >> 8) if descriptor else (crc >> 24)
        body = Cipher(password).encrypt(bytes(range(11)) + bytes([check]) + body)
    name = name.encode()
    local = struct.pack("<IHHHHHIIIHH", sig, 20, flags, method, time, date, crc, len(body),
                        len(data), len(name), len(extra)) + name + extra + body
    if descriptor:
        local += struct.pack("<IIII", 0x08074B50, crc, len(body), len(data))
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, time, date,
                          crc, len(body), len(data), len(name), 0, 0, 0, 0, 0, 0) + name
    return local, central


def archive(members):
    local = b"".join(m[0] for m in members)
    central = b"".join(m[1] for m in members)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central),
                      len(local), 0)
    return local + central + end


def package(zip_bytes, inf=b"setup.inf", multipart=0, skip=0):
    header = b"ZEP" + struct.pack("<BBBBBiiBBBBBi", 0, 0, len(inf), 0, 0, 0, 0, 0, multipart,
                                  skip, 0, 0, 35328 + 25 + len(inf) + len(zip_bytes))
    return header + inf + zip_bytes


def main():
    os.makedirs(OUT, exist_ok=True)
    text = b"[Version]\r\nSignature=\"$Chicago$\"\r\n" * 4
    seeds = {
        "stored": [member("setup.inf", text)],
        "deflated": [member("setup.inf", text, 8), member("d/e/f.bin", bytes(range(256)) * 3, 8)],
        "encrypted": [member("a.txt", text, 0, "pw"), member("b.txt", text, 8, "pw")],
        "descriptors": [member("a.txt", text, 8, None, True), member("b.txt", b"b", 0, "pw", True)],
        "folders": [member("dir/", b""), member("dir/x.txt", b"x"), member("z\\y.txt", b"y")],
        "extra": [member("x.txt", b"extra", 0, None, False, b"UT\x05\x00\x03abcd"),
                  member("odd.txt", b"odd", 0, None, False, b"", 0x50000000)],
        "hostile": [member("ok.txt", b"ok"), member("../up.txt", b"up")],
        "method6": [member("m.txt", b"imploded", 6)],
    }
    for name, members in seeds.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(package(archive(members)))
    with open(os.path.join(OUT, "multipart"), "wb") as f:
        f.write(package(archive(seeds["stored"]), multipart=1))
    with open(os.path.join(OUT, "unchecked"), "wb") as f:
        f.write(package(archive(seeds["deflated"])[:-40], skip=1))
    return 0


if __name__ == "__main__":
    sys.exit(main())
