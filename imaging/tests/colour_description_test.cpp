// The colour descriptions the decoders read with the header, from files tagged in every format,
// and pictures whose description is damaged still drawing as they do without one.
#include "imaging/colour_description.h"
#include "imaging/open_image.h"

#include "imaging/tests/fixtures.h"
#include "imaging/tests/format_tools.h"
#include "imaging/tests/tagged_fixtures.h"

#include <QByteArray>
#include <QImage>

#include <gtest/gtest.h>


#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using imaging::Cicp;
using imaging::ColourDescription;
using Kind = ColourDescription::Kind;

constexpr QRgb kColour = qRgb(0xC8, 0x3C, 0x28);

QImage Picture()
{
    QImage picture(16, 16, QImage::Format_ARGB32);
    picture.fill(kColour);
    return picture;
}

using fixtures::Be32;
using fixtures::IccpChunk;
using fixtures::PngChunk;

const QByteArray &DisplayP3() { return fixtures::DisplayP3Profile(); }
const QByteArray &AdobeRgb() { return fixtures::AdobeRgbProfile(); }

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (const int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

QByteArray CicpChunk(int primaries, int transfer, int matrix = 0, int fullRange = 1)
{
    return PngChunk("cICP", Bytes({ primaries, transfer, matrix, fullRange }));
}

const QByteArray kSrgbChunk = PngChunk("sRGB", QByteArray(1, '\0'));
// 1/2.2 and the sRGB primaries with D65, as libpng writes them.
const QByteArray kGamaChunk = PngChunk("gAMA", Be32(45455));
const QByteArray kChrmChunk = PngChunk("cHRM",
    Be32(31270) + Be32(32900) + Be32(64000) + Be32(33000) + Be32(30000) + Be32(60000) + Be32(15000)
        + Be32(6000));
const std::array<double, 8> kSrgbChromaticities { 0.3127, 0.329, 0.64, 0.33, 0.3, 0.6, 0.15, 0.06 };

// The plain RGB PNG of the picture with chunks inserted after IHDR (signature 8 bytes, IHDR 25).
QByteArray PngWith(const QByteArrayList &chunks)
{
    return fixtures::PngWithChunks(
        fixtures::EncodePng(Picture(), fixtures::PngVariant::Rgb8), chunks.join());
}

// The baseline JPEG with the profile split in `count` APP2 segments, written in `order` (the
// segments' numbers from 1; a number past count stands for nothing, 0 writes a segment numbered
// 0). declaredCount replaces the count in the segment at index 0 of order when not -1.
QByteArray JpegWith(
    const QByteArray &profile, int count, const std::vector<int> &order, int declaredCount = -1)
{
    QByteArray jpeg = fixtures::EncodeJpeg(Picture(), fixtures::JpegVariant::Baseline444);
    const qsizetype part = (profile.size() + count - 1) / count;
    QByteArray segments;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const int number = order[i];
        const QByteArray piece
            = number >= 1 ? profile.mid((number - 1) * part, part) : QByteArray("x");
        const int total = i == 0 && declaredCount >= 0 ? declaredCount : count;
        QByteArray data = QByteArray("ICC_PROFILE", 12) + static_cast<char>(number)
            + static_cast<char>(total) + piece;
        const auto length = static_cast<std::uint16_t>(data.size() + 2);
        segments += Bytes({ 0xFF, 0xE2, length >> 8, length & 0xFF }) + data;
    }
    jpeg.insert(2, segments); // after the start of image
    return jpeg;
}

QByteArray Le32(std::uint32_t v)
{
    return Bytes({ static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
        static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 24) & 0xFF) });
}

// An icon whose one entry is the PNG.
QByteArray IcoWith(const QByteArray &png)
{
    QByteArray ico("\0\0\1\0\1\0", 6);
    ico += QByteArray("\x10\x10\0\0\1\0\x20\0", 8);
    ico += Le32(static_cast<std::uint32_t>(png.size())) + Le32(22);
    return ico + png;
}

// A 24-bit BMP with a V4 (108) or V5 (124) header naming the colour space, and the profile after
// the pixels where one is given; profileLength replaces its length when not 0.
QByteArray BmpWith(std::uint32_t headerSize, std::uint32_t space, const QByteArray &profile = {},
    std::uint32_t profileLength = 0)
{
    fixtures::BmpLayout layout;
    layout.headerSize = headerSize;
    layout.width = 16;
    layout.height = 16;
    layout.pixels = fixtures::PackBmpRows(
        std::vector<std::vector<std::uint32_t>>(16, std::vector<std::uint32_t>(16, 0xC83C28)), 24);
    QByteArray bmp = fixtures::EncodeBmp(layout);
    bmp.replace(14 + 56, 4, Le32(space));
    if (!profile.isEmpty()) {
        bmp.replace(14 + 112, 4, Le32(static_cast<std::uint32_t>(bmp.size() - 14)));
        bmp.replace(14 + 116, 4,
            Le32(profileLength != 0 ? profileLength : static_cast<std::uint32_t>(profile.size())));
        bmp += profile;
        bmp.replace(2, 4, Le32(static_cast<std::uint32_t>(bmp.size())));
    }
    return bmp;
}

constexpr std::uint32_t kBmpSrgb = 0x73524742, kBmpWindows = 0x57696E20, kBmpEmbedded = 0x4D424544;

QByteArray Encoded(const char *program, const QStringList &arguments, const char *suffix,
    const QByteArray &input, const QByteArray &extra = QByteArray())
{
    return fixtures::EncodeFilesWithProgram({ input }, program, arguments, suffix, extra);
}

// The HEIF file with its ICC colr box turned into an nclx one of the same size (the rest of the
// box left as padding, which libheif skips).
QByteArray NclxForProfile(QByteArray heif, const Cicp &cicp)
{
    const qsizetype at = heif.indexOf("colrprof");
    if (at < 0) {
        ADD_FAILURE() << "heif-enc wrote no profile";
        return {};
    }
    heif.replace(at + 4, 11,
        QByteArray("nclx")
            + Bytes({ 0, cicp.primaries, 0, cicp.transfer, 0, cicp.matrix,
                cicp.fullRange ? 0x80 : 0 }));
    return heif;
}

struct Expected
{
    Kind kind = Kind::Unspecified;
    // The embedded profile's bytes where they must come back as they are; empty otherwise.
    QByteArray icc {};
    Cicp cicp {};
    double gamma = 0;
    std::array<double, 8> chromaticities {};
    bool damaged = false;
};

struct DescriptionCase
{
    const char *name;
    const char *program; // the encoder needed, or null
    std::function<QByteArray()> file;
    Expected expected;
    // The same picture without its description, whose pixels the tagged file must match
    // exactly; null for encoders, whose files are compared with the colour alone.
    std::function<QByteArray()> untagged {};
    // The colour an encoder's file draws in.
    QRgb drawn = kColour;
};

const Cicp kP3 { 12, 13, 0, true };

// Expected values: the numbers written into the files here, avifenc's and heif-enc's options as
// given, PNG's order of precedence (cICP, iCCP, sRGB, gAMA) from the PNG third edition.
std::vector<DescriptionCase> Cases()
{
    const auto png = [] { return PngWith({}); };
    const auto jpeg
        = [] { return fixtures::EncodeJpeg(Picture(), fixtures::JpegVariant::Baseline444); };
    const auto p3Png = [] { return PngWith({ IccpChunk(DisplayP3()) }); };
    const auto adobePng = [] { return PngWith({ IccpChunk(AdobeRgb()) }); };
    const Expected none;
    const Expected damaged { .damaged = true };
    const Expected p3Icc { Kind::Icc, DisplayP3() };
    const Expected adobeIcc { Kind::Icc, AdobeRgb() };
    QByteArray wrongLength = DisplayP3();
    wrongLength[3] = static_cast<char>(wrongLength[3] + 1);
    QByteArray badCrc = IccpChunk(DisplayP3());
    badCrc[badCrc.size() - 1] = static_cast<char>(badCrc[badCrc.size() - 1] ^ 1);
    return {
        { "JpegThreeSegments", nullptr,
            [] {
                return JpegWith(DisplayP3(), 3, { 1, 2, 3 });
            },
            p3Icc, jpeg },
        { "JpegSegmentsOutOfOrder", nullptr,
            [] {
                return JpegWith(DisplayP3(), 3, { 3, 1, 2 });
            },
            p3Icc, jpeg },
        { "JpegOneSegment", nullptr, [] { return JpegWith(AdobeRgb(), 1, { 1 }); }, adobeIcc,
            jpeg },
        { "JpegSegmentMissing", nullptr,
            [] {
                return JpegWith(DisplayP3(), 3, { 1, 3 });
            },
            damaged, jpeg },
        { "JpegSegmentRepeated", nullptr,
            [] {
                return JpegWith(DisplayP3(), 2, { 1, 1, 2 });
            },
            damaged, jpeg },
        { "JpegCountsDisagree", nullptr,
            [] {
                return JpegWith(DisplayP3(), 2, { 1, 2 }, 3);
            },
            damaged, jpeg },
        { "JpegSegmentNumberZero", nullptr, [] { return JpegWith(DisplayP3(), 1, { 0 }); }, damaged,
            jpeg },
        { "JpegUntagged", nullptr, jpeg, none, jpeg },

        { "PngIccp", nullptr, p3Png, p3Icc, png },
        { "PngSrgb", nullptr, [] { return PngWith({ kSrgbChunk }); }, { Kind::Srgb }, png },
        { "PngGammaAndChromaticities", nullptr,
            [] {
                return PngWith({ kGamaChunk, kChrmChunk });
            },
            { Kind::GammaChromaticities, {}, {}, 0.45455, kSrgbChromaticities }, png },
        { "PngGammaAlone", nullptr, [] { return PngWith({ kGamaChunk }); },
            { Kind::GammaChromaticities, {}, {}, 0.45455 }, png },
        { "PngChromaticitiesAlone", nullptr, [] { return PngWith({ kChrmChunk }); }, none, png },
        { "PngCicp", nullptr, [] { return PngWith({ CicpChunk(12, 13) }); },
            { Kind::Cicp, {}, kP3 }, png },
        { "PngCicpNarrowRangePq", nullptr, [] { return PngWith({ CicpChunk(9, 16, 0, 0) }); },
            { Kind::Cicp, {}, { 9, 16, 0, false } }, png },
        { "PngCicpOverIccp", nullptr,
            [] {
                return PngWith({ IccpChunk(AdobeRgb()), CicpChunk(12, 13) });
            },
            { Kind::Cicp, {}, kP3 }, png },
        { "PngIccpOverSrgb", nullptr,
            [] {
                return PngWith({ kSrgbChunk, IccpChunk(DisplayP3()) });
            },
            p3Icc, png },
        { "PngSrgbOverGamma", nullptr,
            [] {
                return PngWith({ kGamaChunk, kChrmChunk, kSrgbChunk });
            },
            { Kind::Srgb }, png },
        { "PngUntagged", nullptr, png, none, png },
        { "PngIccpBadZlib", nullptr,
            [] { return PngWith({ PngChunk("iCCP", QByteArray("P3\0\0\x78\x9C garbage", 14)) }); },
            damaged, png },
        { "PngIccpWrongLength", nullptr,
            [wrongLength] { return PngWith({ IccpChunk(wrongLength) }); }, damaged, png },
        { "PngIccpBadCrc", nullptr, [badCrc] { return PngWith({ badCrc }); }, damaged, png },
        // A damaged chunk that decides leaves the picture as sRGB; one that would not decide is
        // of no account.
        { "PngDamagedIccpOverSrgb", nullptr,
            [] {
                return PngWith({ kSrgbChunk, PngChunk("iCCP", "P3") });
            },
            damaged, png },
        { "PngDamagedSrgbUnderCicp", nullptr,
            [] {
                return PngWith({ PngChunk("sRGB", "xy"), CicpChunk(12, 13) });
            },
            { Kind::Cicp, {}, kP3 }, png },
        { "PngCicpWithMatrix", nullptr, [] { return PngWith({ CicpChunk(12, 13, 1) }); }, damaged,
            png },
        { "PngGammaZero", nullptr, [] { return PngWith({ PngChunk("gAMA", Be32(0)) }); }, damaged,
            png },
        { "IcoPngIccp", nullptr, [] { return IcoWith(PngWith({ IccpChunk(DisplayP3()) })); }, p3Icc,
            [] { return IcoWith(PngWith({})); } },

        { "BmpV5Srgb", nullptr, [] { return BmpWith(124, kBmpSrgb); }, { Kind::Srgb },
            [] { return BmpWith(124, 0); } },
        { "BmpV4WindowsSpace", nullptr, [] { return BmpWith(108, kBmpWindows); }, { Kind::Srgb },
            [] { return BmpWith(108, 0); } },
        { "BmpV5EmbeddedProfile", nullptr, [] { return BmpWith(124, kBmpEmbedded, AdobeRgb()); },
            adobeIcc, [] { return BmpWith(124, 0); } },
        { "BmpV5ProfilePastTheEnd", nullptr,
            [] {
                return BmpWith(124, kBmpEmbedded, AdobeRgb(),
                    static_cast<std::uint32_t>(AdobeRgb().size() + 1));
            },
            damaged, [] { return BmpWith(124, 0); } },
        // Calibrated RGB's endpoints are left unread.
        { "BmpV5CalibratedRgb", nullptr, [] { return BmpWith(124, 0); }, none },

        { "TiffProfileTag", nullptr,
            [] { return fixtures::EncodeTiff(Picture(), fixtures::TiffVariant::Rgb8, AdobeRgb()); },
            adobeIcc, [] { return fixtures::EncodeTiff(Picture(), fixtures::TiffVariant::Rgb8); } },
        { "TiffUntagged", nullptr,
            [] { return fixtures::EncodeTiff(Picture(), fixtures::TiffVariant::Rgb8); }, none },

        { "WebpIccp", "cwebp",
            [p3Png] {
                return Encoded("cwebp",
                    { "-quiet", "-lossless", "-metadata", "icc", "{in}", "-o", "{out}" }, ".webp",
                    p3Png());
            },
            p3Icc },
        { "WebpUntagged", "cwebp",
            [png] {
                return Encoded(
                    "cwebp", { "-quiet", "-lossless", "{in}", "-o", "{out}" }, ".webp", png());
            },
            none },

        { "AvifIcc", "avifenc",
            [png] {
                return Encoded("avifenc", { "-l", "--icc", "{extra}", "{in}", "{out}" }, ".avif",
                    png(), DisplayP3());
            },
            p3Icc },
        { "AvifCicp", "avifenc",
            [png] {
                return Encoded("avifenc", { "--cicp", "12/13/1", "{in}", "{out}" }, ".avif", png());
            },
            { Kind::Cicp, {}, { 12, 13, 1, true } } },

        { "HeifIcc", "heif-enc",
            [p3Png] {
                return Encoded("heif-enc", { "-L", "{in}", "-o", "{out}" }, ".heic", p3Png());
            },
            p3Icc },
        // heif-enc 1.15 writes no nclx box: the profile's colr box is made one in place.
        { "HeifNclx", "heif-enc",
            [p3Png] {
                return NclxForProfile(
                    Encoded("heif-enc", { "-L", "{in}", "-o", "{out}" }, ".heic", p3Png()),
                    { 12, 13, 6, true });
            },
            { Kind::Cicp, {}, { 12, 13, 6, true } } },
        { "HeifNclxNarrowRange", "heif-enc",
            [p3Png] {
                return NclxForProfile(
                    Encoded("heif-enc", { "-L", "{in}", "-o", "{out}" }, ".heic", p3Png()),
                    { 9, 18, 9, false });
            },
            { Kind::Cicp, {}, { 9, 18, 9, false } } },

        // cjxl keeps a profile as it is (even lcms2's Display P3, which it does not take for its
        // P3 encoding).
        { "JxlDisplayP3Lossless", "cjxl",
            [p3Png] {
                return Encoded("cjxl", { "{in}", "{out}", "-d", "0", "--quiet" }, ".jxl", p3Png());
            },
            p3Icc },
        { "JxlAdobeRgbAsProfile", "cjxl",
            [adobePng] {
                return Encoded(
                    "cjxl", { "{in}", "{out}", "-d", "0", "--quiet" }, ".jxl", adobePng());
            },
            adobeIcc },
        // An XYB file hands out its pixels in the exact encoding its profile matches, else in
        // linear sRGB.
        { "JxlDisplayP3Lossy", "cjxl",
            [p3Png] {
                return Encoded("cjxl", { "{in}", "{out}", "-d", "1", "--quiet" }, ".jxl", p3Png());
            },
            { Kind::Cicp, {}, kP3 } },
        { "JxlAdobeRgbLossyAsLinearSrgb", "cjxl",
            [adobePng] {
                return Encoded(
                    "cjxl", { "{in}", "{out}", "-d", "1", "--quiet" }, ".jxl", adobePng());
            },
            { Kind::Cicp, {}, { 1, 8, 0, true } }, {},
            // Adobe RGB (200, 60, 40) in linear sRGB, as djxl writes it too.
            qRgb(204, 11, 4) },
        // cjxl's PNG reader turns gAMA and cHRM into an exact encoding where they match one.
        { "JxlLinearFromGamma", "cjxl",
            [] {
                return Encoded("cjxl", { "{in}", "{out}", "-d", "0", "--quiet" }, ".jxl",
                    PngWith({ PngChunk("gAMA", Be32(100000)), kChrmChunk }));
            },
            { Kind::Cicp, {}, { 1, 8, 0, true } } },
        { "JxlGamma22FromGamma", "cjxl",
            [] {
                return Encoded("cjxl", { "{in}", "{out}", "-d", "0", "--quiet" }, ".jxl",
                    PngWith({ kGamaChunk, kChrmChunk }));
            },
            { Kind::Cicp, {}, { 1, 4, 0, true } } },
        { "JxlUntaggedIsSrgb", "cjxl",
            [png] {
                return Encoded("cjxl", { "{in}", "{out}", "-d", "0", "--quiet" }, ".jxl", png());
            },
            { Kind::Cicp, {}, { 1, 13, 0, true } } },
    };
}

void PrintTo(const DescriptionCase &test, std::ostream *out) { *out << test.name; }

class ColourDescriptionTest : public testing::TestWithParam<DescriptionCase>
{
};

// Every pixel of the file drawn over black.
std::vector<std::uint32_t> Pixels(const QByteArray &bytes)
{
    imaging::OpenedImage opened
        = imaging::LoadImageFromMemory(std::string_view(bytes.constData(), bytes.size()));
    if (!opened.image) {
        ADD_FAILURE() << "the picture did not open";
        return {};
    }
    imaging::Raster raster = opened.image->TakeRaster();
    EXPECT_EQ(opened.image->DrawOver(raster, qRgb(0, 0, 0)), imaging::LoadFailure::None);
    std::vector<std::uint32_t> pixels;
    for (int y = 0; y < raster.Height(); ++y)
        pixels.insert(pixels.end(), raster.Row(y), raster.Row(y) + raster.Width());
    return pixels;
}

TEST_P(ColourDescriptionTest, ReadsTheDescriptionAndDrawsAsWithout)
{
    const DescriptionCase &test = GetParam();
    if (test.program && !fixtures::HasProgram(test.program))
        GTEST_SKIP() << test.program << " is not installed";
    const QByteArray bytes = test.file();
    ASSERT_FALSE(bytes.isEmpty());
    imaging::OpenedImage opened
        = imaging::LoadImageFromMemory(std::string_view(bytes.constData(), bytes.size()));
    ASSERT_TRUE(opened.image) << "failure " << static_cast<int>(opened.failure);
    const ColourDescription &colour = opened.image->Colour();
    const Expected &expected = test.expected;
    EXPECT_EQ(static_cast<int>(colour.kind), static_cast<int>(expected.kind));
    EXPECT_EQ(colour.damaged, expected.damaged);
    if (expected.kind == Kind::Icc && !expected.icc.isEmpty()) {
        EXPECT_EQ(colour.icc, std::vector<std::uint8_t>(expected.icc.begin(), expected.icc.end()));
    } else if (expected.kind != Kind::Icc) {
        EXPECT_TRUE(colour.icc.empty());
    }
    if (expected.kind == Kind::Cicp) {
        EXPECT_EQ(colour.cicp.primaries, expected.cicp.primaries);
        EXPECT_EQ(colour.cicp.transfer, expected.cicp.transfer);
        EXPECT_EQ(colour.cicp.matrix, expected.cicp.matrix);
        EXPECT_EQ(colour.cicp.fullRange, expected.cicp.fullRange);
    }
    EXPECT_NEAR(colour.gamma, expected.gamma, 1e-9);
    for (std::size_t i = 0; i < expected.chromaticities.size(); ++i)
        EXPECT_NEAR(colour.chromaticities[i], expected.chromaticities[i], 1e-9) << "value " << i;

    // Only the description is read: the numbers stay those of the file.
    const std::vector<std::uint32_t> pixels = Pixels(bytes);
    ASSERT_EQ(pixels.size(), 16u * 16u);
    if (test.untagged) {
        EXPECT_EQ(pixels, Pixels(test.untagged()));
    } else {
        for (const std::uint32_t pixel : pixels) {
            ASSERT_NEAR(qRed(pixel), qRed(test.drawn), 3);
            ASSERT_NEAR(qGreen(pixel), qGreen(test.drawn), 3);
            ASSERT_NEAR(qBlue(pixel), qBlue(test.drawn), 3);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, ColourDescriptionTest, testing::ValuesIn(Cases()),
    [](const testing::TestParamInfo<DescriptionCase> &info) { return info.param.name; });

} // namespace
