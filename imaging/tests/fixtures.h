#pragma once

#include <QByteArray>
#include <QImage>
#include <QRgb>
#include <QString>

#include <cstdint>
#include <vector>

// Image files made at test time, byte for byte, including the variants Qt cannot write.
namespace fixtures {

enum class PngVariant {
    Rgb8,
    Rgba8,
    Gray8,
    GrayAlpha8,
    Gray1, // 1 bit a pixel: red channel >= 128 is white
    Palette8,
    PaletteTransparent8, // palette with a tRNS chunk carrying the alpha values
    Rgb16,
    Rgba16,
    Gray16,
    InterlacedRgb8,
    InterlacedRgba8,
};

// The picture (any format; read as non-premultiplied ARGB) as a PNG of the given variant. Gray
// variants take the red channel; 16-bit variants store each 8-bit value v as v * 257.
[[nodiscard]] QByteArray EncodePng(const QImage &picture, PngVariant variant);

enum class JpegVariant {
    Baseline420,
    Baseline444,
    Grayscale, // the red channel
    Progressive,
    AdobeCmyk, // four components, inverted inks, with the Adobe marker
};

[[nodiscard]] QByteArray EncodeJpeg(const QImage &picture, JpegVariant variant, int quality = 95);

// One GIF frame: indices into the global palette; transparentIndex -1 for none.
struct GifFrame
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices;
    int transparentIndex = -1;
};

// A GIF89a file with a global palette (at most 256 colours) and one or more full-size frames,
// LZW-compressed.
[[nodiscard]] QByteArray EncodeGif(
    const std::vector<QRgb> &palette, const std::vector<GifFrame> &frames);

// A BMP file's parts as they are written; nothing is checked, so damaged files can be made too.
struct BmpLayout
{
    std::uint32_t headerSize = 40; // 12 (core), 40, 52, 56, 108, 124; other sizes get zeros
    std::int32_t width = 1;
    std::int32_t height = 1; // negative for top-down rows
    int bits = 24;
    std::uint32_t compression = 0;
    // Red, green, blue and alpha masks: inside a header of 52 bytes or more (as many as fit),
    // after a 40-byte one (all that are given).
    std::vector<std::uint32_t> masks {};
    // 0x??RRGGBB entries, 3 bytes each in a core header and 4 otherwise.
    std::vector<QRgb> palette {};
    std::int64_t colourCount = -1; // the header's count of colours; -1 for palette.size()
    std::int64_t pixelOffset = -1; // -1 for right after the palette
    QByteArray pixels {}; // padded rows or an RLE stream, as stored
};

[[nodiscard]] QByteArray EncodeBmp(const BmpLayout &layout);

// Rows (as stored, bottom row first for bottom-up files) packed at bits per value, each row padded
// to 4 bytes. Values are palette indices for 1, 4 and 8 bits, and the little-endian pixel
// (0xRRGGBB for 24) otherwise.
[[nodiscard]] QByteArray PackBmpRows(const std::vector<std::vector<std::uint32_t>> &rows, int bits);

// An icon file with one entry: the DIB of layout (its height the colour rows', doubled here) and
// then mask rows (1 bit a pixel, bottom row first, padded to 4 bytes).
[[nodiscard]] QByteArray EncodeIcoDib(BmpLayout layout, const QByteArray &maskRows);

// Through Qt's writers ("bmp", "ico").
[[nodiscard]] QByteArray EncodeWithQt(const QImage &picture, const char *format);

// A PNG that holds only a signature and an IHDR chunk claiming the given size (RGBA, 8 bits),
// then one small IDAT and IEND: a decompression bomb's header without the bomb.
[[nodiscard]] QByteArray PngClaimingSize(std::uint32_t width, std::uint32_t height);

// Writes bytes to path, failing the current test if it cannot.
void WriteFile(const QString &path, const QByteArray &bytes);

// A width x height picture of vertical bands, each bandWidth wide, coloured in turn from colours.
[[nodiscard]] QImage Bands(int width, int height, int bandWidth, const std::vector<QRgb> &colours);

} // namespace fixtures
