#!/usr/bin/env python3
"""Draws the stub's icon: a 32 x 32, 16-colour picture of an installer box
(a brown carton with a green arrow going into it), written as a .ico file."""
import struct
import sys

# The standard 16-colour palette, as (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_YELLOW, GREY, LIGHT_GREY, GREEN, DARK_GREEN, YELLOW, WHITE = 0, 3, 8, 7, 10, 2, 11, 15
CLEAR = None


def draw():
    px = [[CLEAR] * 32 for _ in range(32)]

    def fill(x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                px[y][x] = c

    # The carton: front face, top flaps, outline.
    fill(5, 14, 26, 29, DARK_YELLOW)
    fill(5, 14, 26, 15, YELLOW)
    for x in range(5, 27):
        px[29][x] = BLACK
        px[14][x] = BLACK
    for y in range(14, 30):
        px[y][5] = BLACK
        px[y][26] = BLACK
    # Open flaps leaning outward.
    for i in range(5):
        fill(5 - i, 13 - i, 10 - i, 13 - i, YELLOW)
        fill(21 + i, 13 - i, 26 + i, 13 - i, YELLOW)
    # A tape stripe and a label.
    fill(14, 16, 17, 28, YELLOW)
    fill(8, 22, 12, 26, WHITE)
    for x in range(8, 13):
        px[24][x] = GREY
    # The green arrow pointing down into the carton.
    fill(14, 1, 17, 11, GREEN)
    for i in range(6):
        fill(10 + i, 9 + i, 21 - i, 9 + i, GREEN)
    for y in range(1, 12):
        px[y][13] = DARK_GREEN
        px[y][18] = DARK_GREEN
    return px


def ico(px):
    width = height = 32
    xor_rows, and_rows = [], []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = px[y]
        xor = bytearray()
        for x in range(0, width, 2):
            a = row[x] if row[x] is not None else 0
            b = row[x + 1] if row[x + 1] is not None else 0
            xor.append((a << 4) | b)
        mask = bytearray(4)
        for x in range(width):
            if row[x] is None:
                mask[x // 8] |= 0x80 >> (x % 8)
        xor_rows.append(bytes(xor))
        and_rows.append(bytes(mask))
    header = struct.pack('<IiiHHIIiiII', 40, width, height * 2, 1, 4, 0,
                         len(xor_rows) * 16 + len(and_rows) * 4, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    image = header + palette + b''.join(xor_rows) + b''.join(and_rows)
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', width, height, 16, 0, 1, 4,
                                                           len(image), 6 + 16)
    return directory + image


if __name__ == '__main__':
    with open(sys.argv[1], 'wb') as f:
        f.write(ico(draw()))
