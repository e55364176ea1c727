#!/usr/bin/env python3
"""Writes the applet's icon file from its XPM image: one 32 by 32 image in the 16 colours of
the standard Windows palette (4 bits per pixel), "None" pixels transparent.

    xpm_to_ico.py chroncfg.xpm chroncfg.ico

Fails on a colour outside that palette, so that the icon shows the same everywhere.
"""

import re
import struct
import sys

# The 16 colours of the Windows palette, in palette order (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def read_xpm(path):
    """Returns width, height and rows of palette indices (None for transparent)."""
    strings = re.findall(r'"([^"]*)"', open(path, encoding="ascii").read())
    width, height, colours, chars = (int(v) for v in strings[0].split()[:4])
    lookup = {}
    for line in strings[1:1 + colours]:
        key, fields = line[:chars], line[chars:].split()
        value = fields[fields.index("c") + 1]
        if value.lower() == "none":
            lookup[key] = None
            continue
        rgb = tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
        if rgb not in PALETTE:
            sys.exit(f"{path}: colour {value} is not one of the 16 palette colours")
        lookup[key] = PALETTE.index(rgb)
    rows = []
    for line in strings[1 + colours:1 + colours + height]:
        rows.append([lookup[line[x * chars:(x + 1) * chars]] for x in range(width)])
    return width, height, rows


def ico(width, height, rows):
    """ICO file of one 4-bit image: BITMAPINFOHEADER (height doubled for the AND mask), the
    palette as RGBQUAD, the colour rows and the 1-bit mask rows, both bottom-up and padded to
    32 bits."""
    xor_stride = (width * 4 + 31) // 32 * 4
    and_stride = (width + 31) // 32 * 4
    colour, mask = b"", b""
    for row in reversed(rows):
        nibbles = [0 if p is None else p for p in row]
        line = bytes((nibbles[i] << 4) | (nibbles[i + 1] if i + 1 < width else 0) for i in range(0, width, 2))
        colour += line.ljust(xor_stride, b"\0")
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is None else 0)
        bits <<= (and_stride * 8 - width)
        mask += bits.to_bytes(and_stride, "big")
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0, len(colour) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    width, height, rows = read_xpm(sys.argv[1])
    with open(sys.argv[2], "wb") as out:
        out.write(ico(width, height, rows))


if __name__ == "__main__":
    main()
