#!/usr/bin/python3
"""Writes the fuzzer's seed corpus: one tiny file per format variant the loader decodes.

Run once with Debian's python3-pil and the encoders of the webp, libheif-examples, libavif-bin
and libjxl-tools packages; the results are committed in seeds/.
"""
import io
import os
import struct
import subprocess
import tempfile
import zlib

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
            transparent=None, min_code=4):
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
    data += lzw_literals(indices, min_code) + b";"
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def encode(name, im, command):
    """Hands the picture as a PNG to an encoder; {in} and {out} stand for the two paths."""
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "in.png")
        im.save(source, "PNG")
        out = os.path.join(OUT, name)
        subprocess.run([a.replace("{in}", source).replace("{out}", out) for a in command],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


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
    # BMP variants Pillow does not write, built field by field.
    red_blue = [(255, 0, 0), (0, 0, 255)]
    write("rle8.bmp", bmp(8, 2, 8, bytes([4, 0, 4, 1, 0, 0, 8, 1, 0, 1]), compression=1,
                          palette=red_blue))
    # Runs, a delta, three literal pixels and an early end of the bitmap.
    write("rle8-delta.bmp", bmp(6, 3, 8, bytes([2, 1, 0, 2, 2, 1, 2, 0, 0, 0, 0, 3, 1, 0, 1, 0, 0, 1]),
                                compression=1, palette=red_blue))
    write("rle4-delta.bmp", bmp(5, 2, 4, bytes([5, 0x12, 0, 0, 0, 2, 1, 0, 0, 3, 0x34, 0x50, 0, 1]),
                                compression=2, palette=sixteen()))
    write("top-down.bmp", bmp(5, -3, 24, rows(5, 3, 24, lambda x, y: x * 0x330000 + y * 0x55)))
    write("rgb555.bmp", bmp(5, 3, 16, rows(5, 3, 16, lambda x, y: (x * 6) << 10 | y * 9)))
    write("bitfields565.bmp", bmp(5, 3, 16, rows(5, 3, 16, lambda x, y: x * 0x1234 + y), compression=3,
                                  masks=[0xF800, 0x07E0, 0x001F]))
    write("bitfields101010.bmp", bmp(4, 2, 32, rows(4, 2, 32, lambda x, y: x * 0x0FFC0201 + y),
                                     compression=3, masks=[0x3FF00000, 0x000FFC00, 0x3FF]))
    write("argb-v5.bmp", bmp(4, 3, 32, rows(4, 3, 32, lambda x, y: (x * 80) << 24 | y * 0x405060),
                             compression=3, header=124, masks=[0xFF0000, 0xFF00, 0xFF, 0xFF000000]))
    write("argb4444.bmp", bmp(4, 2, 16, rows(4, 2, 16, lambda x, y: x * 0x4321 + y), compression=6,
                              masks=[0x0F00, 0x00F0, 0x000F, 0xF000]))
    write("palette4.bmp", bmp(7, 2, 4, rows(7, 2, 4, lambda x, y: x + y * 7), palette=sixteen()))
    write("palette1.bmp", bmp(11, 2, 1, rows(11, 2, 1, lambda x, y: (x + y) % 2), palette=red_blue))
    write("core8.bmp", bmp(3, 2, 8, rows(3, 2, 8, lambda x, y: x * 5 + y), header=12, palette=sixteen()))
    # Icons: a 24-bit DIB and an 8-bit one, each with its 1-bit mask after the colour rows.
    write("dib24.ico", ico(bmp(4, 4, 24, rows(4, 4, 24, lambda x, y: x * 0x400000 + y * 0x40),
                               icon=True) + rows(4, 4, 1, lambda x, y: x == y), 4))
    write("dib8.ico", ico(bmp(3, 3, 8, rows(3, 3, 8, lambda x, y: x + y), palette=sixteen(), icon=True)
                          + rows(3, 3, 1, lambda x, y: x == 0), 3))
    # WebP: lossy, lossless with alpha, and an animation whose frames differ.
    save("lossy.webp", picture("RGB"), "WEBP", quality=70)
    save("lossless-alpha.webp", picture("RGBA"), "WEBP", lossless=True)
    save("animated.webp", frames[0], "WEBP", save_all=True, append_images=frames[1:], lossless=True,
         duration=100, loop=0)
    # TIFF: the photometrics and layouts libtiff takes different paths for.
    save("rgb.tif", picture("RGB"), "TIFF")
    save("rgba-deflate.tif", picture("RGBA"), "TIFF", compression="tiff_adobe_deflate")
    save("gray16.tif", picture("L").convert("I;16"), "TIFF")
    save("palette-lzw.tif", picture("P"), "TIFF", compression="tiff_lzw")
    save("cmyk.tif", picture("CMYK"), "TIFF")
    save("one-bit-packbits.tif", picture("1"), "TIFF", compression="packbits")
    save("two-pages.tif", frames[0], "TIFF", save_all=True, append_images=frames[1:])
    # HEIC, AVIF and JPEG XL through their own encoders; Pillow writes none of them.
    encode("alpha.heic", picture("RGBA", (16, 16)), ["heif-enc", "-q", "50", "{in}", "-o", "{out}"])
    encode("lossless-alpha.avif", picture("RGBA"), ["avifenc", "-l", "{in}", "{out}"])
    encode("lossy.avif", picture("RGB"), ["avifenc", "--min", "30", "--max", "40", "{in}", "{out}"])
    encode("turned-mirrored-cropped.avif", picture("RGBA"),
           ["avifenc", "-l", "--irot", "3", "--imir", "1", "--crop", "2,2,8,6", "{in}", "{out}"])
    encode("lossless-alpha.jxl", picture("RGBA"), ["cjxl", "-d", "0", "{in}", "{out}"])
    encode("lossy.jxl", picture("RGB"), ["cjxl", "-d", "2", "{in}", "{out}"])
    tagged()
    mended()


def mended():
    """Variants the readers were mended for: deep and float TIFF samples, CIELab, fax rows
    without end-of-line codes, bare and run-length BMP, unusual GIF code sizes, deep AVIF."""
    spread = [(x * 5171 + y * 977 + c * 20011) % 65536 for y in range(3) for x in range(4)
              for c in range(3)]
    write("rgb16.tif", raw_tiff(4, 3, 2, [16] * 3, struct.pack("<36H", *spread)))
    floats = [v / 50000 - 0.1 for v in spread]
    write("float-rgb.tif", raw_tiff(4, 3, 2, [32] * 3, struct.pack("<36f", *floats), 3))
    lab = bytes((x * 60 + c * 40 + y * 9) % 256 for y in range(3) for x in range(4) for c in range(3))
    write("cielab.tif", raw_tiff(4, 3, 8, [8] * 3, lab))
    write("fax-without-eols.tif", raw_tiff(8, 3, 0, [1], fax_rows(), compression=3, options=0))
    write("headerless.dib", bmp(5, 3, 24, rows(5, 3, 24, lambda x, y: x * 0x330000 + y * 0x55))[14:])
    # A run past the width, a row past the last one, then the run-length codes top-down.
    write("rle8-past-edges.bmp", bmp(4, 2, 8, bytes([6, 1, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1]),
                                     compression=1, palette=[(255, 0, 0), (0, 0, 255)]))
    write("rle4-top-down.bmp", bmp(5, -2, 4, bytes([5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1]),
                                   compression=2, palette=sixteen()))
    write("palette2.bmp", bmp(9, 2, 2, rows(9, 2, 2, lambda x, y: (x + y) % 4), palette=sixteen()[:4]))
    raw_gif("code-size-9.gif", (12, 10), (0, 0, 12, 10), min_code=9)
    raw_gif("no-colour-table.gif", (12, 10), (0, 0, 12, 10), global_table=False)
    encode("deep10.avif", picture("RGB"), ["avifenc", "-d", "10", "--min", "20", "--max", "30",
                                           "{in}", "{out}"])
    encode("cicp-9-14-9.avif", picture("RGB"), ["avifenc", "-y", "444", "-d", "10", "--cicp",
                                                "9/14/9", "{in}", "{out}"])
    # The same planes labelled as BT.2020's constant luminance, which libavif cannot write.
    path = os.path.join(OUT, "cicp-9-14-9.avif")
    with open(path, "rb") as f:
        avif = bytearray(f.read())
    os.remove(path)
    at = avif.index(b"colrnclx") + 12
    avif[at:at + 2] = struct.pack(">H", 10)
    write("constant-luminance.avif", bytes(avif))


def fax_rows():
    """Three Modified Huffman rows 8 pixels wide, one after another with no end-of-line codes:
    white 8; white 3, black 2, white 3; white 0, black 3, white 5."""
    bits = "10011" + "1000" + "11" + "1000" + "00110101" + "10" + "1100"
    bits += "0" * (-len(bits) % 8)
    return int(bits, 2).to_bytes(len(bits) // 8, "big")


def raw_tiff(width, height, photometric, bits, pixels, sample_format=1, compression=1,
             options=None):
    """An uncompressed (or given) one-strip little-endian TIFF, written field by field."""
    samples = len(bits)
    fields = [(256, 3, [width]), (257, 3, [height]), (258, 3, bits), (259, 3, [compression]),
              (262, 3, [photometric]), (273, 4, [0]), (277, 3, [samples]), (278, 3, [height]),
              (279, 4, [len(pixels)]), (284, 3, [1])]
    if options is not None:
        fields.append((292, 4, [options]))
    fields.append((339, 3, [sample_format] * samples))
    ifd_at = 8
    extra_at = ifd_at + 2 + 12 * len(fields) + 4
    extra = b""
    packed_fields = []
    for tag, kind, values in fields:
        data = struct.pack("<%d%s" % (len(values), "H" if kind == 3 else "I"), *values)
        packed_fields.append((tag, kind, values, data))
        if len(data) > 4:
            extra += data
    pixels_at = extra_at + len(extra)
    ifd = struct.pack("<H", len(fields))
    at = extra_at
    for tag, kind, values, data in packed_fields:
        if tag == 273:
            data = struct.pack("<I", pixels_at)
        if len(data) > 4:
            value = struct.pack("<I", at)
            at += len(data)
        else:
            value = data.ljust(4, b"\0")
        ifd += struct.pack("<HHI", tag, kind, len(values)) + value
    ifd += bytes(4)
    return b"II*\0" + struct.pack("<I", ifd_at) + ifd + extra + pixels


def s15(value):
    return struct.pack(">i", round(value * 65536))


def p3_profile():
    """A small Display P3 matrix-shaper profile (version 2, gamma 2.2 curves), built tag by tag
    so the seeds need no colour library."""
    def xyz(x, y, z):
        return b"XYZ " + bytes(4) + s15(x) + s15(y) + s15(z)
    text = b"Display P3"
    tags = [
        (b"desc", b"desc" + bytes(4) + struct.pack(">I", len(text) + 1) + text + b"\0"
         + bytes(4 + 4 + 2 + 1 + 67)),
        (b"wtpt", xyz(0.9642, 1.0, 0.8249)),
        # Display P3's primaries adapted to D50.
        (b"rXYZ", xyz(0.5151, 0.2412, -0.0011)),
        (b"gXYZ", xyz(0.2920, 0.6922, 0.0419)),
        (b"bXYZ", xyz(0.1571, 0.0666, 0.7841)),
        (b"rTRC", b"curv" + bytes(4) + struct.pack(">IH", 1, 0x0233) + bytes(2)),
    ]
    tags += [(b"gTRC", tags[-1][1]), (b"bTRC", tags[-1][1])]
    table = b""
    body = b""
    at = 128 + 4 + 12 * len(tags)
    for signature, data in tags:
        table += signature + struct.pack(">II", at + len(body), len(data))
        body += data + bytes(-len(data) % 4)
    size = at + len(body)
    header = (struct.pack(">I", size) + bytes(4) + struct.pack(">I", 0x02100000) + b"mntrRGB XYZ "
              + bytes(12) + b"acsp" + bytes(24) + struct.pack(">I", 0) + s15(0.9642) + s15(1.0)
              + s15(0.8249) + bytes(48))
    return header + struct.pack(">I", len(tags)) + table + body


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def with_png_chunks(png, chunks):
    """The PNG with chunks after its IHDR (the 8-byte signature and 25-byte IHDR)."""
    return png[:33] + b"".join(chunks) + png[33:]


def tagged():
    """Pictures that describe their colours: the description readers' own paths. Built from the
    untagged seeds, so this part runs without Pillow too."""
    profile = p3_profile()
    with open(os.path.join(OUT, "rgb.png"), "rb") as f:
        png = f.read()
    iccp = png_chunk(b"iCCP", b"Display P3\0\0" + zlib.compress(profile))
    gama = png_chunk(b"gAMA", struct.pack(">I", 45455))
    chrm = png_chunk(b"cHRM", struct.pack(">8I", 31270, 32900, 64000, 33000, 30000, 60000, 15000,
                                          6000))
    write("iccp-over-srgb.png", with_png_chunks(png, [png_chunk(b"sRGB", b"\0"), iccp]))
    write("cicp-gama-chrm.png", with_png_chunks(
        png, [png_chunk(b"cICP", bytes([12, 13, 0, 1])), gama, chrm]))
    # The profile in two APP2 segments, the second first.
    with open(os.path.join(OUT, "baseline.jpg"), "rb") as f:
        jpeg = f.read()
    half = len(profile) // 2
    segments = b""
    for number, piece in ((2, profile[half:]), (1, profile[:half])):
        data = b"ICC_PROFILE\0" + bytes([number, 2]) + piece
        segments += b"\xFF\xE2" + struct.pack(">H", len(data) + 2) + data
    write("icc-segments.jpg", jpeg[:2] + segments + jpeg[2:])
    write("icc.tif", tiff_with_profile(profile))
    tagged_png = with_png_chunks(png, [iccp])
    encode_file("icc.webp", tagged_png, ["cwebp", "-quiet", "-metadata", "icc", "{in}", "-o", "{out}"])
    encode_file("icc.avif", tagged_png, ["avifenc", "-l", "{in}", "{out}"])
    encode_file("cicp.avif", png, ["avifenc", "--cicp", "9/16/9", "{in}", "{out}"])
    encode_file("icc.heic", tagged_png, ["heif-enc", "-q", "50", "{in}", "-o", "{out}"])
    encode_file("icc.jxl", tagged_png, ["cjxl", "-d", "0", "{in}", "{out}"])


def tiff_with_profile(profile, width=4, height=3):
    """An uncompressed 8-bit RGB TIFF with the profile in tag 34675, written field by field."""
    pixels = bytes((x * 60 + y * 7 + c * 90) % 256 for y in range(height) for x in range(width)
                   for c in range(3))
    entries = 11
    ifd_at = 8
    extra_at = ifd_at + 2 + 12 * entries + 4
    bits_at, pixels_at = extra_at, extra_at + 6
    profile_at = pixels_at + len(pixels)
    fields = [(256, 3, 1, width), (257, 3, 1, height), (258, 3, 3, bits_at), (259, 3, 1, 1),
              (262, 3, 1, 2), (273, 4, 1, pixels_at), (277, 3, 1, 3), (278, 3, 1, height),
              (279, 4, 1, len(pixels)), (284, 3, 1, 1), (34675, 7, len(profile), profile_at)]
    ifd = struct.pack("<H", entries)
    for tag, kind, count, value in fields:
        packed = struct.pack("<H", value) + bytes(2) if kind == 3 and count == 1 else struct.pack(
            "<I", value)
        ifd += struct.pack("<HHI", tag, kind, count) + packed
    ifd += bytes(4)
    return (b"II*\0" + struct.pack("<I", ifd_at) + ifd + struct.pack("<3H", 8, 8, 8) + pixels
            + profile)


def encode_file(name, data, command):
    """encode() for a file given as its bytes."""
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "in.png")
        with open(source, "wb") as f:
            f.write(data)
        out = os.path.join(OUT, name)
        subprocess.run([a.replace("{in}", source).replace("{out}", out) for a in command],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def sixteen():
    return [(i * 16, 255 - i * 16, i * 5) for i in range(16)]


def rows(width, height, bits, value):
    """Stored rows, each value packed at bits (little-endian above 8 bits), padded to 4 bytes."""
    out = b""
    for y in range(abs(height)):
        if bits >= 8:
            row = b"".join(value(x, y).to_bytes(bits // 8, "little") for x in range(width))
        else:
            number = 0
            for x in range(width):
                number = number << bits | int(value(x, y)) & ((1 << bits) - 1)
            total = width * bits
            number <<= -total % 8
            row = number.to_bytes((total + 7) // 8, "big")
        out += row + bytes(-len(row) % 4)
    return out


def bmp(width, height, bits, pixels, compression=0, header=40, masks=(), palette=(), icon=False):
    """A BMP file, or with icon=True the DIB alone with its height doubled for the mask."""
    entry = 3 if header == 12 else 4
    table = b"".join(bytes([b, g, r, 0][:entry]) for r, g, b in palette)
    rows_height = height * 2 if icon else height
    if header == 12:
        info = struct.pack("<IHHHH", 12, width, rows_height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", header, width, rows_height, 1, bits, compression,
                           len(pixels), 2835, 2835, len(palette), 0)
        inside = b"".join(struct.pack("<I", m) for m in masks)
        if header == 40:
            info += inside
        else:
            info = (info + inside)[:header].ljust(header, b"\0")
    if icon:
        return info + table + pixels
    offset = 14 + len(info) + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + table + pixels


def ico(dib, size):
    return struct.pack("<HHHBBBBHHII", 0, 1, 1, size, size, 0, 0, 1, 0, len(dib), 22) + dib

if __name__ == "__main__":
    main()
