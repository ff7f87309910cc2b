// WebP, TIFF, HEIC, AVIF and JPEG XL files from the outside encoders, loaded by content.
#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"
#include "imaging/tests/format_tools.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace {

using fixtures::TiffVariant;
using modGDIPlusResize::LoadError;

constexpr analysis::ColourValue kSlate = 0x996633; // 0x00BBGGRR of (0x33, 0x66, 0x99)
constexpr QRgb kSlateRgb = qRgb(0x33, 0x66, 0x99);

// Many distinct colours and, if asked, every kind of alpha: 0, 255 and values between. Smooth
// pictures suit the lossy codecs, whose error on noise would swamp the comparison.
QImage Picture(int width, int height, bool alpha, bool smooth, bool gray = false)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int r = x * 255 / (width - 1);
            const int g = gray ? r : y * 255 / (height - 1);
            const int b = gray ? r
                : smooth       ? (x + y) * 255 / (width + height - 2)
                               : (x * 31 + y * 17) % 256;
            const int a = !alpha ? 255
                : x < width / 8  ? 0
                : smooth         ? 64 + y * 191 / (height - 1)
                                 : (x * 53 + y * 29) % 256;
            image.setPixel(x, y, qRgba(r, g, b, a));
        }
    }
    return image;
}

// The exact source-over blend, for expected values.
QRgb Over(QRgb pixel, QRgb background)
{
    const auto blend = [a = qAlpha(pixel)](int c, int b) {
        return static_cast<int>(std::lround((c * a + b * (255 - a)) / 255.0));
    };
    return qRgb(blend(qRed(pixel), qRed(background)), blend(qGreen(pixel), qGreen(background)),
        blend(qBlue(pixel), qBlue(background)));
}

struct Mean
{
    double r = 0, g = 0, b = 0;
};

Mean MeanOf(const QImage &picture, const std::function<QRgb(QRgb)> &map = {})
{
    Mean sum;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = map ? map(picture.pixel(x, y)) : picture.pixel(x, y);
            sum.r += qRed(p);
            sum.g += qGreen(p);
            sum.b += qBlue(p);
        }
    }
    const double n = double(picture.width()) * picture.height();
    return { sum.r / n, sum.g / n, sum.b / n };
}

struct FormatCase
{
    const char *name;
    // Encoder program needed, or empty for libtiff.
    const char *program;
    std::function<QByteArray()> encode;
    QImage source;
    // The largest difference allowed between a channel's mean and the source's, composed over
    // the background; and for each pixel, -1 for lossy codecs whose single pixels drift.
    double meanTolerance;
    int pixelTolerance;
};

template <class Case>
requires requires(const Case &c) { c.name; }
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

// shown: the picture as the file says to show it, if not the first of pictures.
FormatCase ByProgram(const char *name, const char *program, QStringList arguments,
    const char *suffix, QList<QImage> pictures, double meanTolerance, int pixelTolerance,
    QImage shown = {})
{
    return { name, program,
        [=] {
            return fixtures::EncodeWithProgram(
                pictures, QString::fromUtf8(program), arguments, QString::fromUtf8(suffix));
        },
        shown.isNull() ? pictures.front() : shown, meanTolerance, pixelTolerance };
}

FormatCase ByLibtiff(const char *name, TiffVariant variant, QImage source, int pixelTolerance = 0)
{
    return { name, "", [=] { return fixtures::EncodeTiff(source, variant); }, source,
        pixelTolerance == 0 ? 0.01 : 0.5, pixelTolerance };
}

const QImage kSharp = Picture(37, 23, false, false);
const QImage kSharpAlpha = Picture(37, 23, true, false);
const QImage kSmooth = Picture(64, 48, false, true);
const QImage kSmoothAlpha = Picture(64, 48, true, true);
const QImage kGray = Picture(37, 23, false, false, true);
const QImage kFewColours = fixtures::Bands(
    37, 23, 5, { qRgb(255, 0, 0), qRgb(0, 200, 0), qRgb(10, 20, 30), qRgb(250, 250, 5) });

// kSmooth in 4:2:0, near lossless, with a crop avifenc accepts (22 x 16 at (4, 2)) rewritten in
// the file to 21 x 15 at (5, 3): offsets from the centre of -33/2 and -27/2.
FormatCase OddCropAvif(const char *name, QStringList more, QImage shown)
{
    const auto make = [more] {
        QStringList arguments { "-y", "420", "--min", "0", "--max", "0", "--clap",
            "22,1,16,1,-17,1,-14,1" };
        arguments += more;
        arguments += QStringList { "{in}", "{out}" };
        QByteArray avif = fixtures::EncodeWithProgram({ kSmooth }, "avifenc", arguments, ".avif");
        const qsizetype at = avif.indexOf("clap");
        if (at < 0)
            return QByteArray();
        const std::int32_t fields[8] = { 21, 1, 15, 1, -33, 2, -27, 2 };
        for (int i = 0; i < 8; ++i) {
            for (int b = 0; b < 4; ++b)
                avif[at + 4 + 4 * i + b]
                    = static_cast<char>(static_cast<std::uint32_t>(fields[i]) >> (24 - 8 * b));
        }
        return avif;
    };
    return { name, "avifenc", make, shown, 1.5, -1 };
}

// Lossless cases must match every pixel; lossy ones carry the tolerance their codec needed at
// these qualities (measured against the codec's own decoder, with some room).
const FormatCase kCases[] = {
    ByProgram("WebpLossless", "cwebp", { "-quiet", "-lossless", "{in}", "-o", "{out}" }, ".webp",
        { kSharpAlpha }, 0.01, 0),
    ByProgram("WebpLossy", "cwebp", { "-quiet", "-q", "90", "{in}", "-o", "{out}" }, ".webp",
        { kSmooth }, 1.5, -1),
    ByProgram("WebpLossyWithAlpha", "cwebp",
        { "-quiet", "-q", "90", "-alpha_q", "100", "{in}", "-o", "{out}" }, ".webp",
        { kSmoothAlpha }, 1.5, -1),
    // The first frame only: the second, its negative, must not show through.
    ByProgram("WebpAnimatedFirstFrame", "img2webp", { "-lossless", "{in}", "{in2}", "-o", "{out}" },
        ".webp", { kSharpAlpha, kSharp.transformed(QTransform().rotate(180)) }, 0.01, 0),
    ByProgram("HeicLossy", "heif-enc", { "-q", "90", "{in}", "-o", "{out}" }, ".heic", { kSmooth },
        2, -1),
    ByProgram("HeicWithAlpha", "heif-enc", { "-q", "90", "{in}", "-o", "{out}" }, ".heic",
        { kSmoothAlpha }, 2, -1),
    ByProgram(
        "AvifLossless", "avifenc", { "-l", "{in}", "{out}" }, ".avif", { kSharpAlpha }, 0.01, 0),
    // Turned by the file a quarter anticlockwise (then mirrored top to bottom), and cropped to
    // 21 x 13 at (6, 4): the picture is shown as the file says, at the size it says.
    ByProgram("AvifTurnedByTheFile", "avifenc", { "-l", "--irot", "1", "{in}", "{out}" }, ".avif",
        { kSharpAlpha }, 0.01, 0, kSharpAlpha.transformed(QTransform().rotate(-90))),
    ByProgram("AvifTurnedHalfByTheFile", "avifenc", { "-l", "--irot", "2", "{in}", "{out}" },
        ".avif", { kSharpAlpha }, 0.01, 0, kSharpAlpha.transformed(QTransform().rotate(180))),
    ByProgram("AvifTurnedThreeQuartersAndMirroredLeftRight", "avifenc",
        { "-l", "--irot", "3", "--imir", "1", "{in}", "{out}" }, ".avif", { kSharpAlpha }, 0.01, 0,
        kSharpAlpha.transformed(QTransform().rotate(90)).mirrored(true, false)),
    ByProgram("AvifTurnedAndMirroredByTheFile", "avifenc",
        { "-l", "--irot", "1", "--imir", "0", "{in}", "{out}" }, ".avif", { kSharpAlpha }, 0.01, 0,
        kSharpAlpha.transformed(QTransform().rotate(-90)).mirrored(false, true)),
    ByProgram("AvifCroppedByTheFile", "avifenc", { "-l", "--crop", "6,4,21,13", "{in}", "{out}" },
        ".avif", { kSharpAlpha }, 0.01, 0, kSharpAlpha.copy(6, 4, 21, 13)),
    // A crop with an odd corner under 4:2:0, which libavif calls invalid and the format crops:
    // 21 x 15 at (5, 3) of 64 x 48, alone and turned.
    OddCropAvif("AvifOddCrop420", {}, kSmooth.copy(5, 3, 21, 15)),
    OddCropAvif("AvifOddCrop420Turned", { "--irot", "1" },
        kSmooth.copy(5, 3, 21, 15).transformed(QTransform().rotate(-90))),
    OddCropAvif("AvifOddCrop420TurnedAndMirrored", { "--irot", "3", "--imir", "1" },
        kSmooth.copy(5, 3, 21, 15).transformed(QTransform().rotate(90)).mirrored(true, false)),
    // Ten bits a channel, brought back to eight by the decoder.
    ByProgram("AvifLossless10Bit", "avifenc", { "-l", "-d", "10", "{in}", "{out}" }, ".avif",
        { kSharpAlpha }, 0.5, 1),
    ByProgram("AvifLossy", "avifenc", { "--min", "20", "--max", "30", "{in}", "{out}" }, ".avif",
        { kSmooth }, 2, -1),
    ByProgram("JxlLossless", "cjxl", { "--quiet", "-d", "0", "{in}", "{out}" }, ".jxl",
        { kSharpAlpha }, 0.01, 0),
    ByProgram("JxlLossy", "cjxl", { "--quiet", "-d", "1", "{in}", "{out}" }, ".jxl", { kSmooth },
        1.5, -1),
    ByLibtiff("TiffRgb8", TiffVariant::Rgb8, kSharp),
    // libtiff premultiplies straight alpha on the way, which rounds by one at most.
    ByLibtiff("TiffRgba8", TiffVariant::Rgba8, kSharpAlpha, 1),
    ByLibtiff("TiffPremultipliedRgba8", TiffVariant::PremultipliedRgba8, kSharpAlpha, 1),
    ByLibtiff("TiffGray8", TiffVariant::Gray8, kGray),
    ByLibtiff("TiffGray16", TiffVariant::Gray16, kGray),
    ByLibtiff("TiffRgb16", TiffVariant::Rgb16, kSharp),
    ByLibtiff("TiffPalette8", TiffVariant::Palette8, kFewColours),
    ByLibtiff("TiffCmyk8", TiffVariant::Cmyk8, kSharp),
    ByLibtiff("TiffTiled", TiffVariant::TiledRgb8, kSharp),
    ByLibtiff("TiffBigEndianDeflate", TiffVariant::BigEndianDeflateRgb8, kSharp),
    ByLibtiff("TiffFirstOfTwoPages", TiffVariant::TwoPagesRgb8, kSharp),
};

class NewFormatsTest : public testing::TestWithParam<FormatCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const char *program = GetParam().program;
        if (*program && !fixtures::HasProgram(QString::fromUtf8(program)))
            GTEST_SKIP() << program << " is not installed (scripts/deps.sh installs it)";
        token = modGDIPlusResize::GdiPlusOpen();
        encoded = GetParam().encode();
        ASSERT_FALSE(encoded.isEmpty());
    }
    void TearDown() override
    {
        if (token != 0)
            modGDIPlusResize::GdiPlusClose(token);
    }

    // Always under a PNG's name: the format must be told by content.
    QString Write(const QByteArray &bytes)
    {
        const QString path = dir.filePath("picture.png");
        fixtures::WriteFile(path, bytes);
        return path;
    }

    QTemporaryDir dir;
    std::uintptr_t token = 0;
    QByteArray encoded;
};

TEST_P(NewFormatsTest, MeanAndPixelsAreTheSourceComposedOverTheBackground)
{
    const FormatCase &c = GetParam();
    std::int32_t width = -1, height = -1;
    const QImage picture
        = modGDIPlusResize::LoadPictureScaled(Write(encoded), width, height, kSlate);
    ASSERT_EQ(picture.size(), c.source.size());
    ASSERT_EQ(picture.format(), QImage::Format_RGB32);
    const Mean got = MeanOf(picture);
    const Mean want = MeanOf(c.source, [](QRgb p) { return Over(p, kSlateRgb); });
    EXPECT_NEAR(got.r, want.r, c.meanTolerance);
    EXPECT_NEAR(got.g, want.g, c.meanTolerance);
    EXPECT_NEAR(got.b, want.b, c.meanTolerance);
    int wrong = 0, opaque = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y), e = Over(c.source.pixel(x, y), kSlateRgb);
            opaque += qAlpha(reinterpret_cast<const QRgb *>(picture.constScanLine(y))[x]) == 255;
            const int d = std::max({ std::abs(qRed(p) - qRed(e)), std::abs(qGreen(p) - qGreen(e)),
                std::abs(qBlue(p) - qBlue(e)) });
            if (c.pixelTolerance >= 0 && d > c.pixelTolerance && ++wrong <= 3)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") off by " << d;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(opaque, picture.width() * picture.height()) << "every alpha byte must be 0xFF";
}

TEST_P(NewFormatsTest, CutInHalfIsTheLoadError)
{
    const QString path = Write(encoded.left(encoded.size() / 2));
    for (const std::int32_t size : { -1, 16 }) {
        SCOPED_TRACE(size);
        std::int32_t width = size, height = size;
        EXPECT_THROW(
            (void)modGDIPlusResize::LoadPictureScaled(path, width, height, kSlate), LoadError);
        EXPECT_EQ(width, size);
    }
}

INSTANTIATE_TEST_SUITE_P(NewFormats, NewFormatsTest, testing::ValuesIn(kCases),
    [](const auto &info) { return std::string(info.param.name); });

// ---- files that pass the content check and then turn out not to be pictures ----

QByteArray Noise(int n)
{
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 73 + 41) % 251);
    return bytes;
}

struct BadCase
{
    const char *name;
    QByteArray bytes;
};

const BadCase kBadCases[] = {
    { "WebpSignatureThenNoise", QByteArray("RIFF\x40\x00\x00\x00WEBPVP8 ", 16) + Noise(64) },
    { "TiffLittleEndianSignatureThenNoise", QByteArray("II*\0\x08\0\0\0", 8) + Noise(200) },
    { "TiffBigEndianSignatureThenNoise", QByteArray("MM\0*\0\0\0\x08", 8) + Noise(200) },
    { "HeicFileTypeBoxOnly",
        QByteArray("\0\0\0\x18"
                   "ftypheic\0\0\0\0mif1heic",
            24) },
    { "AvifFileTypeBoxThenNoise",
        QByteArray("\0\0\0\x14"
                   "ftypavif\0\0\0\0mif1",
            20)
            + Noise(300) },
    { "JxlCodestreamSignatureThenNoise", QByteArray("\xFF\x0A", 2) + Noise(300) },
    { "JxlContainerSignatureOnly", QByteArray("\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12) },
};

class NewFormatsBadInputTest : public testing::TestWithParam<BadCase>
{
};

TEST_P(NewFormatsBadInputTest, IsTheLoadError)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.webp");
    fixtures::WriteFile(path, GetParam().bytes);
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    std::int32_t width = -1, height = -1;
    EXPECT_THROW((void)modGDIPlusResize::LoadPictureScaled(path, width, height, kSlate), LoadError);
    modGDIPlusResize::GdiPlusClose(token);
}

INSTANTIATE_TEST_SUITE_P(NewFormats, NewFormatsBadInputTest, testing::ValuesIn(kBadCases),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
