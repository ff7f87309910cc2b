#pragma once

#include <QByteArray>
#include <QImage>
#include <QRgb>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
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

// One GIF frame: indices into its palette, row by row from the top; transparentIndex -1 for none.
struct GifFrame
{
    // A constructor rather than aggregate braces, so the damage settings below need no mention.
    GifFrame() = default;
    GifFrame(int width, int height, std::vector<std::uint8_t> indices, int transparentIndex = -1)
        : width(width)
        , height(height)
        , indices(std::move(indices))
        , transparentIndex(transparentIndex)
    {
    }

    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices;
    int transparentIndex = -1;
    // Position on the logical screen.
    int left = 0;
    int top = 0;
    // Empty for the global palette.
    std::vector<QRgb> localPalette;
    // Rows stored in the four-pass order (0, 8, ...; 4, 12, ...; 2, 6, ...; 1, 3, ...).
    bool interlaced = false;
    // The LZW minimum code size written; 0 for the one the colour table implies (2 at least).
    int codeSize = 0;
    // Damage: only the first encodedPixels pixels (in stored order) go into the LZW data before
    // its end code, in complete sub-blocks; -1 for all.
    int encodedPixels = -1;
    // Damage: the file ends after this many bytes of the frame's sub-blocks (length bytes
    // included, the code size byte not); -1 for the whole file.
    int keepDataBytes = -1;
};

// A GIF89a file with a global palette (at most 256 colours; none when empty), a graphic control
// block before each frame and the frames LZW-compressed. The logical screen is the first frame's
// size unless screen is valid (QSize(0, 0) included). With no frames the trailer follows the
// screen's data directly.
[[nodiscard]] QByteArray EncodeGif(
    const std::vector<QRgb> &palette, const std::vector<GifFrame> &frames, QSize screen = QSize());

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

// A 1-bit grey PNG of any size, made a row at a time so that pictures far past the window's limit
// cost only their compressed size: row(y, bits) fills the row's bits (8 pixels a byte, first
// pixel in the high bit, 1 white), which come zeroed.
[[nodiscard]] QByteArray EncodeGray1PngByRows(std::uint32_t width, std::uint32_t height,
    const std::function<void(std::uint32_t y, std::vector<std::uint8_t> &bits)> &row);

// Writes bytes to path, failing the current test if it cannot.
void WriteFile(const QString &path, const QByteArray &bytes);

// Runs check as a user without privileges, so permission bits count: in a child process that
// drops to the user nobody when the tests run as root, in this process otherwise. The folders on
// the way to what the check reads must let that user through. Gives what check gives (empty for
// a pass, otherwise what went wrong), or a sentence saying why the check could not run.
[[nodiscard]] std::string AsUnprivilegedUser(const std::function<std::string()> &check);

// A width x height picture of vertical bands, each bandWidth wide, coloured in turn from colours.
[[nodiscard]] QImage Bands(int width, int height, int bandWidth, const std::vector<QRgb> &colours);

} // namespace fixtures
