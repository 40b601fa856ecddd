#!/usr/bin/env python3
"""Builds app/tessmark.ico from the two hand-drawn XPM images in app/icon/.

Each XPM holds one image (16x16 and 32x32) with at most 256 colours; "None"
marks transparent pixels. The .ico gets one 8-bit palette image per XPM,
stored as a bottom-up DIB followed by its 1-bit transparency mask, which is
what the resource compiler and the window manager expect.

Usage: tools/make_icon.py [OUT.ico]   (default: app/tessmark.ico)
"""
import os
import re
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SOURCES = ["icon16.xpm", "icon32.xpm"]


def read_xpm(path):
    with open(path, encoding="ascii") as f:
        strings = re.findall(r'"([^"]*)"', f.read())
    width, height, ncolors, cpp = (int(v) for v in strings[0].split()[:4])
    colors = {}
    for line in strings[1 : 1 + ncolors]:
        key, fields = line[:cpp], line[cpp:].split()
        value = fields[fields.index("c") + 1]
        colors[key] = None if value.lower() == "none" else int(value.lstrip("#"), 16)
    rows = strings[1 + ncolors : 1 + ncolors + height]
    pixels = [[colors[row[x * cpp : (x + 1) * cpp]] for x in range(width)] for row in rows]
    if len(rows) != height or any(len(r) != width for r in pixels):
        raise SystemExit(f"{path}: image is not {width}x{height}")
    return width, height, pixels


def dib(width, height, pixels):
    palette = sorted({p for row in pixels for p in row if p is not None})
    if len(palette) > 255:
        raise SystemExit("more than 255 colours")
    palette = [0] + palette  # index 0 stands under transparent pixels
    index = {rgb: i for i, rgb in enumerate(palette)}
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    colors = b"".join(struct.pack("<BBBB", c & 0xFF, (c >> 8) & 0xFF, c >> 16, 0) for c in palette)
    colors += b"\0\0\0\0" * (256 - len(palette))
    xor_rows, and_rows = [], []
    mask_stride = ((width + 31) // 32) * 4
    for row in reversed(pixels):
        xor_rows.append(bytes(0 if p is None else index[p] for p in row))
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_rows.append(bytes(bits))
    return header + colors + b"".join(xor_rows) + b"".join(and_rows)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "app", "tessmark.ico")
    images = [read_xpm(os.path.join(ROOT, "app", "icon", name)) for name in SOURCES]
    blobs = [dib(*image) for image in images]
    data = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (width, height, _), blob in zip(images, blobs):
        data += struct.pack("<BBBBHHII", width, height, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    data += b"".join(blobs)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
