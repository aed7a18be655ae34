#!/usr/bin/env python3
"""Draws the Console's icons (107 large, 108 small): a black meter face with
a column of green LED segments and a rising green trace. Writes .ico files
with 32-bit images; run again after changing the drawing."""
import struct
import sys


def draw(size):
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    m = max(1, size // 16)  # margin
    for y in range(m, size - m):
        for x in range(m, size - m):
            edge = x in (m, size - m - 1) or y in (m, size - m - 1)
            px[y][x] = (160, 160, 160, 255) if edge else (0, 0, 0, 255)
    # LED column on the left third: lit from the bottom up to 70 %.
    seg_h = max(1, size // 16)
    left, right = 2 * m + 1, size // 3
    bottom, top = size - 2 * m - 2, 2 * m + 1
    y = bottom
    i = 0
    count = (bottom - top) // (seg_h + 1)
    while y - seg_h + 1 >= top:
        lit = i < count * 7 // 10
        colour = (0, 255, 0, 255) if lit else (0, 96, 0, 255)
        for yy in range(y - seg_h + 1, y + 1):
            for x in range(left, right):
                px[yy][x] = colour
        y -= seg_h + 1
        i += 1
    # Trace on the right: a rising line with a dip.
    x0, x1 = size // 3 + m + 1, size - 2 * m - 1
    for x in range(x0, x1):
        t = (x - x0) / max(1, x1 - x0 - 1)
        v = 0.2 + 0.6 * t - (0.25 if 0.45 < t < 0.6 else 0.0)
        yy = int(bottom - v * (bottom - top))
        for dy in range(max(1, size // 32)):
            if top <= yy + dy <= bottom:
                px[yy + dy][x] = (0, 255, 0, 255)
    return px


def image_bytes(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''
    for y in reversed(range(size)):  # bottom-up
        for (r, g, b, a) in px[y]:
            rows += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    return header + rows + b'\0' * (mask_row * size)


def write_ico(path, sizes):
    images = [image_bytes(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    here = sys.argv[1] if len(sys.argv) > 1 else '.'
    write_ico(f'{here}/console_large.ico', [32, 48])
    write_ico(f'{here}/console_small.ico', [16])
