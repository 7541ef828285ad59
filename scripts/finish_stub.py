#!/usr/bin/env python3
"""Pads the linked stub image with zero bytes to the package header offset.

Fails (and writes nothing) when the image is larger than the offset, or when
it holds the bytes of a zip local-header signature, which the archive walker
must never find inside the stub itself."""
import os
import sys

HEADER_OFFSET = 35328
LOCAL_HEADER_SIGNATURE = b'PK\x03\x04'


def main(linked, out):
    image = open(linked, 'rb').read()
    if len(image) > HEADER_OFFSET:
        sys.exit(f'finish_stub: the image is {len(image)} bytes, more than {HEADER_OFFSET}')
    if LOCAL_HEADER_SIGNATURE in image:
        sys.exit('finish_stub: the image holds the bytes 50 4B 03 04')
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    tmp = out + '.tmp'
    with open(tmp, 'wb') as f:
        f.write(image + bytes(HEADER_OFFSET - len(image)))
    os.replace(tmp, out)
    print(f'finish_stub: image {len(image)} bytes, padded to {HEADER_OFFSET}')


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
