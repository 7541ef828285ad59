#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_inflate: small raw deflate streams of every
block type and several zlib levels and strategies."""
import os
import random
import sys
import zlib

out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "fuzz_inflate")
os.makedirs(out, exist_ok=True)
rng = random.Random(1951)
text = b" ".join(rng.choice([b"setup", b"files", b"window", b"table", b"the", b"INF", b"\r\n"])
                 for _ in range(300))
noise = bytes(rng.randrange(256) for _ in range(600))
runs = b"a" * 700 + b"abc" * 200 + bytes(range(256))

def deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
    return c.compress(data) + c.flush()

seeds = {
    "stored_empty": bytes([0x01, 0x00, 0x00, 0xFF, 0xFF]),
    "fixed_empty": bytes([0x03, 0x00]),
    "reserved_type": bytes([0x06, 0x03, 0x00]),
    "text_default": deflate(text),
    "text_fixed": deflate(text, 6, zlib.Z_FIXED),
    "text_huffman": deflate(text, 6, zlib.Z_HUFFMAN_ONLY),
    "runs_rle": deflate(runs, 6, zlib.Z_RLE),
    "runs_best": deflate(runs, 9),
    "noise_stored": deflate(noise[:200], 0),
    "noise_fast": deflate(noise, 1),
    "mixed_filtered": deflate(text[:800] + noise[:100] + runs[:500], 6, zlib.Z_FILTERED),
}
# Output of some 50 KiB: whole windows, and final writes long enough for the
# CRC-32's fold of long buffers.
seeds["long_output"] = deflate(text * 20 + noise + text * 10)
# Two blocks in one stream: a full flush ends the first one early.
c = zlib.compressobj(6, zlib.DEFLATED, -15)
seeds["two_blocks"] = c.compress(text[:500]) + c.flush(zlib.Z_FULL_FLUSH) + c.compress(runs[:300]) + c.flush()
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
