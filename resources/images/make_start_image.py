#!/usr/bin/env python3
"""Draws the start image (692 x 434 pixels, 16 colours) of the program.

Writes resources/images/start.bmp (4-bit Windows bitmap) and plot/StartImageData.inc
(the same pixels run-length encoded, so the diagram library can record the image without
reading files or linking an image library). Run from the repository root after a change;
both outputs are committed.
"""
import math
import struct
import sys

W, H = 692, 434

# The 16 standard colours of a 4-bit bitmap (R, G, B).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, SILVER, WHITE, RED, TEAL, CYAN, YELLOW = 0, 4, 8, 7, 15, 9, 6, 14, 11

GLYPHS = {
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'r': ["00000", "00000", "10110", "11001", "10000", "10000", "10000"],
    'v': ["00000", "00000", "10001", "10001", "10001", "01010", "00100"],
    'o': ["00000", "00000", "01110", "10001", "10001", "10001", "01110"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'C': ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'H': ["10001", "10001", "10001", "11111", "10001", "10001", "10001"],
    'I': ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'M': ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'U': ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    'V': ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    'Y': ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    '2': ["01110", "10001", "00001", "00010", "00100", "01000", "11111"],
    '3': ["11110", "00001", "00001", "01110", "00001", "00001", "11110"],
    '-': ["00000", "00000", "00000", "11111", "00000", "00000", "00000"],
    '.': ["00000", "00000", "00000", "00000", "00000", "01100", "01100"],
    ' ': ["00000"] * 7,
}

px = [[SILVER] * W for _ in range(H)]


def rect(x0, y0, x1, y1, c):
    for y in range(max(0, y0), min(H, y1)):
        row = px[y]
        for x in range(max(0, x0), min(W, x1)):
            row[x] = c


def text(s, x, y, cell, c, shadow=None):
    for ch in s:
        g = GLYPHS[ch]
        for gy, line in enumerate(g):
            for gx, bit in enumerate(line):
                if bit == '1':
                    if shadow is not None:
                        rect(x + gx * cell + 3, y + gy * cell + 3,
                             x + (gx + 1) * cell + 3, y + (gy + 1) * cell + 3, shadow)
                    rect(x + gx * cell, y + gy * cell, x + (gx + 1) * cell, y + (gy + 1) * cell, c)
        x += 6 * cell
    return x


def text_width(s, cell):
    return len(s) * 6 * cell - cell


def line(x0, y0, x1, y1, c, w=1):
    n = max(abs(x1 - x0), abs(y1 - y0), 1)
    for i in range(n + 1):
        x = round(x0 + (x1 - x0) * i / n)
        y = round(y0 + (y1 - y0) * i / n)
        rect(x - w // 2, y - w // 2, x - w // 2 + w, y - w // 2 + w, c)


# Frame: a navy border with a white panel.
rect(0, 0, W, H, NAVY)
rect(8, 8, W - 8, H - 8, SILVER)
rect(12, 12, W - 12, H - 12, WHITE)

# A small response diagram in the lower part: grid and a loudspeaker-like curve.
gx0, gy0, gx1, gy1 = 60, 250, 632, 380
rect(gx0, gy0, gx1, gy1, SILVER)
rect(gx0 + 2, gy0 + 2, gx1 - 2, gy1 - 2, WHITE)
for i in range(1, 8):
    x = gx0 + (gx1 - gx0) * i // 8
    line(x, gy0, x, gy1, SILVER)
for i in range(1, 5):
    y = gy0 + (gy1 - gy0) * i // 5
    line(gx0, y, gx1, y, SILVER)
prev = None
for x in range(gx0 + 2, gx1 - 2):
    t = (x - gx0) / (gx1 - gx0)
    f = 20 * 1000 ** t
    # High-pass of second order at 60 Hz with a gentle roll-off at 8 kHz and a small ripple.
    hp = (f / 60) ** 2 / math.sqrt((1 - (f / 60) ** 2) ** 2 + ((f / 60) / 0.9) ** 2)
    lp = 1 / math.sqrt(1 + (f / 8000) ** 4)
    db = 20 * math.log10(hp * lp + 1e-9) + 1.5 * math.sin(6 * t * math.pi)
    y = gy0 + 20 + (-db) * 3.2
    y = max(gy0 + 3, min(gy1 - 3, y))
    if prev:
        line(prev[0], prev[1], x, round(y), RED, 3)
    prev = (x, round(y))

# Title and subtitles, centred.
title, cell = "OrvoPro", 13
tx = (W - text_width(title, cell)) // 2
text(title, tx, 40, cell, NAVY, shadow=GREY)
sub = "LAUTSPRECHER-MESSSYSTEM"
text(sub, (W - text_width(sub, 3)) // 2, 150, 3, TEAL)
ver = "VERSION 2.3"
text(ver, (W - text_width(ver, 3)) // 2, 190, 3, GREY)


def write_bmp(path):
    stride = ((W * 4 + 31) // 32) * 4
    data = bytearray()
    for y in range(H - 1, -1, -1):
        row = px[y]
        b = bytearray()
        for x in range(0, W, 2):
            hi = row[x]
            lo = row[x + 1] if x + 1 < W else 0
            b.append((hi << 4) | lo)
        b.extend(b'\0' * (stride - len(b)))
        data.extend(b)
    pal = b''.join(struct.pack('<BBBB', bl, g, r, 0) for (r, g, bl) in PALETTE)
    offset = 14 + 40 + len(pal)
    header = struct.pack('<2sIHHI', b'BM', offset + len(data), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, W, H, 1, 4, 0, len(data), 2835, 2835, 16, 0)
    with open(path, 'wb') as f:
        f.write(header + info + pal + data)


def write_inc(path):
    # Runs of (count, colour index) over the rows, top row first; count 1..255.
    runs = []
    for row in px:
        x = 0
        while x < W:
            c = row[x]
            n = 1
            while x + n < W and row[x + n] == c and n < 255:
                n += 1
            runs.append((n, c))
            x += n
    with open(path, 'w') as f:
        f.write("// Generated by resources/images/make_start_image.py; do not edit.\n")
        f.write("// The start image as runs of (count, palette index), top row first.\n")
        f.write("static constexpr int kStartImageWidth = %d;\n" % W)
        f.write("static constexpr int kStartImageHeight = %d;\n" % H)
        f.write("static constexpr unsigned char kStartImagePalette[16][3] = {\n")
        for r, g, b in PALETTE:
            f.write("    {%d, %d, %d},\n" % (r, g, b))
        f.write("};\n")
        f.write("static constexpr unsigned char kStartImageRuns[] = {\n")
        flat = [v for run in runs for v in run]
        for i in range(0, len(flat), 24):
            f.write("    " + ", ".join(str(v) for v in flat[i:i + 24]) + ",\n")
        f.write("};\n")


if __name__ == '__main__':
    root = sys.argv[1] if len(sys.argv) > 1 else '.'
    write_bmp(root + '/resources/images/start.bmp')
    write_inc(root + '/plot/StartImageData.inc')
