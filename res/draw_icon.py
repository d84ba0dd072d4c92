#!/usr/bin/env python3
"""Draws the program's icon and writes QZ_DriverSetup.ico (python3 draw_icon.py).

The picture: a blue rounded tile with a white arrow pointing down into a tray, for
"install". Nine images: 256, 48, 32 and 16 pixels with a 256-colour palette, and 256, 64,
48, 32 and 16 pixels in 32-bit colour with alpha. Windows XP cannot decode PNG icon images,
so everything up to 64 pixels is an uncompressed bitmap; only the 256-pixel images are PNG.
"""

import struct
import sys
import zlib
from pathlib import Path

SUPERSAMPLE = 4


def shape_colour(x, y):
    """Colour (r, g, b, a) at a point of the unit square, (0, 0) top left."""
    # Rounded tile with a vertical gradient.
    margin, radius = 0.04, 0.18
    cx = min(max(x, margin + radius), 1 - margin - radius)
    cy = min(max(y, margin + radius), 1 - margin - radius)
    if (x - cx) ** 2 + (y - cy) ** 2 > radius ** 2:
        return (0, 0, 0, 0)
    shade = y
    tile = (int(40 + 20 * (1 - shade)), int(110 + 60 * (1 - shade)), int(200 + 40 * (1 - shade)))
    white = (255, 255, 255)
    # Arrow: a shaft and a head pointing down.
    if 0.43 <= x <= 0.57 and 0.16 <= y <= 0.50:
        return white + (255,)
    if 0.46 <= y <= 0.68 and abs(x - 0.5) <= (0.68 - y) * 1.1:
        return white + (255,)
    # Tray: a U under the arrow.
    if 0.74 <= y <= 0.82 and 0.22 <= x <= 0.78:
        return white + (255,)
    if 0.58 <= y <= 0.82 and (0.22 <= x <= 0.30 or 0.70 <= x <= 0.78):
        return white + (255,)
    return tile + (255,)


def render(size):
    """Rows of (r, g, b, a), top row first, anti-aliased by supersampling."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = shape_colour((px + (sx + 0.5) / n) / size,
                                              (py + (sy + 0.5) / n) / size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(c / acc[3])) for c in acc[:3]) + (int(round(alpha)),))
        rows.append(row)
    return rows


def palette():
    """A 6x6x6 colour cube, then greys: 256 entries."""
    colours = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    colours += [(int(i * 255 / 39),) * 3 for i in range(40)]
    return colours


PALETTE = palette()


def nearest(colour):
    r, g, b = colour
    return min(range(256), key=lambda i: (PALETTE[i][0] - r) ** 2 + (PALETTE[i][1] - g) ** 2 +
               (PALETTE[i][2] - b) ** 2)


def and_mask(rows):
    """1 bit a pixel, set where transparent; rows bottom up, padded to 32 bits."""
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bitmap_header(size, bits, colours_used):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, colours_used, 0)


def bmp32(rows):
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    return bitmap_header(len(rows), 32, 0) + bytes(pixels) + and_mask(rows)


def indices(rows):
    return [[nearest(p[:3]) if p[3] >= 128 else 0 for p in row] for row in rows]


def bmp8(rows):
    size = len(rows)
    stride = (size + 3) // 4 * 4
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    pixels = bytearray()
    for row in reversed(indices(rows)):
        pixels += bytes(row) + bytes(stride - size)
    return bitmap_header(size, 8, 256) + table + bytes(pixels) + and_mask(rows)


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png32(rows):
    size = len(rows)
    raw = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" +
            png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def png8(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(row) for row in indices(rows))
    trns = bytes(0 if i == 0 else 255 for i in range(256))  # index 0 (black) stands for clear
    return (b"\x89PNG\r\n\x1a\n" +
            png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 3, 0, 0, 0)) +
            png_chunk(b"PLTE", b"".join(bytes(c) for c in PALETTE)) +
            png_chunk(b"tRNS", trns) +
            png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def main():
    cache = {}

    def rows_of(size):
        if size not in cache:
            cache[size] = render(size)
        return cache[size]

    # (size, bits, encoder)
    images = [(256, 8, png8), (48, 8, bmp8), (32, 8, bmp8), (16, 8, bmp8),
              (256, 32, png32), (64, 32, bmp32), (48, 32, bmp32), (32, 32, bmp32),
              (16, 32, bmp32)]
    blobs = [encode(rows_of(size)) for size, _, encode in images]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for (size, bits, _), blob in zip(images, blobs):
        dimension = 0 if size == 256 else size
        entries += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, bits, len(blob),
                               offset)
        offset += len(blob)
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name(
        "QZ_DriverSetup.ico")
    target.write_bytes(header + entries + b"".join(blobs))


if __name__ == "__main__":
    main()
