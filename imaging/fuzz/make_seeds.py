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
    save("icon.ico", picture("RGBA", (16, 16)), "ICO", sizes=[(16, 16)])
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
