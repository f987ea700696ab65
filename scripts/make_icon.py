#!/usr/bin/env python3
"""Draws Kestrova's program icon and writes it as a Windows .ico file.

One image, 32 x 32 pixels, 16 colours (4 bits per pixel, the standard VGA palette) with its
transparency mask: a disk platter with its read arm and, beside it, an image file with an arrow
from the disk into the file. Run it again only when the picture changes:

    python3 scripts/make_icon.py src/resources/kestrova.ico
"""
import math
import struct
import sys

# The 16 colours of the standard Windows palette, in palette order (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, DARK_GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER, GREY, RED, GREEN, YELLOW, \
    BLUE, MAGENTA, CYAN, WHITE = range(16)
SIZE = 32
CLEAR = None  # transparent pixel


def draw():
    px = [[CLEAR] * SIZE for _ in range(SIZE)]

    def put(x, y, c):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            px[y][x] = c

    # The platter: a silver disk with a dark rim, a grey track ring and a black spindle.
    cx, cy, r = 12.5, 13.5, 11.5
    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x - cx, y - cy)
            if d <= r:
                c = SILVER
                if d > r - 1.2:
                    c = BLACK
                elif abs(d - 7.5) < 0.6:
                    c = GREY
                elif (x - cx) + (y - cy) > 9 and d > r - 3.2:
                    c = GREY
                elif d < 2.2:
                    c = BLACK
                elif d < 3.4:
                    c = WHITE
                # a highlight on the upper left of the platter
                elif 4.5 < d < 6.5 and x < cx and y < cy and abs((x - cx) - (y - cy)) < 3:
                    c = WHITE
                put(x, y, c)

    # The read arm, from the lower right corner of the platter towards its centre.
    for t in range(0, 9):
        x, y = 21 - t, 22 - t // 2
        put(x, y, NAVY)
        put(x, y - 1, BLUE)
    for dy in range(-1, 2):
        for dx in range(-1, 2):
            put(21 + dx, 22 + dy, NAVY)

    # The image file: a white sheet with a folded corner and a black outline, lower right.
    fx0, fy0, fx1, fy1 = 20, 15, 30, 30
    for y in range(fy0, fy1 + 1):
        for x in range(fx0, fx1 + 1):
            if x - fx0 + (fy0 + 3 - y) > fx1 - fx0:  # cut corner
                continue
            edge = x in (fx0, fx1) or y in (fy0, fy1) or x - fx0 + (fy0 + 3 - y) == fx1 - fx0
            put(x, y, BLACK if edge else WHITE)
    for y in range(fy0, fy0 + 4):
        put(fx1 - 3, y, BLACK)
    for x in range(fx1 - 3, fx1 + 1):
        put(x, fy0 + 3, BLACK)
    # sector lines in the file
    for y in (20, 23, 26):
        for x in range(fx0 + 2, fx1 - 1):
            put(x, y, TEAL if (x + y) % 3 else GREY)

    # The arrow from the platter into the file: red with a dark red outline.
    shaft_y0, shaft_y1, tip_x = 26, 28, 19
    for x in range(4, tip_x - 3):
        for y in range(shaft_y0, shaft_y1 + 1):
            put(x, y, RED)
        put(x, shaft_y0 - 1, DARK_RED)
        put(x, shaft_y1 + 1, DARK_RED)
    for y in range(shaft_y0 - 1, shaft_y1 + 2):
        put(3, y, DARK_RED)
    middle = (shaft_y0 + shaft_y1) // 2
    for i in range(5):  # the head, widest at its base, pointing at the file
        x = tip_x - 4 + i
        top, bottom = middle - 4 + i, middle + 4 - i
        for y in range(top, bottom + 1):
            edge = y in (top, bottom) or i in (0, 4)
            put(x, y, DARK_RED if edge and not (i == 0 and shaft_y0 <= y <= shaft_y1) else RED)
    return px


def ico_bytes(px):
    xor_rows, and_rows = [], []
    for y in reversed(range(SIZE)):  # bottom-up
        row = bytearray()
        for x in range(0, SIZE, 2):
            hi = px[y][x] or 0
            lo = px[y][x + 1] or 0
            row.append((hi << 4) | lo)
        xor_rows.append(bytes(row))
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if px[y][x] is CLEAR else 0)
        and_rows.append(bits.to_bytes(4, 'big'))
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 4, 0,
                         SIZE * SIZE // 2 + SIZE * 4, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + b''.join(xor_rows) + b''.join(and_rows)
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else 'src/resources/kestrova.ico'
    with open(out, 'wb') as f:
        f.write(ico_bytes(draw()))


if __name__ == '__main__':
    main()
