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

// With scans > 0 (1..704, Grayscale only) the file is progressive with exactly that many scans: one
// DC scan, then each AC coefficient in scans of its own, refined bit by bit where more are needed.
[[nodiscard]] QByteArray EncodeJpeg(
    const QImage &picture, JpegVariant variant, int quality = 95, int scans = 0);

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
