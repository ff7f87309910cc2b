#!/usr/bin/python3
"""Writes the fuzzer's seed corpus: one tiny file per format variant the loader decodes.

Run once with Debian's python3-pil; the results are committed in seeds/.
"""
import io
import os
import struct

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "seeds")


def picture(mode, size=(12, 10)):
    w, h = size
    im = Image.new("RGBA", size)
    im.putdata([(x * 21 % 256, y * 25 % 256, (x + y) * 11 % 256, 255 if (x + y) % 3 else (x * 40) % 256)
                for y in range(h) for x in range(w)])
    return im.convert(mode) if mode != "RGBA" else im


def save(name, im, fmt, **options):
    buffer = io.BytesIO()
    im.save(buffer, fmt, **options)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(buffer.getvalue())


def lzw_literals(indices, min_code):
    """GIF image data that stores every pixel as its own code: clearing before the code table
    would widen keeps every code the same size, so no compressor is needed."""
    clear = 1 << min_code
    codes = [clear]
    run = 0
    for index in indices:
        if run == clear - 2:
            codes.append(clear)
            run = 0
        codes.append(index)
        run += 1
    codes.append(clear + 1)
    bits = 0
    filled = 0
    packed = bytearray()
    for code in codes:
        bits |= code << filled
        filled += min_code + 1
        while filled >= 8:
            packed.append(bits & 0xFF)
            bits >>= 8
            filled -= 8
    if filled:
        packed.append(bits & 0xFF)
    blocks = b"".join(bytes([len(packed[i:i + 255])]) + packed[i:i + 255]
                      for i in range(0, len(packed), 255))
    return bytes([min_code]) + blocks + b"\0"


def colour_table(count):
    return b"".join(bytes([i * 37 % 256, i * 91 % 256, i * 53 % 256]) for i in range(count))


def raw_gif(name, screen, frame, global_table=True, local_table=False, interlaced=False,
            transparent=None):
    """One 16-colour frame (left, top, width, height) on a screen, written byte by byte for the
    variants Pillow does not make: local tables, frames off the origin, small interlaced ones."""
    left, top, width, height = frame
    rows = [[(x + 3 * y) % 16 for x in range(width)] for y in range(height)]
    order = range(height)
    if interlaced:
        order = [y for start, step in ((0, 8), (4, 8), (2, 4), (1, 2))
                 for y in range(start, height, step)]
    indices = [i for y in order for i in rows[y]]
    data = b"GIF89a" + struct.pack("<HHBBB", *screen, 0xB3 if global_table else 0, 0, 0)
    if global_table:
        data += colour_table(16)
    flags = 1 if transparent is not None else 0
    data += b"\x21\xF9\x04" + struct.pack("<BHBB", flags, 0, transparent or 0, 0)
    local = 0x83 if local_table else 0
    data += b"," + struct.pack("<HHHHB", left, top, width, height,
                               local | (0x40 if interlaced else 0))
    if local_table:
        data += colour_table(16)[::-1]
    data += lzw_literals(indices, 4) + b";"
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(OUT, exist_ok=True)
    save("rgb.png", picture("RGB"), "PNG")
    save("rgba.png", picture("RGBA"), "PNG")
    save("gray.png", picture("L"), "PNG")
    save("gray-alpha.png", picture("LA"), "PNG")
    save("palette.png", picture("RGBA").convert("P"), "PNG", transparency=0)
    save("one-bit.png", picture("1"), "PNG")
    save("gray16.png", picture("L").convert("I"), "PNG")
    save("interlaced.png", picture("RGBA"), "PNG", interlace=1)
    save("baseline.jpg", picture("RGB", (24, 20)), "JPEG", quality=80)
    save("progressive.jpg", picture("RGB", (24, 20)), "JPEG", quality=80, progressive=True)
    save("gray.jpg", picture("L", (24, 20)), "JPEG", quality=80)
    save("cmyk.jpg", picture("CMYK", (24, 20)), "JPEG", quality=80)
    save("rgb.bmp", picture("RGB"), "BMP")
    save("palette.bmp", picture("P"), "BMP")
    save("still.gif", picture("P"), "GIF")
    frames = [picture("RGBA"), picture("RGBA").rotate(90)]
    save("animated.gif", frames[0], "GIF", save_all=True, append_images=frames[1:], transparency=0,
         duration=100, loop=0)
    raw_gif("interlaced.gif", (12, 10), (0, 0, 12, 10), interlaced=True)
    raw_gif("transparent.gif", (12, 10), (0, 0, 12, 10), transparent=5)
    raw_gif("local-palette.gif", (12, 10), (0, 0, 12, 10), global_table=False, local_table=True)
    raw_gif("offset-frame.gif", (16, 12), (5, 3, 8, 6), local_table=True, interlaced=True)
    save("icon.ico", picture("RGBA", (16, 16)), "ICO", sizes=[(16, 16)])
    # An 8-bit RLE BMP: two rows of runs and an end-of-bitmap marker.
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in [(255, 0, 0), (0, 0, 255)])
    rle = bytes([4, 0, 4, 1, 0, 0, 8, 1, 0, 1])
    info = struct.pack("<IiiHHIIiiII", 40, 8, 2, 1, 8, 1, len(rle), 2835, 2835, 2, 0)
    offset = 14 + len(info) + len(palette)
    header = b"BM" + struct.pack("<IHHI", offset + len(rle), 0, 0, offset)
    with open(os.path.join(OUT, "rle8.bmp"), "wb") as f:
        f.write(header + info + palette + rle)


if __name__ == "__main__":
    main()
