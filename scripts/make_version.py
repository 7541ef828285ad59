#!/usr/bin/env python3
"""Writes the stub's version information (a VS_VERSIONINFO resource) with
room kept for what vantrel-pack fills in per package.

Each string value has a fixed slot: the value, then zero characters to the
slot's end. A slot's size is its String block's length, so the packer
writes any value that fits into the same bytes and the image keeps its
size; it then sets the block's value length to the new value. The layout
is Microsoft's VS_VERSIONINFO: blocks of (wLength, wValueLength, wType,
key, padding to 32 bits, value, children each on 32 bits)."""
import struct
import sys

# (key, characters the slot holds with the terminating zero, the stub's own value)
SLOTS = [
    ('CompanyName', 64, ''),
    ('FileDescription', 80, 'Vantrel setup'),
    ('FileVersion', 24, '1.0.0.0'),
    ('LegalCopyright', 80, ''),
    ('ProductName', 64, 'Vantrel'),
    ('ProductVersion', 24, '1.0.0.0'),
]
LANGUAGE, CODE_PAGE = 0x0409, 1200  # US English, Unicode
FIXED_SIGNATURE = 0xFEEF04BD
VOS_WINDOWS32, VFT_APP = 0x4, 0x1


def pad4(data):
    return data + bytes(-len(data) % 4)


def block(key, value, value_length, text, children=()):
    """One block; `value_length` as the format counts it (bytes for binary
    values, characters for text)."""
    body = pad4(struct.pack('<HHH', 0, value_length, 1 if text else 0) +
                (key + '\0').encode('utf-16-le')) + value
    for child in children:
        body = pad4(body) + child
    return struct.pack('<H', len(body)) + body[2:]


def string(key, slot, value):
    if len(value) + 1 > slot:
        sys.exit(f'make_version: {key} does not fit its slot')
    data = (value + '\0' * (slot - len(value))).encode('utf-16-le')
    return block(key, data, len(value) + 1, True)


def version_info():
    fixed = struct.pack('<13I', FIXED_SIGNATURE, 0x10000, 0x10000, 0, 0x10000, 0, 0x3F, 0,
                        VOS_WINDOWS32, VFT_APP, 0, 0, 0)
    table = block(f'{LANGUAGE:04X}{CODE_PAGE:04X}', b'', 0, True,
                  [string(*slot) for slot in SLOTS])
    strings = block('StringFileInfo', b'', 0, True, [table])
    translation = block('Translation', struct.pack('<HH', LANGUAGE, CODE_PAGE), 4, False)
    variables = block('VarFileInfo', b'', 0, True, [translation])
    return block('VS_VERSION_INFO', fixed, len(fixed), False, [strings, variables])


if __name__ == '__main__':
    with open(sys.argv[1], 'wb') as f:
        f.write(version_info())
