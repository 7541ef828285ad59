#!/usr/bin/env python3
"""Pads the linked stub image with zero bytes to the package header offset
and records the image checksum of the padded file.

Fails (and writes nothing) when the image is larger than the offset, or when
it holds the bytes of a zip local-header signature, which the archive walker
must never find inside the stub itself. The linker's checksum covers the
unpadded image; the file's length is part of the sum, so it is computed
again (as signing tools and Windows' CheckSumMappedFile do)."""
import os
import struct
import sys

HEADER_OFFSET = 35328
LOCAL_HEADER_SIGNATURE = b'PK\x03\x04'
CHECKSUM_IN_OPTIONAL_HEADER = 64


def checksum_offset(image):
    return struct.unpack_from('<I', image, 0x3C)[0] + 24 + CHECKSUM_IN_OPTIONAL_HEADER


def image_checksum(image):
    """The 16-bit one's-complement-style sum of the file with the checksum
    field counted as zero, plus the file's length."""
    at = checksum_offset(image)
    data = image[:at] + bytes(4) + image[at + 4:]
    if len(data) % 2:
        data += b'\0'
    total = sum(struct.unpack_from(f'<{len(data) // 2}H', data))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(image)


def main(linked, out):
    image = open(linked, 'rb').read()
    if len(image) > HEADER_OFFSET:
        sys.exit(f'finish_stub: the image is {len(image)} bytes, more than {HEADER_OFFSET}')
    if LOCAL_HEADER_SIGNATURE in image:
        sys.exit('finish_stub: the image holds the bytes 50 4B 03 04')
    padded = bytearray(image + bytes(HEADER_OFFSET - len(image)))
    struct.pack_into('<I', padded, checksum_offset(padded), image_checksum(padded))
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    tmp = out + '.tmp'
    with open(tmp, 'wb') as f:
        f.write(padded)
    os.replace(tmp, out)
    print(f'finish_stub: image {len(image)} bytes, padded to {HEADER_OFFSET}')


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
