#!/usr/bin/env python3
"""Draws Quillmere's icon and writes it as hicolor PNGs and one Windows .ico.

The picture: a rounded tile whose upper-left half is a striped "picture" and whose lower-right
half is the average colour of the stripes, the program's whole idea at 16 pixels. The .ico holds
48, 32, 24 and 16 pixels, each at 256 colours (8 bits with a transparency mask) and at 32 bits.

Uses only the standard library, so it runs anywhere: python3 app/icons/make_icons.py
"""

import os
import struct
import zlib

SIZES = (48, 32, 24, 16)
HERE = os.path.dirname(os.path.abspath(__file__))

STRIPES = ((226, 61, 52), (243, 194, 47), (63, 168, 84), (52, 104, 204))
AVERAGE = tuple(round(sum(c[i] for c in STRIPES) / len(STRIPES)) for i in range(3))
OUTLINE = (38, 42, 52)
SUPERSAMPLE = 8


def inside_rounded_square(x, y, radius):
    """Whether (x, y), in units of the tile (0..1), lies inside the rounded tile."""
    margin = 0.04
    lo, hi = margin, 1.0 - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def sample(x, y, size):
    """Colour and coverage (r, g, b, a) of one subsample point of the tile."""
    radius = 0.2
    if not inside_rounded_square(x, y, radius):
        return (0, 0, 0, 0)
    # A one-pixel outline at every size, so the tile stands out on light and dark panels.
    border = 1.0 / size
    if not inside_rounded_square(
        0.5 + (x - 0.5) / (1 - 2 * border), 0.5 + (y - 0.5) / (1 - 2 * border), radius
    ):
        return OUTLINE + (255,)
    if x + y > 1.0:
        return AVERAGE + (255,)
    # Diagonal stripes across the upper-left half.
    index = min(max(int((x - y + 0.5) * len(STRIPES)), 0), len(STRIPES) - 1)
    return STRIPES[index] + (255,)


def render(size):
    """Rows of (r, g, b, a) pixels, antialiased by supersampling."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(n):
                for sx in range(n):
                    r, g, b, a = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size, size)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            alpha = acc[3] / (n * n)
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(acc[i] / acc[3]) for i in range(3)) + (round(alpha),))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def and_mask(rows):
    """1 bit per pixel, set where the pixel is transparent; rows padded to 32 bits, bottom-up."""
    size = len(rows)
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bitmap_header(size, bits, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0, colours, 0)


def dib32(rows):
    size = len(rows)
    pixels = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(rows) for p in row)
    return bitmap_header(size, 32, 0) + pixels + and_mask(rows)


def palette_for(images):
    """One shared 256-colour palette: the most frequent opaque colours of every size."""
    counts = {}
    for rows in images:
        for row in rows:
            for p in row:
                if p[3] >= 128:
                    counts[p[:3]] = counts.get(p[:3], 0) + 1
    palette = [(0, 0, 0)] + [c for c, _ in sorted(counts.items(), key=lambda kv: -kv[1])]
    palette = palette[:256]
    return palette + [(0, 0, 0)] * (256 - len(palette))


def nearest(palette, colour, cache):
    if colour not in cache:
        cache[colour] = min(
            range(1, 256), key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3))
        )
    return cache[colour]


def dib8(rows, palette):
    size = len(rows)
    stride = (size + 3) // 4 * 4
    cache = {}
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, p in enumerate(row):
            line[x] = 0 if p[3] < 128 else nearest(palette, p[:3], cache)
        pixels += line
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return bitmap_header(size, 8, 256) + table + bytes(pixels) + and_mask(rows)


def ico(entries):
    """entries: (size, bits, data) in the order they go into the directory."""
    header = struct.pack("<HHH", 0, 1, len(entries))
    offset = len(header) + 16 * len(entries)
    directory = b""
    body = b""
    for size, bits, data in entries:
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, bits, len(data), offset + len(body))
        body += data
    return header + directory + body


def main():
    images = {size: render(size) for size in SIZES}
    for size, rows in images.items():
        folder = os.path.join(HERE, "hicolor", f"{size}x{size}", "apps")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "quillmere.png"), "wb") as f:
            f.write(png(rows))
    palette = palette_for(images.values())
    entries = [(s, 8, dib8(images[s], palette)) for s in SIZES]
    entries += [(s, 32, dib32(images[s])) for s in SIZES]
    with open(os.path.join(HERE, "quillmere.ico"), "wb") as f:
        f.write(ico(entries))


if __name__ == "__main__":
    main()
