#!/usr/bin/env python3
"""Draws the program's own artwork: the four banner images, the window icon and the three report
images. Only the standard library is used (PNG through zlib, GIF through a small LZW coder).
Run from anywhere: python3 assets/make_assets.py"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

FONT = {
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'B': ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    'C': ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    'D': ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'F': ["11111", "10000", "10000", "11110", "10000", "10000", "10000"],
    'G': ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    'H': ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    'I': ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    'J': ["00111", "00010", "00010", "00010", "00010", "10010", "01100"],
    'K': ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'M': ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    'N': ["10001", "10001", "11001", "10101", "10011", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'Q': ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'U': ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    'V': ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    'W': ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    'X': ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    'Y': ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    'Z': ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    '/': ["00001", "00010", "00010", "00100", "01000", "01000", "10000"],
    '-': ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
    ' ': ["00000"] * 7,
}


class Canvas:
    def __init__(self, width, height, colour):
        self.w = width
        self.h = height
        self.px = [[colour for _ in range(width)] for _ in range(height)]

    def set(self, x, y, colour):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[y][x] = colour

    def vgradient(self, top, bottom):
        for y in range(self.h):
            t = y / max(1, self.h - 1)
            c = tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3))
            for x in range(self.w):
                self.px[y][x] = c

    def text(self, x, y, s, scale, colour):
        for ch in s:
            glyph = FONT[ch]
            for gy, row in enumerate(glyph):
                for gx, bit in enumerate(row):
                    if bit == '1':
                        self.rect(x + gx * scale, y + gy * scale, x + (gx + 1) * scale, y + (gy + 1) * scale, colour)
            x += 6 * scale
        return x

    def text_width(self, s, scale):
        return len(s) * 6 * scale - scale

    def wave(self, x0, x1, ybase, amp, period, colour, thick=2):
        """A square wave, as octets look on a serial line."""
        pattern = [1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 1, 0, 0, 1, 0, 0]
        prev = None
        for x in range(x0, x1):
            bit = pattern[(x // period) % len(pattern)]
            y = ybase - amp if bit else ybase
            for t in range(thick):
                self.set(x, y + t, colour)
            if prev is not None and prev != y:
                for yy in range(min(prev, y), max(prev, y) + thick):
                    self.set(x, yy, colour)
            prev = y


def write_png(path, canvas):
    raw = bytearray()
    for row in canvas.px:
        raw.append(0)
        for (r, g, b) in row:
            raw += bytes((r, g, b))

    def chunk(kind, data):
        c = struct.pack('>I', len(data)) + kind + data
        return c + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b'\x89PNG\r\n\x1a\n'
    png += chunk(b'IHDR', struct.pack('>IIBBBBB', canvas.w, canvas.h, 8, 2, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(bytes(raw), 9))
    png += chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(png)


def write_gif(path, canvas):
    colours = []
    index = {}
    for row in canvas.px:
        for c in row:
            if c not in index:
                index[c] = len(colours)
                colours.append(c)
    assert len(colours) <= 256, path
    bits = 1
    while (1 << bits) < max(2, len(colours)):
        bits += 1
    table_size = 1 << bits
    palette = colours + [(0, 0, 0)] * (table_size - len(colours))
    min_code = max(2, bits)
    clear = 1 << min_code
    end = clear + 1
    width = min_code + 1
    # Every code is a literal; a clear code before the table would grow keeps the width fixed.
    codes = [clear]
    run = 0
    for row in canvas.px:
        for c in row:
            if run == (1 << min_code) - 2:
                codes.append(clear)
                run = 0
            codes.append(index[c])
            run += 1
    codes.append(end)
    data = bytearray()
    acc = 0
    nbits = 0
    for code in codes:
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            data.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8
    if nbits:
        data.append(acc & 0xFF)
    out = bytearray(b'GIF89a')
    out += struct.pack('<HHBBB', canvas.w, canvas.h, 0x80 | (bits - 1), 0, 0)
    for (r, g, b) in palette:
        out += bytes((r, g, b))
    out += b',' + struct.pack('<HHHHB', 0, 0, canvas.w, canvas.h, 0)
    out.append(min_code)
    for i in range(0, len(data), 255):
        block = data[i:i + 255]
        out.append(len(block))
        out += block
    out += b'\x00;'
    with open(path, 'wb') as f:
        f.write(bytes(out))


def banner(path, top, bottom, accent, title, subtitle, size=(550, 80), margin=12, wave=(70, 8)):
    """A banner: the name, a title and a subtitle beside it, a serial line along the bottom.
    margin is the top of the lettering; wave the base line and height of the serial line."""
    width, height = size
    c = Canvas(width, height, top)
    c.vgradient(top, bottom)
    c.wave(0, width, wave[0], wave[1], 6, accent, 1)
    x = c.text(18, margin, 'QUORIX', 4, (255, 255, 255))
    c.rect(x + 6, margin, x + 9, margin + 28, accent)
    c.text(x + 18, margin + 2, title, 2, (255, 255, 255))
    c.text(x + 18, margin + 22, subtitle, 1, accent)
    c.text(18, margin + 36, 'MS/TP MONITOR', 1, (220, 220, 220))
    write_png(path, c)


def icon(path):
    c = Canvas(64, 64, (255, 255, 255))
    c.rect(0, 0, 64, 64, (24, 52, 110))
    c.rect(4, 4, 60, 60, (36, 84, 160))
    c.text(12, 8, 'Q', 7, (255, 255, 255))
    c.wave(4, 60, 58, 5, 4, (255, 200, 40), 2)
    write_png(path, c)


def logo(path):
    c = Canvas(160, 40, (24, 52, 110))
    c.vgradient((24, 52, 110), (36, 84, 160))
    c.text(8, 6, 'QUORIX', 3, (255, 255, 255))
    c.wave(8, 152, 36, 4, 3, (255, 200, 40), 1)
    write_gif(path, c)


def notes(path):
    c = Canvas(16, 16, (255, 255, 255))
    c.rect(2, 1, 14, 15, (90, 90, 90))
    c.rect(3, 2, 13, 14, (255, 246, 190))
    for y in (5, 8, 11):
        c.rect(5, y, 11, y + 1, (120, 110, 70))
    write_gif(path, c)


def link_icon(path):
    c = Canvas(16, 16, (255, 255, 255))
    # An arrow pointing right: a shaft and a head.
    c.rect(2, 7, 10, 9, (36, 84, 160))
    for i in range(5):
        c.rect(9 + i, 3 + i, 10 + i, 13 - i, (36, 84, 160))
    write_gif(path, c)


# The picture of the About box: its template rectangle (272 by 40 dialog units) inside its sunken
# edge, at the dialog font's base units on this desktop (7 by 13 pixels).
ABOUT_PICTURE_SIZE = (474, 63)


def main():
    banner0 = ((20, 40, 90), (40, 90, 170), (255, 200, 40), 'NETWORK ANALYSER', 'ROLES - TOKEN TIMING - DAMAGED FRAMES')
    banner(os.path.join(HERE, 'banner0.png'), *banner0)
    # The About box shows the first banner, drawn for its own, smaller picture.
    banner(os.path.join(HERE, 'about_banner.png'), *banner0, size=ABOUT_PICTURE_SIZE, margin=4, wave=(58, 5))
    banner(os.path.join(HERE, 'banner1.png'), (10, 80, 80), (30, 140, 130), (200, 255, 230),
           'FREE MAC ADDRESSES', 'SEE WHICH STATIONS EXIST AND WHICH ADDRESS IS FREE')
    banner(os.path.join(HERE, 'banner2.png'), (30, 70, 20), (80, 140, 50), (240, 255, 160),
           'TOKEN TIMING', 'HOW LONG EACH MASTER HOLDS THE TOKEN')
    banner(os.path.join(HERE, 'banner3.png'), (80, 20, 50), (150, 50, 90), (255, 210, 230),
           'WHO TALKS TO WHO', 'DATA FRAMES BETWEEN EVERY PAIR OF STATIONS')
    icon(os.path.join(HERE, 'quorix_icon.png'))
    logo(os.path.join(HERE, 'logo.gif'))
    notes(os.path.join(HERE, 'notes.gif'))
    link_icon(os.path.join(HERE, 'link_icon.gif'))


if __name__ == '__main__':
    main()
