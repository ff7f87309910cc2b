// The BMP and icon decoder, through the loader, on files built byte for byte.
#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <lcms2.h>

#include <climits>
#include <cmath>
#include <functional>
#include <string>
#include <type_traits>

namespace {

using fixtures::BmpLayout;
using fixtures::PackBmpRows;
using Rows = std::vector<std::vector<std::uint32_t>>;
using Pixels = std::vector<std::vector<QRgb>>; // expected, top row first

constexpr analysis::ColourValue kSlate = 0x996633; // 0x00BBGGRR of kBg
constexpr QRgb kBg = 0xFF336699;
constexpr QRgb kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;
constexpr QRgb kWhite = 0xFFFFFFFF, kBlack = 0xFF000000;
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

// A file of the given header size, depth and compression holding rows (bottom row first unless
// top-down) packed at that depth.
BmpLayout Dib(std::uint32_t header, int bits, std::uint32_t compression, const Rows &rows,
    const std::vector<std::uint32_t> &masks = {}, const std::vector<QRgb> &palette = {})
{
    return { header, static_cast<std::int32_t>(rows[0].size()),
        static_cast<std::int32_t>(rows.size()), bits, compression, masks, palette, -1, -1,
        PackBmpRows(rows, bits) };
}

template <class T>
BmpLayout With(BmpLayout layout, T BmpLayout::*field, std::type_identity_t<T> value)
{
    layout.*field = value;
    return layout;
}

BmpLayout Rle(int bits, int width, int height, const QByteArray &stream)
{
    return { 40, width, height, bits, bits == 8 ? 1u : 2u, {},
        bits == 8 ? kTwoColours : Palette16(), -1, -1, stream };
}

struct DecodeCase
{
    std::string name;
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

const Rows kRows24 = { { 0xFF0000, 0x00FF00, 0x0000FF }, { 0x123456, 0xFFFFFF, 0x000000 } };
const Pixels kRows24BottomUp = { { 0xFF123456, kWhite, kBlack }, { kRed, kGreen, kBlue } };
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

std::vector<DecodeCase> DecodeCases()
{
    const std::vector<QRgb> p = Palette16();
    std::vector<DecodeCase> cases = {
        { "Bgr24BottomUp", Dib(40, 24, 0, kRows24), kRows24BottomUp },
        { "Bgr24TopDown", With(Dib(40, 24, 0, kRows24), &BmpLayout::height, -2),
            { { kRed, kGreen, kBlue }, { 0xFF123456, kWhite, kBlack } } },
        { "CoreHeader24", Dib(12, 24, 0, kRows24), kRows24BottomUp },
        // 16-bit BI_RGB is 5-5-5: white is #FFFFFF, 5-bit 16 widens to 132.
        { "Rgb555", Dib(40, 16, 0, { { 0x7FFF, 0x7C00, 0x0010 } }),
            { { kWhite, kRed, 0xFF000084 } } },
        // Wider than 8 bits: the top 8 bits count; bits outside every mask are ignored.
        { "Bitfields101010",
            Dib(40, 32, 3, { { 0xFFFFFFFF, 0x20000000, 0x1FF } }, { 0x3FF00000, 0xFFC00, 0x3FF }),
            { { kWhite, 0xFF800000, 0xFF00007F } } },
        { "OneBitMasks", Dib(40, 16, 3, { { 7, 4, 0xFFF9 } }, { 4, 2, 1 }),
            { { kWhite, kRed, kBlue } } },
        { "Palette1BitAcrossBytes",
            Dib(40, 1, 0, { { 1, 0, 0, 0, 0, 0, 0, 0, 1 } }, {}, kTwoColours),
            { { kBlue, kRed, kRed, kRed, kRed, kRed, kRed, kRed, kBlue } } },
        { "Palette4BitOddWidth", Dib(40, 4, 0, { { 15, 0, 7 } }, {}, p),
            { { p[15], p[0], p[7] } } },
        { "CorePalette8ThreeByteEntries", Dib(12, 8, 0, { { 3, 12 } }, {}, p),
            { { p[3], p[12] } } },
        // Indices past a short palette show its first entry.
        { "ShortPaletteByCount", Dib(40, 8, 0, { { 0, 1, 5, 255 } }, {}, kTwoColours),
            { { kRed, kBlue, kRed, kRed } } },
        { "ShortPaletteByPixelOffset",
            With(Dib(40, 8, 0, { { 1, 0, 2 } }, {}, kTwoColours), &BmpLayout::colourCount,
                std::int64_t { 0 }),
            { { kBlue, kRed, kRed } } },
        { "Palette2Bit", Dib(40, 2, 0, { { 0, 1, 2, 3, 2 } }, {}, { p[0], p[1], p[2], p[3] }),
            { { p[0], p[1], p[2], p[3], p[2] } } },
        // Pixels said to start inside the headers or the palette are read after the palette.
        { "PixelOffsetInsideTheHeader",
            With(Dib(40, 24, 0, kRows24), &BmpLayout::pixelOffset, std::int64_t { 20 }),
            kRows24BottomUp },
        { "PixelOffsetInsideThePalette",
            With(Dib(40, 8, 0, { { 1, 0, 1 } }, {}, kTwoColours), &BmpLayout::pixelOffset,
                std::int64_t { 54 }),
            { { kBlue, kRed, kBlue } } },
        // RLE runs, literals and moves past the row or the last row are clipped.
        { "RleRunPastTheRow", Rle(8, 4, 1, QByteArray("\x05\x01\x00\x01", 4)),
            { { kBlue, kBlue, kBlue, kBlue } } },
        { "RleLiteralPastTheRow",
            Rle(8, 4, 1, QByteArray("\x02\x01\x00\x03\x00\x00\x00\x00\x00\x01", 10)),
            { { kBlue, kBlue, kRed, kRed } } },
        { "RleDeltaPastTheRow",
            Rle(8, 4, 2, QByteArray("\x00\x02\x05\x00\x01\x01\x00\x00\x02\x00\x00\x01", 12)),
            { { kRed, kRed, kBg, kBg }, { kBg, kBg, kBg, kBg } } },
        { "RleDeltaPastTheBitmap", Rle(8, 4, 2, QByteArray("\x01\x01\x00\x02\x00\x02\x00\x01", 8)),
            { { kBg, kBg, kBg, kBg }, { kBlue, kBg, kBg, kBg } } },
        { "Rle8TopDown", Rle(8, 6, -3, kRle8),
            { { kBlue, kBlue, kBg, kBg, kBg, kBg }, { kBg, kBg, kBg, kBg, kRed, kRed },
                { kBlue, kRed, kBlue, kBg, kBg, kBg } } },
        { "GapBeforeThePixels",
            With(Dib(40, 8, 0, { { 1, 0 } }, {}, kTwoColours), &BmpLayout::pixelOffset,
                std::int64_t { 200 }),
            { { kBlue, kRed } } },
        { "Rle8DeltaAndEarlyEnds", Rle(8, 6, 3, kRle8),
            { { kBlue, kRed, kBlue, kBg, kBg, kBg }, { kBg, kBg, kBg, kBg, kRed, kRed },
                { kBlue, kBlue, kBg, kBg, kBg, kBg } } },
        { "Rle4DeltaAndEarlyEnd", Rle(4, 5, 2, kRle4),
            { { kBg, p[3], p[4], p[5], kBg }, { p[1], p[2], p[1], p[2], p[1] } } },
        { "AlphaBitfieldsAfterHeader40", Dib(40, 32, 6, kRowsArgb, kArgb32), kPixelsArgb },
        { "AlphaMaskInHeader56", Dib(56, 32, 3, kRowsArgb, kArgb32), kPixelsArgb },
        { "Argb4444",
            Dib(40, 16, 6, { { 0xFFFF, 0x8F00, 0x0ABC } }, { 0x0F00, 0x00F0, 0x000F, 0xF000 }),
            { { kWhite, Over(255, 0, 0, 0x88), kBg } } },
        // Without a declared alpha mask the fourth byte is padding, even in a version 5 header.
        { "Plain32IsOpaque", Dib(124, 32, 0, kRowsArgb, kArgb32),
            { { kRed, 0xFF123456, kGreen } } },
        // A declared alpha mask is taken as written, all zero or not: all background here.
        { "DeclaredAlphaAllZero", Dib(124, 32, 3, { { 0x00FF0000, 0x0000FF00 } }, kArgb32),
            { { kBg, kBg } } },
    };
    // 5-6-5 white, mid green (6-bit 32 widens to 130) and the lowest blue (5-bit 1 widens to 8),
    // with the masks after a 40-byte header or inside the longer ones.
    for (const std::uint32_t header : { 40u, 52u, 56u, 108u, 124u })
        cases.push_back({ "Bitfields565Header" + std::to_string(header),
            Dib(header, 16, 3, { { 0xFFFF, 0x0400, 0x0001 } }, { 0xF800, 0x07E0, 0x001F }),
            { { kWhite, 0xFF008200, 0xFF000008 } } });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Bmp, BmpDecoding, testing::ValuesIn(DecodeCases()),
    [](const auto &info) { return info.param.name; });

// ---- damaged files: the load error, never a picture ----

struct RefusedCase
{
    const char *name;
    BmpLayout layout;
    int cut = 0; // bytes taken off the end
    int patchAt = -1; // a 32-bit field overwritten after encoding
    std::uint32_t patch = 0;
};

void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

class BmpRefused : public BmpFiles, public testing::WithParamInterface<RefusedCase>
{
};

TEST_P(BmpRefused, IsTheLoadError)
{
    QByteArray bytes = fixtures::EncodeBmp(GetParam().layout).chopped(GetParam().cut);
    for (int i = 0; GetParam().patchAt >= 0 && i < 4; ++i)
        bytes[GetParam().patchAt + i] = static_cast<char>(GetParam().patch >> (8 * i));
    EXPECT_TRUE(Load(bytes).isNull());
}

const BmpLayout kGood24 = Dib(40, 24, 0, kRows24);
const BmpLayout kGood565 = Dib(40, 16, 3, { { 0xFFFF } }, { 0xF800, 0x07E0, 0x001F });
const BmpLayout kGood8 = Dib(40, 8, 0, { { 1, 0 } }, {}, Palette16());

INSTANTIATE_TEST_SUITE_P(Bmp, BmpRefused,
    testing::Values(RefusedCase { "RleCutShort", Rle(8, 6, 3, kRle8), 3 },
        RefusedCase { "RleWithoutItsEnd", Rle(8, 6, 3, kRle8), 2 },
        // A clipped run does not excuse a stream cut after it.
        RefusedCase {
            "RleRunPastTheRowThenCut", Rle(8, 4, 2, QByteArray("\x05\x01\x00\x01", 4)), 2 },
        RefusedCase { "Rle4CutShort", Rle(4, 5, 2, kRle4), 4 },
        RefusedCase { "RleTopDownCutShort", Rle(8, 6, -3, kRle8), 3 },
        RefusedCase { "Rle8AtFourBits", With(Rle(8, 6, 3, kRle8), &BmpLayout::bits, 4) },
        RefusedCase { "UncompressedCutByOneByte", kGood24, 1 },
        RefusedCase { "CutInThePalette", kGood8, 40 },
        RefusedCase { "CutInTheMasks", kGood565, 10 },
        RefusedCase { "CutInTheHeader", kGood24, 30 },
        RefusedCase { "PixelOffsetPastTheFile", With(kGood24, &BmpLayout::pixels, QByteArray()), 0,
            10, 4000 },
        RefusedCase { "EmbeddedJpeg",
            With(With(kGood24, &BmpLayout::compression, 4u), &BmpLayout::pixels,
                fixtures::EncodeJpeg(
                    fixtures::Bands(3, 2, 1, { kRed }), fixtures::JpegVariant::Baseline444)) },
        RefusedCase { "EmbeddedPng",
            With(With(kGood24, &BmpLayout::compression, 5u), &BmpLayout::pixels,
                fixtures::EncodePng(
                    fixtures::Bands(3, 2, 1, { kRed }), fixtures::PngVariant::Rgb8)) },
        RefusedCase { "UnknownCompression", With(kGood24, &BmpLayout::compression, 7u) },
        RefusedCase { "HeaderSize16", With(kGood24, &BmpLayout::headerSize, 16u) },
        RefusedCase { "HeaderSize64", With(kGood24, &BmpLayout::headerSize, 64u) },
        // OS/2 2.x run-length 24-bit: ImageMagick, gdk-pixbuf and Pillow all refuse it too.
        RefusedCase { "Os2Rle24",
            With(With(With(kGood24, &BmpLayout::headerSize, 64u), &BmpLayout::compression, 4u),
                &BmpLayout::pixels, QByteArray("\x01\x10\x20\x30\x00\x01", 6)) },
        RefusedCase { "HeaderSize125", With(kGood24, &BmpLayout::headerSize, 125u) },
        RefusedCase { "HeaderSizeHuge", kGood24, 0, 14, 0xFFFFFFF0u },
        RefusedCase {
            "PaletteCount257", With(kGood8, &BmpLayout::colourCount, std::int64_t { 257 }) },
        RefusedCase { "PaletteCountHuge",
            With(kGood8, &BmpLayout::colourCount, std::int64_t { 0xFFFFFFFF }) },
        RefusedCase { "WidthZero", With(kGood24, &BmpLayout::width, 0) },
        RefusedCase { "WidthNegative", With(kGood24, &BmpLayout::width, -3) },
        RefusedCase { "HeightZero", With(kGood24, &BmpLayout::height, 0) },
        RefusedCase { "HeightMostNegative", With(kGood24, &BmpLayout::height, INT_MIN) },
        RefusedCase { "SizeBeyondTheLimit",
            With(With(kGood24, &BmpLayout::width, 20000), &BmpLayout::height, 20000) },
        RefusedCase { "BitCount3", With(kGood24, &BmpLayout::bits, 3) },
        RefusedCase { "BitCount64", With(kGood24, &BmpLayout::bits, 64) },
        RefusedCase { "BitfieldsAt24Bits", With(kGood565, &BmpLayout::bits, 24) },
        RefusedCase {
            "MaskWithAGap", With(kGood565, &BmpLayout::masks, { 0xF801, 0x07E0, 0x001E }) },
        RefusedCase {
            "OverlappingMasks", With(kGood565, &BmpLayout::masks, { 0xFC00, 0x07E0, 0x001F }) },
        RefusedCase { "MaskBeyondSixteenBits",
            With(kGood565, &BmpLayout::masks, { 0x1F800, 0x07E0, 0x001F }) }),
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
const std::vector<QRgb> kP = Palette16();

INSTANTIATE_TEST_SUITE_P(Bmp, BmpIcon,
    testing::Values(
        IconCase { "Bgr24", kGood24, kMask, { { kBg, kWhite, kBlack }, { kRed, kBg, kBlue } } },
        IconCase { "Palette4", Dib(40, 4, 0, { { 1, 2, 3 }, { 4, 5, 6 } }, {}, kP), kMask,
            { { kBg, kP[5], kP[6] }, { kP[1], kBg, kP[3] } } },
        // 32-bit entries carry their own alpha; their mask does not count.
        IconCase { "Argb32", Dib(40, 32, 0, kRowsArgb), QByteArray(4, '\xFF'), kPixelsArgb }),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(BmpFiles, IconWithAPngEntryAndDamagedIcons)
{
    // A PNG entry goes through the PNG decoder from the entry's offset.
    const QByteArray png = fixtures::EncodePng(
        fixtures::Bands(4, 2, 2, { kRed, kGreen }), fixtures::PngVariant::Rgb8);
    QByteArray ico = fixtures::EncodeIcoDib(kGood24, kMask);
    ExpectPixels(Load(ico.left(22) + png, "png.ico"),
        { { kRed, kRed, kGreen, kGreen }, { kRed, kRed, kGreen, kGreen } });
    EXPECT_TRUE(Load(ico.chopped(1), "cut-mask.ico").isNull());
    ico[6 + 12] = 100; // the entry's offset past the file
    EXPECT_TRUE(Load(ico, "bad-offset.ico").isNull());
}

// lcms2's sRGB profile, as a writer embeds it.
QByteArray SrgbProfile()
{
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    QByteArray bytes(static_cast<qsizetype>(length), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &length);
    cmsCloseProfile(profile);
    return bytes;
}

void PutLe32(QByteArray &bytes, int at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// The Bgr24 icon with a version 5 header and an embedded profile, which writers put after the
// pixels (before the mask) or right after the header.
QByteArray IconWithProfile(bool beforeThePixels)
{
    constexpr int kDibAt = 22;
    constexpr std::uint32_t kEmbedded = 0x4D424544; // 'MBED'
    const BmpLayout layout = With(kGood24, &BmpLayout::headerSize, 124u);
    QByteArray ico = fixtures::EncodeIcoDib(layout, kMask);
    const QByteArray profile = SrgbProfile();
    const int pixelsAt = kDibAt + 124;
    const int profileAt = beforeThePixels ? pixelsAt : pixelsAt + layout.pixels.size();
    ico.insert(profileAt, profile);
    PutLe32(ico, kDibAt + 56, kEmbedded);
    PutLe32(ico, kDibAt + 112, static_cast<std::uint32_t>(profileAt - kDibAt));
    PutLe32(ico, kDibAt + 116, static_cast<std::uint32_t>(profile.size()));
    return ico;
}

TEST_F(BmpFiles, IconProfileIsNeitherPixelsNorMask)
{
    const Pixels expected = { { kBg, kWhite, kBlack }, { kRed, kBg, kBlue } };
    for (const bool before : { false, true }) {
        SCOPED_TRACE(before ? "profile before the pixels" : "profile between pixels and mask");
        ExpectPixels(Load(IconWithProfile(before), "profile.ico"), expected);
    }
}

// A DIB without its file header (the clipboard's form, saved as .dib) reads as the BMP does,
// its pixels right after its palette or masks.
TEST_F(BmpFiles, HeaderlessDibReadsAsItsBmp)
{
    const struct
    {
        const char *name;
        BmpLayout layout;
    } layouts[] = {
        { "Bgr24", kGood24 },
        { "Bitfields565MasksAfterHeader40", kGood565 },
        { "Palette8", kGood8 },
        { "Bgr24Header124", With(kGood24, &BmpLayout::headerSize, 124u) },
    };
    for (const auto &c : layouts) {
        SCOPED_TRACE(c.name);
        const QByteArray bmp = fixtures::EncodeBmp(c.layout);
        const QImage fromBmp = Load(bmp);
        ASSERT_FALSE(fromBmp.isNull());
        const QImage fromDib = Load(bmp.mid(14), "clipboard.dib");
        ASSERT_FALSE(fromDib.isNull()) << "the load error";
        EXPECT_EQ(fromDib, fromBmp);
    }
}

} // namespace
