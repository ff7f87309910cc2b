// Tagged pictures in every format averaged after their conversion to sRGB: the means match lcms2's
// floating-point transform of the same pixels, raw draws keep the stored numbers, a broken
// profile reads as sRGB and says so, and the window's loader agrees with the row path.
#include "imaging/colour_report.h"
#include "imaging/colour_transfer.h"
#include "imaging/mod_gdi_plus_resize.h"
#include "imaging/picture_rows.h"
#include "imaging/tests/keeping_sink.h"

#include "imaging/tests/fixtures.h"
#include "imaging/tests/format_tools.h"
#include "imaging/tests/tagged_fixtures.h"

#include <QByteArray>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

// Bands of a warm red, a green, a yellow past sRGB's reach in wide spaces, and a blue.
const std::vector<QRgb> kColours { qRgb(200, 60, 40), qRgb(30, 180, 90), qRgb(250, 250, 20),
    qRgb(20, 40, 230) };

QImage Picture() { return fixtures::Bands(16, 16, 4, kColours); }

// The same with the last two bands translucent, for the order of conversion and composition.
QImage TranslucentPicture()
{
    QImage picture = Picture().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 8; x < 16; ++x) {
            const QRgb p = picture.pixel(x, y);
            picture.setPixel(x, y, qRgba(qRed(p), qGreen(p), qBlue(p), x < 12 ? 128 : 200));
        }
    }
    return picture;
}

using fixtures::Be32;
using fixtures::IccpChunk;
using fixtures::PngChunk;
using fixtures::RgbProfile;

// The PNG with chunks after IHDR (signature 8 bytes, IHDR 25).
QByteArray PngWith(const QImage &picture, fixtures::PngVariant variant, const QByteArray &chunks)
{
    return fixtures::PngWithChunks(fixtures::EncodePng(picture, variant), chunks);
}

const cmsCIExyYTRIPLE &kP3 = fixtures::kP3Primaries;
const cmsCIExyYTRIPLE &kBt2020 = fixtures::kBt2020Primaries;

QByteArray DisplayP3() { return RgbProfile(kP3); }

QByteArray GhostscriptProfile(const char *name)
{
    QFile file(QStringLiteral("/usr/share/color/icc/ghostscript/") + QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Encoded(const char *program, const QStringList &arguments, const char *suffix,
    const QByteArray &input, const QByteArray &extra = QByteArray())
{
    return fixtures::EncodeFilesWithProgram({ input }, program, arguments, suffix, extra);
}

struct Drawn
{
    std::vector<std::uint32_t> pixels;
    imaging::ColourReport report;
};

Drawn Draw(const QByteArray &bytes, bool raw, analysis::ColourValue background)
{
    fixtures::KeepingSink sink;
    Drawn drawn;
    const imaging::LoadFailure failure
        = modGDIPlusResize::DrawPictureRows(modGDIPlusResize::PictureBytes { bytes.toStdString() },
            sink, background, imaging::ColourOptions { raw }, &drawn.report);
    EXPECT_EQ(failure, imaging::LoadFailure::None);
    drawn.pixels = std::move(sink.pixels);
    return drawn;
}

std::array<double, 3> Means(const std::vector<std::uint32_t> &pixels)
{
    std::array<double, 3> sums {};
    for (const std::uint32_t p : pixels) {
        sums[0] += qRed(p);
        sums[1] += qGreen(p);
        sums[2] += qBlue(p);
    }
    for (double &sum : sums)
        sum /= static_cast<double>(std::max<std::size_t>(pixels.size(), 1));
    return sums;
}

// What the conversion of one colour should give, channels 0..1 unclipped in sRGB's encoding.
using Reference = std::function<std::array<double, 3>(std::array<double, 3>)>;

// lcms2's floating-point transform from the profile to sRGB, relative colorimetric, unbounded.
Reference ThroughLcms(const QByteArray &profile)
{
    cmsHPROFILE source = cmsOpenProfileFromMem(profile.constData(), profile.size());
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM made = source ? cmsCreateTransform(source, TYPE_RGB_DBL, srgb, TYPE_RGB_DBL,
                             INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE)
                                : nullptr;
    if (source)
        cmsCloseProfile(source);
    cmsCloseProfile(srgb);
    if (!made)
        ADD_FAILURE() << "lcms2 takes no transform from the profile";
    const std::shared_ptr<void> transform(made, [](void *t) {
        if (t)
            cmsDeleteTransform(t);
    });
    return [transform](std::array<double, 3> in) {
        std::array<double, 3> out {};
        if (transform)
            cmsDoTransform(transform.get(), in.data(), out.data(), 1);
        return out;
    };
}

// BT.2100 PQ with BT.2020 primaries: the signal to light, 203 cd/m² as sRGB's white, then lcms2
// from linear BT.2020 (its output sRGB-encoded, as the picture's are).
Reference ThroughPq()
{
    const Reference linear = ThroughLcms(RgbProfile(kBt2020, 1.0));
    return [linear](std::array<double, 3> in) {
        for (double &c : in)
            c = imaging::colour::PqToNits(c) / imaging::colour::kReferenceWhiteNits;
        return linear(in);
    };
}

// The expected pixel: the source colour converted, clipped, to 8 bits, composed over background.
std::uint32_t Expected(QRgb source, const Reference &reference, QRgb background)
{
    const std::array<double, 3> converted
        = reference({ qRed(source) / 255.0, qGreen(source) / 255.0, qBlue(source) / 255.0 });
    const int a = qAlpha(source);
    int out[3];
    const int bg[3] = { qRed(background), qGreen(background), qBlue(background) };
    for (int i = 0; i < 3; ++i) {
        const double c = std::clamp(converted[i], 0.0, 1.0) * 255.0;
        out[i] = static_cast<int>(std::lround((c * a + bg[i] * (255.0 - a)) / 255.0));
    }
    return qRgb(out[0], out[1], out[2]);
}

struct MeansCase
{
    const char *name;
    const char *program; // the encoder needed, or null
    std::function<QByteArray()> file;
    std::function<Reference()> reference; // null: a broken description, read as sRGB
    std::string sourceName;
    // The source pixels: null for opaque files, whose raw draw gives them (lossy codecs included,
    // so only the conversion is measured); translucent ones and PQ name theirs.
    std::function<QImage()> source {};
    // Within this of lcms2's mean per channel.
    double tolerance = 1.0;
};

QByteArray Png16Pq()
{
    // Signals below 0.58 (203 cd/m²) stay within sRGB's white; BT.2020's primaries still clip.
    const QImage picture = fixtures::Bands(16, 16, 4,
        { qRgb(140, 60, 40), qRgb(30, 120, 90), qRgb(100, 100, 100), qRgb(20, 40, 130) });
    return fixtures::EncodePng(picture, fixtures::PngVariant::Rgb16);
}

QImage PqSource()
{
    return fixtures::Bands(16, 16, 4,
        { qRgb(140, 60, 40), qRgb(30, 120, 90), qRgb(100, 100, 100), qRgb(20, 40, 130) });
}

std::vector<MeansCase> Cases()
{
    using fixtures::PngVariant;
    const auto p3 = [] { return ThroughLcms(DisplayP3()); };
    const auto adobe = [] { return ThroughLcms(GhostscriptProfile("a98.icc")); };
    const auto p3Png = [] { return PngWith(Picture(), PngVariant::Rgb8, IccpChunk(DisplayP3())); };
    return {
        { "PngDisplayP3", nullptr, p3Png, p3, "Display P3" },
        { "PngAdobeRgb", nullptr,
            [] {
                return PngWith(
                    Picture(), PngVariant::Rgb8, IccpChunk(GhostscriptProfile("a98.icc")));
            },
            adobe, "Adobe RGB (1998)" },
        { "PngProPhoto", nullptr,
            [] {
                return PngWith(
                    Picture(), PngVariant::Rgb8, IccpChunk(GhostscriptProfile("rommrgb.icc")));
            },
            [] { return ThroughLcms(GhostscriptProfile("rommrgb.icc")); }, "ProPhoto RGB" },
        // gAMA 1/2.2 with the P3 primaries in cHRM.
        { "PngGammaChromaticities", nullptr,
            [] {
                return PngWith(Picture(), PngVariant::Rgb8,
                    PngChunk("gAMA", Be32(45455))
                        + PngChunk("cHRM",
                            Be32(31270) + Be32(32900) + Be32(68000) + Be32(32000) + Be32(26500)
                                + Be32(69000) + Be32(15000) + Be32(6000)));
            },
            [] { return ThroughLcms(RgbProfile(kP3, 100000 / 45455.0)); }, "" },
        { "PngCicpDisplayP3", nullptr,
            [] {
                return PngWith(
                    Picture(), PngVariant::Rgb8, PngChunk("cICP", QByteArray::fromHex("0c0d0001")));
            },
            p3, "Display P3" },
        { "Png16DisplayP3", nullptr,
            [] { return PngWith(Picture(), PngVariant::Rgb16, IccpChunk(DisplayP3())); }, p3,
            "Display P3" },
        // PQ from a 16-bit PNG's cICP, its samples whole.
        { "Png16CicpPq", nullptr,
            [] {
                QByteArray png = Png16Pq();
                png.insert(33, PngChunk("cICP", QByteArray::fromHex("09100001")));
                return png;
            },
            ThroughPq, "BT.2020 PQ", PqSource },
        { "PngTranslucentDisplayP3", nullptr,
            [] { return PngWith(TranslucentPicture(), PngVariant::Rgba8, IccpChunk(DisplayP3())); },
            p3, "Display P3", TranslucentPicture },
        { "PngBrokenProfile", nullptr,
            [] { return PngWith(Picture(), PngVariant::Rgb8, IccpChunk(QByteArray(300, 'x'))); },
            nullptr, "sRGB" },
        { "JpegDisplayP3", nullptr,
            [] { return fixtures::JpegWithProfile(Picture(), DisplayP3()); }, p3, "Display P3" },
        { "TiffAdobeRgb", nullptr,
            [] {
                return fixtures::EncodeTiff(
                    Picture(), fixtures::TiffVariant::Rgb8, GhostscriptProfile("a98.icc"));
            },
            adobe, "Adobe RGB (1998)" },
        // libtiff premultiplies: undone before the conversion, at a rounding's cost.
        { "TiffTranslucentDisplayP3", nullptr,
            [] {
                return fixtures::EncodeTiff(
                    TranslucentPicture(), fixtures::TiffVariant::Rgba8, DisplayP3());
            },
            p3, "Display P3", TranslucentPicture },
        { "WebpDisplayP3", "cwebp",
            [p3Png] {
                return Encoded("cwebp",
                    { "-quiet", "-lossless", "-metadata", "icc", "{in}", "-o", "{out}" }, ".webp",
                    p3Png());
            },
            p3, "Display P3" },
        { "AvifCicpDisplayP3", "avifenc",
            [] {
                return Encoded("avifenc", { "--cicp", "12/13/1", "{in}", "{out}" }, ".avif",
                    fixtures::EncodePng(Picture(), PngVariant::Rgb8));
            },
            p3, "Display P3" },
        // 10-bit PQ; lossy YUV, so within 2 of the 16-bit source's conversion.
        { "AvifBt2020Pq", "avifenc",
            [] {
                return Encoded("avifenc",
                    { "--depth", "10", "--cicp", "9/16/9", "--min", "0", "--max", "0", "{in}",
                        "{out}" },
                    ".avif", Png16Pq());
            },
            ThroughPq, "BT.2020 PQ", PqSource, 2.0 },
        { "HeifDisplayP3", "heif-enc",
            [p3Png] {
                return Encoded("heif-enc", { "-L", "{in}", "-o", "{out}" }, ".heic", p3Png());
            },
            p3, "Display P3" },
        { "JxlDisplayP3", "cjxl",
            [p3Png] {
                return Encoded("cjxl", { "{in}", "{out}", "-d", "0", "--quiet" }, ".jxl", p3Png());
            },
            p3, "Display P3" },
    };
}

void PrintTo(const MeansCase &test, std::ostream *out) { *out << test.name; }

class ColourMeansTest : public testing::TestWithParam<MeansCase>
{
};

constexpr analysis::ColourValue kBackground = 0x204060; // 0x00BBGGRR: #604020

TEST_P(ColourMeansTest, MeansMatchLcmsAndRawKeepsTheNumbers)
{
    const MeansCase &test = GetParam();
    if (test.program && !fixtures::HasProgram(test.program))
        GTEST_SKIP() << test.program << " is not installed";
    const QByteArray bytes = test.file();
    ASSERT_FALSE(bytes.isEmpty());
    const QRgb background = qRgb(0x60, 0x40, 0x20);

    const Drawn raw = Draw(bytes, true, kBackground);
    const Drawn converted = Draw(bytes, false, kBackground);
    ASSERT_EQ(raw.pixels.size(), converted.pixels.size());
    EXPECT_TRUE(raw.report.raw);
    EXPECT_FALSE(raw.report.converted);
    EXPECT_EQ(raw.report.clippedPixels, 0u);
    EXPECT_FALSE(converted.report.raw);
    if (!test.sourceName.empty()) {
        EXPECT_EQ(converted.report.sourceName, test.sourceName);
        EXPECT_EQ(raw.report.sourceName, test.sourceName);
    }

    if (!test.reference) {
        // Read as sRGB: today's numbers, and the report says the description was unusable.
        EXPECT_TRUE(converted.report.unusable);
        EXPECT_FALSE(converted.report.converted);
        EXPECT_EQ(converted.pixels, raw.pixels);
        return;
    }
    EXPECT_TRUE(converted.report.converted);
    EXPECT_FALSE(converted.report.unusable);

    const Reference reference = test.reference();
    std::vector<std::uint32_t> expected;
    if (test.source) {
        const QImage source = test.source().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width(); ++x)
                expected.push_back(Expected(source.pixel(x, y), reference, background));
    } else {
        for (const std::uint32_t p : raw.pixels)
            expected.push_back(Expected(p | 0xFF000000u, reference, background));
    }
    ASSERT_EQ(expected.size(), converted.pixels.size());
    const std::array<double, 3> want = Means(expected);
    const std::array<double, 3> got = Means(converted.pixels);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(got[i], want[i], test.tolerance) << "channel "
                                                     << "RGB"[i];
    // The colours that clearly leave sRGB are counted (the yellow in the wide spaces here).
    std::uint64_t outside = 0;
    for (const std::uint32_t p : test.source ? std::vector<std::uint32_t> {} : raw.pixels) {
        const std::array<double, 3> c
            = reference({ qRed(p) / 255.0, qGreen(p) / 255.0, qBlue(p) / 255.0 });
        outside += std::any_of(c.begin(), c.end(), [](double v) { return v < -0.01 || v > 1.01; });
    }
    EXPECT_GE(converted.report.clippedPixels, outside);
    EXPECT_LE(converted.report.clippedPixels, converted.pixels.size());

    // The window's loader converts the same way, to the last digit.
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    std::int32_t width = -1, height = -1;
    imaging::ColourReport windowReport;
    const QImage window = modGDIPlusResize::LoadPictureScaled(
        bytes, QStringLiteral("picture"), width, height, kBackground, &windowReport);
    modGDIPlusResize::GdiPlusClose(token);
    std::vector<std::uint32_t> windowPixels;
    for (int y = 0; y < window.height(); ++y) {
        const auto *row = reinterpret_cast<const std::uint32_t *>(window.constScanLine(y));
        for (int x = 0; x < window.width(); ++x)
            windowPixels.push_back(row[x] | 0xFF000000u);
    }
    std::vector<std::uint32_t> rowPixels = converted.pixels;
    for (std::uint32_t &p : rowPixels)
        p |= 0xFF000000u;
    EXPECT_EQ(windowPixels, rowPixels);
    EXPECT_EQ(windowReport.sourceName, converted.report.sourceName);
    EXPECT_EQ(windowReport.clippedPixels, converted.report.clippedPixels);
    EXPECT_TRUE(windowReport.converted);
}

INSTANTIATE_TEST_SUITE_P(Tagged, ColourMeansTest, testing::ValuesIn(Cases()),
    [](const testing::TestParamInfo<MeansCase> &info) { return std::string(info.param.name); });

// Untagged and sRGB pictures are drawn exactly as before, converted or raw, and say sRGB.
TEST(ColourMeans, UntaggedPicturesKeepTheirNumbers)
{
    using fixtures::PngVariant;
    const struct
    {
        const char *name;
        QByteArray file;
    } cases[] = {
        { "png", fixtures::EncodePng(TranslucentPicture(), PngVariant::Rgba8) },
        { "png16", fixtures::EncodePng(Picture(), PngVariant::Rgb16) },
        { "pngSrgbChunk",
            PngWith(Picture(), PngVariant::Rgb8, PngChunk("sRGB", QByteArray(1, 0))) },
        { "jpeg", fixtures::EncodeJpeg(Picture(), fixtures::JpegVariant::Baseline420) },
        { "tiff", fixtures::EncodeTiff(TranslucentPicture(), fixtures::TiffVariant::Rgba8) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const Drawn raw = Draw(c.file, true, kBackground);
        const Drawn converted = Draw(c.file, false, kBackground);
        EXPECT_EQ(converted.pixels, raw.pixels);
        EXPECT_EQ(converted.report.sourceName, "sRGB");
        EXPECT_FALSE(converted.report.converted);
        EXPECT_FALSE(converted.report.unusable);
    }
}

} // namespace
