#!/usr/bin/env python3
"""Draws the Agent's bitmaps and icons and writes them
beside this script. The files are committed; run this again after a change."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
WHITE = (255, 255, 255)


class Canvas:
    def __init__(self, w, h, fill=WHITE):
        self.w, self.h = w, h
        self.px = [[fill for _ in range(w)] for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):  # inclusive corners, filled
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.set(x, y0, c)
            self.set(x, y1, c)
        for y in range(y0, y1 + 1):
            self.set(x0, y, c)
            self.set(x1, y, c)

    def line(self, x0, y0, x1, y1, c, width=1):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            x = round(x0 + (x1 - x0) * i / steps)
            y = round(y0 + (y1 - y0) * i / steps)
            for d in range(width):
                self.set(x + d, y, c)


def write_bmp(name, canvas, bpp):
    row_bytes = (canvas.w * bpp // 8 + 3) & ~3
    pixels = bytearray()
    for y in range(canvas.h - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(canvas.w):
            r, g, b = canvas.px[y][x]
            row += bytes((b, g, r)) if bpp == 24 else bytes((b, g, r, 255))
        row += bytes(row_bytes - len(row))
        pixels += row
    header = struct.pack('<IiiHHIIiiII', 40, canvas.w, canvas.h, 1, bpp, 0, len(pixels), 2835, 2835, 0, 0)
    offset = 14 + len(header)
    file_header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(file_header + header + pixels)


def icon_image(canvas):
    """32-bpp icon image: header with doubled height, colours, AND mask."""
    w, h = canvas.w, canvas.h
    xor = bytearray()
    for y in range(h - 1, -1, -1):
        for x in range(w):
            c = canvas.px[y][x]
            alpha = 0 if c is None else 255
            r, g, b = c if c else (0, 0, 0)
            xor += bytes((b, g, r, alpha))
    mask_row = ((w + 31) // 32) * 4
    mask = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(mask_row)
        for x in range(w):
            if canvas.px[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    header = struct.pack('<IiiHHIIiiII', 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def write_ico(name, canvases):
    images = [icon_image(c) for c in canvases]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, img in zip(canvases, images):
        out += struct.pack('<BBBBHHII', c.w % 256, c.h % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    with open(os.path.join(HERE, name), 'wb') as f:
        f.write(out + b''.join(images))


def tower():  # the Agent's computer, 48 x 64
    c = Canvas(48, 64)
    body, edge, dark = (200, 203, 210), (90, 94, 104), (60, 63, 70)
    c.rect(10, 2, 37, 59, body)
    c.frame(10, 2, 37, 59, edge)
    for y in (8, 14):  # drive bays
        c.rect(14, y, 33, y + 3, (150, 154, 162))
        c.frame(14, y, 33, y + 3, dark)
    c.rect(30, 22, 32, 24, (40, 200, 60))  # power light
    for y in range(30, 52, 3):  # vents
        c.line(15, y, 32, y, (120, 124, 132))
    c.rect(8, 60, 39, 62, dark)  # foot
    return c


def link(broken):  # the link, broken or open: 88 x 26
    c = Canvas(88, 26)
    colour = (150, 150, 150) if broken else (96, 120, 160)
    for y in (10, 15):
        c.rect(2, y, 85, y + 1, colour)
    if broken:
        red = (220, 30, 30)
        c.rect(38, 9, 49, 17, WHITE)  # gap in the line
        c.line(36, 4, 51, 21, red, 3)
        c.line(36, 21, 51, 4, red, 3)
    return c


def monitor():  # the Console, 48 x 48
    c = Canvas(48, 48)
    edge, screen, green = (60, 63, 70), (20, 28, 24), (40, 220, 80)
    c.rect(2, 4, 45, 35, (170, 174, 182))
    c.frame(2, 4, 45, 35, edge)
    c.rect(5, 7, 42, 32, screen)
    for x in range(5, 43, 6):  # grid
        for y in range(7, 33):
            c.set(x, y, (40, 60, 48))
    points = [(6, 28), (11, 24), (16, 26), (21, 17), (26, 20), (31, 12), (36, 15), (41, 10)]
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        c.line(x0, y0, x1, y1, green, 2)
    c.rect(20, 36, 27, 40, edge)  # stand
    c.rect(13, 41, 34, 43, edge)
    return c


def icon(size):  # a small tower beside a small monitor, transparent elsewhere
    c = Canvas(size, size, None)
    s = size / 32.0

    def r(x0, y0, x1, y1, col):
        c.rect(int(x0 * s), int(y0 * s), int(x1 * s + s - 1), int(y1 * s + s - 1), col)

    r(2, 4, 11, 29, (90, 94, 104))
    r(3, 5, 10, 28, (200, 203, 210))
    r(5, 8, 8, 9, (60, 63, 70))
    r(14, 8, 30, 21, (60, 63, 70))
    r(15, 9, 29, 20, (20, 28, 24))
    r(16, 17, 18, 18, (40, 220, 80))
    r(19, 14, 21, 16, (40, 220, 80))
    r(22, 15, 24, 17, (40, 220, 80))
    r(25, 11, 28, 13, (40, 220, 80))
    r(20, 22, 24, 24, (60, 63, 70))
    r(17, 25, 27, 26, (60, 63, 70))
    return c


if __name__ == '__main__':
    write_bmp('agent_computer.bmp', tower(), 32)
    write_bmp('link_broken.bmp', link(True), 24)
    write_bmp('link_open.bmp', link(False), 24)
    write_bmp('console_monitor.bmp', monitor(), 32)
    write_ico('agent_large.ico', [icon(32), icon(48)])
    write_ico('agent_small.ico', [icon(16)])
