// The BMP and icon decoder, through the loader, on files built byte for byte.
#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <string>

namespace {

using fixtures::BmpLayout;
using fixtures::PackBmpRows;
using Rows = std::vector<std::vector<std::uint32_t>>;
using Pixels = std::vector<std::vector<QRgb>>; // expected, top row first

constexpr analysis::ColourValue kSlate = 0x996633; // 0x00BBGGRR of kBg
constexpr QRgb kBg = 0xFF336699;
constexpr QRgb kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;
constexpr QRgb kWhite = 0xFFFFFFFF, kBlack = 0xFF000000;
const std::vector<std::uint32_t> k565 = { 0xF800, 0x07E0, 0x001F };
const std::vector<std::uint32_t> kArgb32 = { 0xFF0000, 0xFF00, 0xFF, 0xFF000000 };
const std::vector<QRgb> kTwoColours = { kRed, kBlue };

// Source-over by the exact formula, rounded: what a translucent pixel must become.
QRgb Over(int r, int g, int b, int a)
{
    const auto mix = [a](int c, int under) {
        return static_cast<int>(std::lround((c * a + under * (255 - a)) / 255.0));
    };
    return qRgb(mix(r, qRed(kBg)), mix(g, qGreen(kBg)), mix(b, qBlue(kBg)));
}

// Sixteen distinct colours, so every nibble value shows which entry it picked.
std::vector<QRgb> Palette16()
{
    std::vector<QRgb> palette;
    for (int i = 0; i < 16; ++i)
        palette.push_back(qRgb(i * 16, 255 - i * 16, i * 5));
    return palette;
}

class BmpFiles : public testing::Test
{
protected:
    void SetUp() override { token = modGDIPlusResize::GdiPlusOpen(); }
    void TearDown() override { modGDIPlusResize::GdiPlusClose(token); }

    // The loaded picture, or a null image for the load error.
    QImage Load(const QByteArray &bytes, const char *name = "picture.bmp")
    {
        const QString path = dir.filePath(QString::fromUtf8(name));
        fixtures::WriteFile(path, bytes);
        std::int32_t width = -1, height = -1;
        try {
            return modGDIPlusResize::LoadPictureScaled(path, width, height, kSlate);
        } catch (const modGDIPlusResize::LoadError &) {
            return {};
        }
    }

    // Every pixel as stored, alpha byte included (QImage::pixel would hide a non-opaque one), so
    // a wrong mean cannot hide behind a right one.
    static void ExpectPixels(const QImage &picture, const Pixels &expected)
    {
        ASSERT_FALSE(picture.isNull()) << "the load error";
        ASSERT_EQ(picture.format(), QImage::Format_RGB32);
        ASSERT_EQ(picture.height(), static_cast<int>(expected.size()));
        ASSERT_EQ(picture.width(), static_cast<int>(expected[0].size()));
        for (int y = 0; y < picture.height(); ++y) {
            const auto *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                EXPECT_EQ(line[x], expected[y][x]) << std::hex << "at " << x << "," << y;
        }
    }

    QTemporaryDir dir;
    std::uintptr_t token = 0;
};

struct DecodeCase
{
    const char *name;
    BmpLayout layout;
    Pixels expected;
};

void PrintTo(const DecodeCase &c, std::ostream *os) { *os << c.name; }

class BmpDecoding : public BmpFiles, public testing::WithParamInterface<DecodeCase>
{
};

TEST_P(BmpDecoding, EveryPixelIsWhatTheFileHolds)
{
    ExpectPixels(Load(fixtures::EncodeBmp(GetParam().layout)), GetParam().expected);
}

// Rows are stored bottom row first unless the height is negative.
const Rows kRows24 = { { 0xFF0000, 0x00FF00, 0x0000FF }, { 0x123456, 0xFFFFFF, 0x000000 } };
const Pixels kRows24BottomUp = { { 0xFF123456, kWhite, kBlack }, { kRed, kGreen, kBlue } };
// 5-6-5 white, mid green (6-bit 32 widens to 130) and the lowest blue (5-bit 1 widens to 8).
const Rows kRows565 = { { 0xFFFF, 0x0400, 0x0001 } };
const Pixels kPixels565 = { { kWhite, 0xFF008200, 0xFF000008 } };
// Alpha 0x80 red, alpha 0 (the background whatever the colour), opaque green.
const Rows kRowsArgb = { { 0x80FF0000, 0x00123456, 0xFF00FF00 } };
const Pixels kPixelsArgb = { { Over(255, 0, 0, 0x80), kBg, kGreen } };
// RLE8, 6 x 3: a run, a delta past two pixels and up a row, a run, end of line, three literal
// pixels (padded), end of bitmap: everything else is left transparent.
const QByteArray kRle8(
    "\x02\x01\x00\x02\x02\x01\x02\x00\x00\x00\x00\x03\x01\x00\x01\x00\x00\x01", 18);
// RLE4, 5 x 2: a run alternating nibbles 1 and 2, end of line, a delta of one pixel, three
// literal nibbles, end of bitmap before the row's last pixel.
const QByteArray kRle4("\x05\x12\x00\x00\x00\x02\x01\x00\x00\x03\x34\x50\x00\x01", 14);

INSTANTIATE_TEST_SUITE_P(Bmp, BmpDecoding,
    testing::Values(
        DecodeCase { "Bgr24BottomUp",
            { .width = 3, .height = 2, .pixels = PackBmpRows(kRows24, 24) }, kRows24BottomUp },
        DecodeCase { "Bgr24TopDown",
            { .width = 3, .height = -2, .pixels = PackBmpRows(kRows24, 24) },
            { { kRed, kGreen, kBlue }, { 0xFF123456, kWhite, kBlack } } },
        DecodeCase { "CoreHeader24",
            { .headerSize = 12, .width = 3, .height = 2, .pixels = PackBmpRows(kRows24, 24) },
            kRows24BottomUp },
        // 16-bit BI_RGB is 5-5-5: white is #FFFFFF, 5-bit 16 widens to 132.
        DecodeCase { "Rgb555",
            { .width = 3, .bits = 16, .pixels = PackBmpRows({ { 0x7FFF, 0x7C00, 0x0010 } }, 16) },
            { { kWhite, kRed, 0xFF000084 } } },
        DecodeCase { "Bitfields565AfterHeader40",
            { .width = 3,
                .bits = 16,
                .compression = 3,
                .masks = k565,
                .pixels = PackBmpRows(kRows565, 16) },
            kPixels565 },
        DecodeCase { "Bitfields565InHeader52",
            { .headerSize = 52,
                .width = 3,
                .bits = 16,
                .compression = 3,
                .masks = k565,
                .pixels = PackBmpRows(kRows565, 16) },
            kPixels565 },
        DecodeCase { "Bitfields565InHeader56",
            { .headerSize = 56,
                .width = 3,
                .bits = 16,
                .compression = 3,
                .masks = k565,
                .pixels = PackBmpRows(kRows565, 16) },
            kPixels565 },
        DecodeCase { "Bitfields565InHeader108",
            { .headerSize = 108,
                .width = 3,
                .bits = 16,
                .compression = 3,
                .masks = k565,
                .pixels = PackBmpRows(kRows565, 16) },
            kPixels565 },
        DecodeCase { "Bitfields565InHeader124",
            { .headerSize = 124,
                .width = 3,
                .bits = 16,
                .compression = 3,
                .masks = k565,
                .pixels = PackBmpRows(kRows565, 16) },
            kPixels565 },
        // Wider than 8 bits: the top 8 bits count; bits outside every mask are ignored.
        DecodeCase { "Bitfields101010",
            { .width = 3,
                .bits = 32,
                .compression = 3,
                .masks = { 0x3FF00000, 0xFFC00, 0x3FF },
                .pixels = PackBmpRows({ { 0xFFFFFFFF, 0x20000000, 0x000001FF } }, 32) },
            { { kWhite, 0xFF800000, 0xFF00007F } } },
        DecodeCase { "OneBitMasks",
            { .width = 3,
                .bits = 16,
                .compression = 3,
                .masks = { 4, 2, 1 },
                .pixels = PackBmpRows({ { 7, 4, 0xFFF9 } }, 16) },
            { { kWhite, kRed, kBlue } } },
        DecodeCase { "Palette1BitAcrossBytes",
            { .width = 9,
                .bits = 1,
                .palette = kTwoColours,
                .pixels = PackBmpRows({ { 1, 0, 0, 0, 0, 0, 0, 0, 1 } }, 1) },
            { { kBlue, kRed, kRed, kRed, kRed, kRed, kRed, kRed, kBlue } } },
        DecodeCase { "Palette4BitOddWidth",
            { .width = 3,
                .bits = 4,
                .palette = Palette16(),
                .pixels = PackBmpRows({ { 15, 0, 7 } }, 4) },
            { { Palette16()[15], Palette16()[0], Palette16()[7] } } },
        DecodeCase { "CorePalette8ThreeByteEntries",
            { .headerSize = 12,
                .width = 2,
                .bits = 8,
                .palette = Palette16(),
                .pixels = PackBmpRows({ { 3, 12 } }, 8) },
            { { Palette16()[3], Palette16()[12] } } },
        // Indices past a short palette are black.
        DecodeCase { "ShortPaletteByCount",
            { .width = 4,
                .bits = 8,
                .palette = kTwoColours,
                .pixels = PackBmpRows({ { 0, 1, 5, 255 } }, 8) },
            { { kRed, kBlue, kBlack, kBlack } } },
        DecodeCase { "ShortPaletteByPixelOffset",
            { .width = 3,
                .bits = 8,
                .palette = kTwoColours,
                .colourCount = 0,
                .pixels = PackBmpRows({ { 1, 0, 2 } }, 8) },
            { { kBlue, kRed, kBlack } } },
        DecodeCase { "GapBeforeThePixels",
            { .width = 2,
                .bits = 8,
                .palette = kTwoColours,
                .pixelOffset = 200,
                .pixels = PackBmpRows({ { 1, 0 } }, 8) },
            { { kBlue, kRed } } },
        DecodeCase { "Rle8DeltaAndEarlyEnds",
            { .width = 6,
                .height = 3,
                .bits = 8,
                .compression = 1,
                .palette = kTwoColours,
                .pixels = kRle8 },
            { { kBlue, kRed, kBlue, kBg, kBg, kBg }, { kBg, kBg, kBg, kBg, kRed, kRed },
                { kBlue, kBlue, kBg, kBg, kBg, kBg } } },
        DecodeCase { "Rle4DeltaAndEarlyEnd",
            { .width = 5,
                .height = 2,
                .bits = 4,
                .compression = 2,
                .palette = Palette16(),
                .pixels = kRle4 },
            { { kBg, Palette16()[3], Palette16()[4], Palette16()[5], kBg },
                { Palette16()[1], Palette16()[2], Palette16()[1], Palette16()[2],
                    Palette16()[1] } } },
        DecodeCase { "AlphaMaskInHeader56",
            { .headerSize = 56,
                .width = 3,
                .bits = 32,
                .compression = 3,
                .masks = kArgb32,
                .pixels = PackBmpRows(kRowsArgb, 32) },
            kPixelsArgb },
        DecodeCase { "AlphaBitfieldsAfterHeader40",
            { .width = 3,
                .bits = 32,
                .compression = 6,
                .masks = kArgb32,
                .pixels = PackBmpRows(kRowsArgb, 32) },
            kPixelsArgb },
        DecodeCase { "Argb4444",
            { .width = 3,
                .bits = 16,
                .compression = 6,
                .masks = { 0x0F00, 0x00F0, 0x000F, 0xF000 },
                .pixels = PackBmpRows({ { 0xFFFF, 0x8F00, 0x0ABC } }, 16) },
            { { kWhite, Over(255, 0, 0, 0x88), kBg } } },
        // Without a declared alpha mask the fourth byte is padding, even in a version 5 header.
        DecodeCase { "Plain32IsOpaque",
            { .headerSize = 124,
                .width = 3,
                .bits = 32,
                .masks = kArgb32,
                .pixels = PackBmpRows(kRowsArgb, 32) },
            { { kRed, 0xFF123456, kGreen } } },
        // A declared alpha mask is taken as written, all zero or not: all background here.
        DecodeCase { "DeclaredAlphaAllZero",
            { .headerSize = 124,
                .width = 2,
                .bits = 32,
                .compression = 3,
                .masks = kArgb32,
                .pixels = PackBmpRows({ { 0x00FF0000, 0x0000FF00 } }, 32) },
            { { kBg, kBg } } }),
    [](const auto &info) { return std::string(info.param.name); });

// ---- damaged files: the load error, never a picture ----

struct RefusedCase
{
    const char *name;
    std::function<QByteArray()> bytes;
};

void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

class BmpRefused : public BmpFiles, public testing::WithParamInterface<RefusedCase>
{
};

TEST_P(BmpRefused, IsTheLoadError) { EXPECT_TRUE(Load(GetParam().bytes()).isNull()); }

BmpLayout Good24() { return { .width = 3, .height = 2, .pixels = PackBmpRows(kRows24, 24) }; }
BmpLayout Rle8(int width, int height, const QByteArray &stream)
{
    return { .width = width,
        .height = height,
        .bits = 8,
        .compression = 1,
        .palette = kTwoColours,
        .pixels = stream };
}
// One field of a good 24-bit file changed.
std::function<QByteArray()> With(std::function<void(BmpLayout &)> change)
{
    return [change] {
        BmpLayout layout = Good24();
        change(layout);
        return fixtures::EncodeBmp(layout);
    };
}
// A good file with the 4 bytes at offset replaced.
std::function<QByteArray()> Patched(BmpLayout layout, int offset, std::uint32_t value)
{
    return [layout, offset, value] {
        QByteArray bytes = fixtures::EncodeBmp(layout);
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = static_cast<char>(value >> (8 * i));
        return bytes;
    };
}
std::function<QByteArray()> Cut(BmpLayout layout, int bytesLess)
{
    return [layout, bytesLess] { return fixtures::EncodeBmp(layout).chopped(bytesLess); };
}

INSTANTIATE_TEST_SUITE_P(Bmp, BmpRefused,
    testing::Values(RefusedCase { "RleCutShort", Cut(Rle8(6, 3, kRle8), 3) },
        RefusedCase { "RleWithoutItsEnd", Cut(Rle8(6, 3, kRle8), 2) },
        RefusedCase { "RleRunPastTheRow",
            [] { return fixtures::EncodeBmp(Rle8(4, 1, QByteArray("\x05\x01\x00\x01", 4))); } },
        RefusedCase { "RleLiteralPastTheRow",
            [] {
                return fixtures::EncodeBmp(
                    Rle8(4, 1, QByteArray("\x02\x01\x00\x03\x01\x01\x01\x00\x00\x01", 10)));
            } },
        RefusedCase { "RleDeltaPastTheRow",
            [] {
                return fixtures::EncodeBmp(Rle8(4, 2, QByteArray("\x00\x02\x05\x00\x00\x01", 6)));
            } },
        RefusedCase { "RleDeltaPastTheBitmap",
            [] {
                return fixtures::EncodeBmp(Rle8(4, 2, QByteArray("\x00\x02\x00\x02\x00\x01", 6)));
            } },
        RefusedCase { "RleTopDown", [] { return fixtures::EncodeBmp(Rle8(6, -3, kRle8)); } },
        RefusedCase { "Rle8AtFourBits",
            [] {
                BmpLayout l = Rle8(6, 3, kRle8);
                l.bits = 4;
                return fixtures::EncodeBmp(l);
            } },
        RefusedCase { "UncompressedCutByOneByte", Cut(Good24(), 1) },
        RefusedCase { "CutInThePalette",
            Cut({ .bits = 8, .palette = Palette16(), .pixels = QByteArray(4, 0) }, 40) },
        RefusedCase { "CutInTheMasks",
            Cut({ .bits = 16,
                    .compression = 3,
                    .masks = k565,
                    .pixels = PackBmpRows({ { 0xFFFF } }, 16) },
                10) },
        RefusedCase { "CutInTheHeader", [] { return fixtures::EncodeBmp(Good24()).left(30); } },
        RefusedCase { "PixelOffsetPastTheFile", With([](BmpLayout &l) {
                         l.pixelOffset = 4000;
                         l.pixels.clear();
                     }) },
        RefusedCase { "PixelOffsetInsideTheHeader", Patched(Good24(), 10, 20) },
        RefusedCase { "EmbeddedJpeg", With([](BmpLayout &l) {
                         l.compression = 4;
                         l.pixels = fixtures::EncodeJpeg(fixtures::Bands(3, 2, 1, { kRed }),
                             fixtures::JpegVariant::Baseline444);
                     }) },
        RefusedCase { "EmbeddedPng", With([](BmpLayout &l) {
                         l.compression = 5;
                         l.pixels = fixtures::EncodePng(
                             fixtures::Bands(3, 2, 1, { kRed }), fixtures::PngVariant::Rgb8);
                     }) },
        RefusedCase { "UnknownCompression", With([](BmpLayout &l) { l.compression = 7; }) },
        RefusedCase { "HeaderSize16", With([](BmpLayout &l) { l.headerSize = 16; }) },
        RefusedCase { "HeaderSize64", With([](BmpLayout &l) { l.headerSize = 64; }) },
        RefusedCase { "HeaderSize125", With([](BmpLayout &l) { l.headerSize = 125; }) },
        RefusedCase { "HeaderSizeHuge", Patched(Good24(), 14, 0xFFFFFFF0u) },
        RefusedCase { "PaletteCount257", With([](BmpLayout &l) {
                         l.bits = 8;
                         l.palette = kTwoColours;
                         l.colourCount = 257;
                     }) },
        RefusedCase { "PaletteCountHuge", With([](BmpLayout &l) {
                         l.bits = 8;
                         l.palette = kTwoColours;
                         l.colourCount = 0xFFFFFFFF;
                     }) },
        RefusedCase { "WidthZero", With([](BmpLayout &l) { l.width = 0; }) },
        RefusedCase { "WidthNegative", With([](BmpLayout &l) { l.width = -3; }) },
        RefusedCase { "HeightZero", With([](BmpLayout &l) { l.height = 0; }) },
        RefusedCase { "HeightMostNegative", With([](BmpLayout &l) { l.height = INT_MIN; }) },
        RefusedCase { "SizeBeyondTheLimit", With([](BmpLayout &l) {
                         l.width = 20000;
                         l.height = 20000;
                     }) },
        RefusedCase { "BitCount2", With([](BmpLayout &l) { l.bits = 2; }) },
        RefusedCase { "BitCount64", With([](BmpLayout &l) { l.bits = 64; }) },
        RefusedCase { "BitfieldsAt24Bits", With([](BmpLayout &l) {
                         l.compression = 3;
                         l.masks = { 0xFF0000, 0xFF00, 0xFF };
                     }) },
        RefusedCase { "MaskWithAGap", With([](BmpLayout &l) {
                         l.bits = 16;
                         l.compression = 3;
                         l.masks = { 0xF801, 0x07E0, 0x001E };
                     }) },
        RefusedCase { "OverlappingMasks", With([](BmpLayout &l) {
                         l.bits = 16;
                         l.compression = 3;
                         l.masks = { 0xFC00, 0x07E0, 0x001F };
                     }) },
        RefusedCase { "MaskBeyondSixteenBits", With([](BmpLayout &l) {
                         l.bits = 16;
                         l.compression = 3;
                         l.masks = { 0x1F800, 0x07E0, 0x001F };
                     }) }),
    [](const auto &info) { return std::string(info.param.name); });

// ---- icons: the first entry's DIB, its mask, or a PNG ----

struct IconCase
{
    const char *name;
    BmpLayout layout;
    QByteArray mask;
    Pixels expected;
};

void PrintTo(const IconCase &c, std::ostream *os) { *os << c.name; }

class BmpIcon : public BmpFiles, public testing::WithParamInterface<IconCase>
{
};

TEST_P(BmpIcon, MaskedPixelsAreTheBackground)
{
    ExpectPixels(Load(fixtures::EncodeIcoDib(GetParam().layout, GetParam().mask), "icon.ico"),
        GetParam().expected);
}

// 3 x 2 mask rows, bottom first: the bottom row's middle pixel and the top row's first are masked.
const QByteArray kMask("\x40\0\0\0\x80\0\0\0", 8);

INSTANTIATE_TEST_SUITE_P(Bmp, BmpIcon,
    testing::Values(
        IconCase { "Bgr24", Good24(), kMask, { { kBg, kWhite, kBlack }, { kRed, kBg, kBlue } } },
        IconCase { "Palette4",
            { .width = 3,
                .height = 2,
                .bits = 4,
                .palette = Palette16(),
                .pixels = PackBmpRows({ { 1, 2, 3 }, { 4, 5, 6 } }, 4) },
            kMask,
            { { kBg, Palette16()[5], Palette16()[6] }, { Palette16()[1], kBg, Palette16()[3] } } },
        // 32-bit entries carry their own alpha; their mask does not count.
        IconCase { "Argb32", { .width = 3, .bits = 32, .pixels = PackBmpRows(kRowsArgb, 32) },
            QByteArray(4, '\xFF'), kPixelsArgb }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(BmpFiles, IconWithAPngEntryAndDamagedIcons)
{
    // A PNG entry goes through the PNG decoder from the entry's offset.
    QByteArray png = fixtures::EncodePng(
        fixtures::Bands(4, 2, 2, { kRed, kGreen }), fixtures::PngVariant::Rgb8);
    QByteArray ico = fixtures::EncodeIcoDib(Good24(), kMask);
    const QByteArray directory = ico.left(22);
    ExpectPixels(Load(directory + png, "png.ico"),
        { { kRed, kRed, kGreen, kGreen }, { kRed, kRed, kGreen, kGreen } });
    EXPECT_TRUE(Load(ico.chopped(1), "cut-mask.ico").isNull());
    ico[6 + 12] = 100; // the entry's offset past the file
    EXPECT_TRUE(Load(ico, "bad-offset.ico").isNull());
}

} // namespace
