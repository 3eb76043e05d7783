#!/usr/bin/env python3
"""Writes VELKBugReport.ico: one 24 x 24 image, 32 bits per pixel with alpha.

A red-orange disc with a white exclamation mark, drawn with 4 x 4 supersampling so that the
edges are smooth. Only integer and fixed arithmetic: the same bytes on every run and machine.
Usage: make_icon.py [output path]  (default: VELKBugReport.ico beside this script)
"""
import os
import struct
import sys

SIZE = 24
SUB = 4  # samples per pixel along each axis

DISC = (0xE0, 0x4A, 0x2A)     # red-orange
DISC_EDGE = (0xA8, 0x2C, 0x16)  # a darker ring so the disc stands out on light backgrounds
MARK = (0xFF, 0xFF, 0xFF)


def sample(x, y):
    """Colour and coverage (0 or 1) at a point in 1/SUB pixel units, origin at the top left."""
    s = SIZE * SUB
    cx = cy = s  # the centre, doubled: points are taken at half-sample positions
    px, py = 2 * x + 1, 2 * y + 1
    d2 = (px - cx) ** 2 + (py - cy) ** 2
    outer = (2 * 11 * SUB) ** 2
    inner = (2 * 10 * SUB) ** 2
    if d2 > outer:
        return None
    # The mark: a bar from y 5 to 14 and a dot from y 16 to 19, 3 pixels wide, centred.
    half_w = 3 * SUB  # in doubled units: 1.5 pixels
    if abs(px - cx) <= half_w and (2 * 5 * SUB <= py <= 2 * 14 * SUB or 2 * 16 * SUB <= py <= 2 * 19 * SUB):
        return MARK
    return DISC if d2 <= inner else DISC_EDGE


def render():
    """Rows top to bottom of (b, g, r, a) tuples."""
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    c = sample(x * SUB + sx, y * SUB + sy)
                    if c is None:
                        continue
                    hits += 1
                    for i in range(3):
                        acc[i] += c[i]
            if hits == 0:
                row.append((0, 0, 0, 0))
            else:
                r, g, b = (acc[i] // hits for i in range(3))
                row.append((b, g, r, (255 * hits + SUB * SUB // 2) // (SUB * SUB)))
        rows.append(row)
    return rows


def icon_bytes():
    rows = render()
    pixels = b"".join(bytes(px) for row in reversed(rows) for px in row)  # bottom-up
    # The AND mask: one bit a pixel, rows padded to 32 bits; set where the pixel is transparent,
    # for systems that draw without the alpha channel.
    mask = bytearray()
    for row in reversed(rows):
        bits = 0
        for x, px in enumerate(row):
            if px[3] == 0:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    # BITMAPINFOHEADER: the height counts the colour image and the mask together.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)  # reserved, type icon, one image
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "VELKBugReport.ico")
    with open(out, "wb") as f:
        f.write(icon_bytes())


if __name__ == "__main__":
    main()
