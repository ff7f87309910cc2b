#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace {

using analysis::ColourValue;
using fixtures::JpegVariant;
using fixtures::PngVariant;
using modGDIPlusResize::GdiPlusClose;
using modGDIPlusResize::GdiPlusOpen;
using modGDIPlusResize::LoadError;
using modGDIPlusResize::LoadPictureScaled;

constexpr ColourValue kWhite = 0xFFFFFF;
constexpr ColourValue kSlate = 0x996633; // 0x00BBGGRR of (0x33, 0x66, 0x99)
constexpr QRgb kSlateRgb = 0xFF336699;

const std::vector<QRgb> kBandColours
    = { qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 0) };

// The exact source-over blend of one channel over an opaque background, for expected values.
int Blend(int colour, int background, int alpha)
{
    return static_cast<int>(std::lround((colour * alpha + background * (255 - alpha)) / 255.0));
}

QRgb Over(QRgb pixel, QRgb background)
{
    const int a = qAlpha(pixel);
    return qRgb(Blend(qRed(pixel), qRed(background), a),
        Blend(qGreen(pixel), qGreen(background), a), Blend(qBlue(pixel), qBlue(background), a));
}

testing::AssertionResult Near(QRgb actual, QRgb expected, int tolerance)
{
    const int d = std::max({ std::abs(qRed(actual) - qRed(expected)),
        std::abs(qGreen(actual) - qGreen(expected)), std::abs(qBlue(actual) - qBlue(expected)) });
    if (d <= tolerance)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
        << "got (" << qRed(actual) << "," << qGreen(actual) << "," << qBlue(actual)
        << "), expected (" << qRed(expected) << "," << qGreen(expected) << "," << qBlue(expected)
        << ") within " << tolerance;
}

// What every picture from the loader must be: 32-bit RGB with every alpha byte 0xFF.
void ExpectOpaqueRgb32(const QImage &picture)
{
    ASSERT_EQ(picture.format(), QImage::Format_RGB32);
    int translucent = 0;
    for (int y = 0; y < picture.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            translucent += qAlpha(line[x]) != 255;
    }
    EXPECT_EQ(translucent, 0) << "pixels whose alpha byte is not 0xFF";
}

// A picture with many distinct colours (at most 256) and, if asked, every kind of alpha: 0,
// 255 and values between.
QImage Gradient(int width, int height, bool gray, bool alpha)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int r = x * 255 / (width - 1);
            const int g = gray ? r : y * 255 / (height - 1);
            const int b = gray ? r : (x * 31 + y * 17) % 256;
            const int a = !alpha ? 255 : (x == 0 ? 0 : (y == 0 ? 255 : (x * 53 + y * 29) % 256));
            image.setPixel(x, y, qRgba(r, g, b, a));
        }
    }
    return image;
}

class LoaderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        token = GdiPlusOpen();
    }
    void TearDown() override { GdiPlusClose(token); }

    QString Write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        fixtures::WriteFile(path, bytes);
        return path;
    }

    static QImage Load(const QString &path, ColourValue background = kWhite)
    {
        std::int32_t width = -1, height = -1;
        return LoadPictureScaled(path, width, height, background);
    }

    static void ExpectLoadError(const QString &path, std::int32_t width = -1,
        std::int32_t height = -1, ColourValue background = kWhite)
    {
        const std::int32_t askedWidth = width, askedHeight = height;
        try {
            const QImage picture = LoadPictureScaled(path, width, height, background);
            ADD_FAILURE() << "loaded a " << picture.width() << " x " << picture.height()
                          << " picture";
        } catch (const LoadError &error) {
            EXPECT_EQ(error.Number(), 999);
            EXPECT_EQ(error.Source(), QStringLiteral("GDI+ Module"));
            EXPECT_EQ(error.Description(), QStringLiteral("Error loading picture ") + path);
            EXPECT_EQ(std::string(error.what()), error.Description().toStdString());
        }
        EXPECT_EQ(width, askedWidth) << "a failed load must leave the caller's sizes alone";
        EXPECT_EQ(height, askedHeight);
    }

    QTemporaryDir dir;
    std::uintptr_t token = 0;
};

// Every table row carries a name: gtest prints it and names the instance after it.
template <class Case>
requires requires(const Case &c) { c.name; }
void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

constexpr auto kCaseName = [](const auto &info) { return std::string(info.param.name); };

// ---- every format and extension, decided by content ----

struct FormatCase
{
    const char *name;
    const char *fileName;
    std::function<QByteArray(const QImage &)> encode;
    int tolerance; // lossy formats drift a little even in the middle of a band
};

QByteArray AsPng(const QImage &picture) { return fixtures::EncodePng(picture, PngVariant::Rgb8); }
QByteArray AsJpeg(const QImage &picture)
{
    return fixtures::EncodeJpeg(picture, JpegVariant::Baseline420);
}
QByteArray AsBmp(const QImage &picture)
{
    return fixtures::EncodeWithQt(picture.convertToFormat(QImage::Format_RGB32), "bmp");
}
QByteArray AsIco(const QImage &picture) { return fixtures::EncodeWithQt(picture, "ico"); }
QByteArray AsGif(const QImage &picture)
{
    fixtures::GifFrame frame { picture.width(), picture.height(), {}, -1 };
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            frame.indices.push_back(static_cast<std::uint8_t>(
                std::find(kBandColours.begin(), kBandColours.end(), picture.pixel(x, y))
                - kBandColours.begin()));
    return fixtures::EncodeGif(kBandColours, { frame });
}

class FormatTest : public LoaderTest, public testing::WithParamInterface<FormatCase>
{
};

TEST_P(FormatTest, LoadsAtOwnSizeWithTheBandColours)
{
    // 16-pixel bands match JPEG's 16 x 16 blocks, so their middles survive compression.
    const QImage bands = fixtures::Bands(64, 16, 16, kBandColours);
    const QString path = Write(QString::fromUtf8(GetParam().fileName), GetParam().encode(bands));
    std::int32_t width = -1, height = -1;
    const QImage picture = LoadPictureScaled(path, width, height, kSlate);
    ASSERT_EQ(picture.size(), QSize(64, 16));
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 16);
    ExpectOpaqueRgb32(picture);
    for (int band = 0; band < 4; ++band) {
        SCOPED_TRACE(band);
        EXPECT_TRUE(
            Near(picture.pixel(16 * band + 8, 8), kBandColours[band], GetParam().tolerance));
    }
}

INSTANTIATE_TEST_SUITE_P(Loader, FormatTest,
    testing::Values(FormatCase { "Png", "bands.png", AsPng, 0 },
        FormatCase { "PngNamedJpg", "bands.jpg", AsPng, 0 },
        FormatCase { "PngWithoutExtension", "bands", AsPng, 0 },
        FormatCase { "Bmp", "bands.bmp", AsBmp, 0 },
        FormatCase { "BmpNamedDib", "bands.dib", AsBmp, 0 },
        FormatCase { "BmpNamedPng", "bands.png", AsBmp, 0 },
        FormatCase { "Gif", "bands.gif", AsGif, 0 },
        FormatCase { "GifNamedIco", "bands.ico", AsGif, 0 },
        FormatCase { "Jpg", "bands.jpg", AsJpeg, 6 }, FormatCase { "Jpe", "bands.jpe", AsJpeg, 6 },
        FormatCase { "Jpeg", "bands.jpeg", AsJpeg, 6 },
        FormatCase { "Jfif", "bands.jfif", AsJpeg, 6 },
        FormatCase { "JpegNamedBmp", "bands.bmp", AsJpeg, 6 },
        FormatCase { "Ico", "bands.ico", AsIco, 0 },
        FormatCase { "IcoWithUpperCaseExtension", "BANDS.ICO", AsIco, 0 }),
    kCaseName);

// ---- PNG variants: every pixel, composed over a non-white background ----

struct PngCase
{
    const char *name;
    PngVariant variant;
    QImage picture;
};

class PngVariantTest : public LoaderTest, public testing::WithParamInterface<PngCase>
{
};

TEST_P(PngVariantTest, EveryPixelIsTheSourceComposedOverTheBackground)
{
    const QImage &source = GetParam().picture;
    const QString path = Write("variant.png", fixtures::EncodePng(source, GetParam().variant));
    const QImage picture = Load(path, kSlate);
    ASSERT_EQ(picture.size(), source.size());
    ExpectOpaqueRgb32(picture);
    int wrong = 0;
    for (int y = 0; y < source.height(); ++y) {
        for (int x = 0; x < source.width(); ++x) {
            const auto near = Near(picture.pixel(x, y), Over(source.pixel(x, y), kSlateRgb), 1);
            if (!near && ++wrong <= 3)
                ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << near.message();
        }
    }
    EXPECT_EQ(wrong, 0);
}

QImage Checkerboard(int width, int height, QRgb a, QRgb b)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, (x + y) % 2 ? a : b);
    return image;
}

INSTANTIATE_TEST_SUITE_P(Loader, PngVariantTest,
    testing::Values(PngCase { "Rgb8", PngVariant::Rgb8, Gradient(13, 11, false, false) },
        PngCase { "Rgba8", PngVariant::Rgba8, Gradient(13, 11, false, true) },
        PngCase { "Gray8", PngVariant::Gray8, Gradient(13, 11, true, false) },
        PngCase { "GrayAlpha8", PngVariant::GrayAlpha8, Gradient(13, 11, true, true) },
        PngCase {
            "Gray1", PngVariant::Gray1, Checkerboard(13, 11, qRgb(0, 0, 0), qRgb(255, 255, 255)) },
        PngCase { "Palette8", PngVariant::Palette8, Gradient(13, 11, false, false) },
        PngCase { "PaletteWithTransparency", PngVariant::PaletteTransparent8,
            Gradient(13, 11, false, true) },
        PngCase { "Rgb16", PngVariant::Rgb16, Gradient(13, 11, false, false) },
        PngCase { "Rgba16", PngVariant::Rgba16, Gradient(13, 11, false, true) },
        PngCase { "Gray16", PngVariant::Gray16, Gradient(13, 11, true, false) },
        PngCase { "InterlacedRgb8", PngVariant::InterlacedRgb8, Gradient(13, 11, false, false) },
        PngCase { "InterlacedRgba8", PngVariant::InterlacedRgba8, Gradient(13, 11, false, true) }),
    kCaseName);

// ---- JPEG variants ----

struct JpegCase
{
    const char *name;
    JpegVariant variant;
    std::vector<QRgb> colours;
    int tolerance;
};

class JpegVariantTest : public LoaderTest, public testing::WithParamInterface<JpegCase>
{
};

TEST_P(JpegVariantTest, LoadsWithTheBandColours)
{
    const auto &colours = GetParam().colours;
    const QImage bands = fixtures::Bands(64, 32, 16, colours);
    const QString path = Write("variant.jpg", fixtures::EncodeJpeg(bands, GetParam().variant));
    const QImage picture = Load(path);
    ASSERT_EQ(picture.size(), QSize(64, 32));
    ExpectOpaqueRgb32(picture);
    for (int band = 0; band < 4; ++band) {
        SCOPED_TRACE(band);
        EXPECT_TRUE(Near(picture.pixel(16 * band + 8, 16), colours[band], GetParam().tolerance));
    }
}

const std::vector<QRgb> kGrays
    = { qRgb(20, 20, 20), qRgb(90, 90, 90), qRgb(160, 160, 160), qRgb(240, 240, 240) };
const std::vector<QRgb> kMuted
    = { qRgb(200, 100, 50), qRgb(30, 140, 90), qRgb(70, 60, 180), qRgb(128, 128, 0) };

INSTANTIATE_TEST_SUITE_P(Loader, JpegVariantTest,
    testing::Values(JpegCase { "Baseline420", JpegVariant::Baseline420, kBandColours, 6 },
        JpegCase { "Baseline444", JpegVariant::Baseline444, kBandColours, 3 },
        JpegCase { "Grayscale", JpegVariant::Grayscale, kGrays, 2 },
        JpegCase { "Progressive", JpegVariant::Progressive, kBandColours, 6 },
        JpegCase { "AdobeCmyk", JpegVariant::AdobeCmyk, kMuted, 4 }),
    kCaseName);

TEST_F(LoaderTest, UnknownJfifRevisionStillLoads)
{
    // libjpeg warns about a JFIF major version it does not know; the pixels are unaffected.
    QByteArray jpeg
        = fixtures::EncodeJpeg(fixtures::Bands(32, 16, 16, kMuted), JpegVariant::Baseline444);
    const qsizetype jfif = jpeg.indexOf(QByteArray("JFIF\0", 5));
    ASSERT_GT(jfif, 0);
    jpeg[jfif + 5] = 2;
    const QImage picture = Load(Write("jfif2.jpg", jpeg));
    EXPECT_TRUE(Near(picture.pixel(8, 8), kMuted[0], 3));
}

// ---- GIF and ICO specifics ----

TEST_F(LoaderTest, GifTransparencyShowsTheBackgroundAndOnlyTheFirstFrameIsDrawn)
{
    // Frame 1: left half red, right half transparent; frame 2 paints everything green.
    fixtures::GifFrame first { 8, 4, {}, 2 };
    fixtures::GifFrame second { 8, 4, std::vector<std::uint8_t>(32, 1), -1 };
    for (int i = 0; i < 32; ++i)
        first.indices.push_back(i % 8 < 4 ? 0 : 2);
    const QString path = Write("anim.gif",
        fixtures::EncodeGif(
            { qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 0) }, { first, second }));
    const QImage picture = Load(path, kSlate);
    ASSERT_EQ(picture.size(), QSize(8, 4));
    ExpectOpaqueRgb32(picture);
    EXPECT_EQ(picture.pixel(1, 1), qRgb(255, 0, 0));
    EXPECT_EQ(picture.pixel(6, 2), kSlateRgb);
}

TEST_F(LoaderTest, IcoAlphaIsComposedOverTheBackground)
{
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(qRgba(255, 0, 0, 128));
    for (int x = 0; x < 16; ++x) {
        icon.setPixel(x, 0, qRgba(0, 0, 0, 0));
        icon.setPixel(x, 15, qRgba(10, 20, 30, 255));
    }
    const QImage picture = Load(Write("icon.ico", fixtures::EncodeWithQt(icon, "ico")));
    ExpectOpaqueRgb32(picture);
    EXPECT_TRUE(Near(picture.pixel(5, 0), qRgb(255, 255, 255), 0));
    EXPECT_TRUE(Near(picture.pixel(5, 7), qRgb(255, 127, 127), 1));
    EXPECT_TRUE(Near(picture.pixel(5, 15), qRgb(10, 20, 30), 0));
}

// ---- sizes ----

class SizeTest : public LoaderTest
{
protected:
    // 300 x 200: left half red, right half blue.
    QString HalvesPng()
    {
        return Write("halves.png",
            fixtures::EncodePng(
                fixtures::Bands(300, 200, 150, { qRgb(255, 0, 0), qRgb(0, 0, 255) }),
                PngVariant::Rgb8));
    }
};

TEST_F(SizeTest, MinusOneInEitherSizeGivesTheOwnSizeWrittenBackToBoth)
{
    const QString path = HalvesPng();
    const QSize asked[] = { { -1, -1 }, { -1, 50 }, { 50, -1 }, { -1, 200000 } };
    for (const auto &ask : asked) {
        SCOPED_TRACE(testing::Message() << ask.width() << " x " << ask.height());
        std::int32_t width = ask.width(), height = ask.height();
        const QImage picture = LoadPictureScaled(path, width, height, kWhite);
        EXPECT_EQ(picture.size(), QSize(300, 200));
        EXPECT_EQ(width, 300);
        EXPECT_EQ(height, 200);
        EXPECT_EQ(picture.pixel(0, 0), qRgb(255, 0, 0));
        EXPECT_EQ(picture.pixel(299, 199), qRgb(0, 0, 255));
    }
}

TEST_F(SizeTest, ExplicitSizesStretchTheImageAndLeaveTheVariables)
{
    const QString path = HalvesPng();
    const QSize asked[] = { { 30, 20 }, { 600, 400 }, { 45, 7 }, { 300, 200 }, { 8, 3 } };
    for (const auto &ask : asked) {
        SCOPED_TRACE(testing::Message() << ask.width() << " x " << ask.height());
        std::int32_t width = ask.width(), height = ask.height();
        const QImage picture = LoadPictureScaled(path, width, height, kWhite);
        ASSERT_EQ(picture.size(), ask);
        EXPECT_EQ(width, ask.width());
        EXPECT_EQ(height, ask.height());
        ExpectOpaqueRgb32(picture);
        EXPECT_TRUE(Near(picture.pixel(0, ask.height() / 2), qRgb(255, 0, 0), 2));
        EXPECT_TRUE(Near(picture.pixel(ask.width() - 1, ask.height() / 2), qRgb(0, 0, 255), 2));
    }
}

TEST_F(SizeTest, OnePixelTargetIsTheMeanColour)
{
    std::int32_t width = 1, height = 1;
    const QImage picture = LoadPictureScaled(HalvesPng(), width, height, kWhite);
    EXPECT_TRUE(Near(picture.pixel(0, 0), qRgb(128, 0, 128), 2));
}

TEST_F(SizeTest, ReducingAFineCheckerboardAveragesInsteadOfAliasing)
{
    const QImage board = Checkerboard(1000, 1000, qRgb(0, 0, 0), qRgb(255, 255, 255));
    const QString path = Write("board.png", fixtures::EncodePng(board, PngVariant::Gray1));
    std::int32_t width = 10, height = 10;
    const QImage picture = LoadPictureScaled(path, width, height, kWhite);
    ASSERT_EQ(picture.size(), QSize(10, 10));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_TRUE(Near(picture.pixel(x, y), qRgb(128, 128, 128), 4))
                << "pixel (" << x << ", " << y << ")";
}

TEST_F(SizeTest, ResamplingTransparentPixelsLeavesNoDarkFringe)
{
    // Transparent black next to opaque white: resampling straight (not premultiplied) colours
    // would pull the black into the edge.
    const QImage source
        = fixtures::Bands(200, 200, 100, { qRgba(0, 0, 0, 0), qRgb(255, 255, 255) });
    const QString path = Write("edge.png", fixtures::EncodePng(source, PngVariant::Rgba8));
    for (const QSize size : { QSize(20, 20), QSize(333, 333) }) {
        SCOPED_TRACE(testing::Message() << size.width() << " x " << size.height());
        std::int32_t width = size.width(), height = size.height();
        const QImage picture = LoadPictureScaled(path, width, height, kWhite);
        for (int x = 0; x < size.width(); ++x)
            ASSERT_TRUE(Near(picture.pixel(x, size.height() / 2), qRgb(255, 255, 255), 0))
                << "column " << x;
    }
}

TEST_F(SizeTest, InvalidExplicitSizesAreALoadError)
{
    const QString path = HalvesPng();
    const QSize asked[]
        = { { 0, 10 }, { 10, 0 }, { -2, 10 }, { 10, -7 }, { 20000, 20000 }, { 1 << 21, 1 } };
    for (const auto &ask : asked) {
        SCOPED_TRACE(testing::Message() << ask.width() << " x " << ask.height());
        ExpectLoadError(path, ask.width(), ask.height());
    }
}

// ---- alpha over the background ----

TEST_F(LoaderTest, FullyTransparentPngIsOneUniformBackgroundColour)
{
    QImage clear(40, 30, QImage::Format_ARGB32);
    clear.fill(qRgba(200, 10, 10, 0));
    const QString path = Write("clear.png", fixtures::EncodePng(clear, PngVariant::Rgba8));
    for (const QSize size : { QSize(-1, -1), QSize(7, 5), QSize(120, 90) }) {
        SCOPED_TRACE(testing::Message() << size.width() << " x " << size.height());
        std::int32_t width = size.width(), height = size.height();
        const QImage picture = LoadPictureScaled(path, width, height, kSlate);
        ExpectOpaqueRgb32(picture);
        int other = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                other += picture.pixel(x, y) != kSlateRgb;
        EXPECT_EQ(other, 0);
    }
}

TEST_F(LoaderTest, HalfTransparentRedOverWhiteIsLightRedAndOpaquePixelsStay)
{
    QImage pixels(2, 1, QImage::Format_ARGB32);
    pixels.setPixel(0, 0, qRgba(255, 0, 0, 128));
    pixels.setPixel(1, 0, qRgba(10, 20, 30, 255));
    const QImage picture
        = Load(Write("alpha.png", fixtures::EncodePng(pixels, PngVariant::Rgba8)), kWhite);
    EXPECT_TRUE(Near(picture.pixel(0, 0), qRgb(255, 127, 127), 1));
    EXPECT_EQ(picture.pixel(1, 0), qRgb(10, 20, 30));
}

// ---- the load error ----

struct BadInput
{
    const char *name;
    // Makes the bad file in the folder and returns the path to load.
    std::function<QString(const QString &folder)> make;
};

QString WriteIn(const QString &folder, const char *name, const QByteArray &bytes)
{
    const QString path = folder + '/' + QString::fromUtf8(name);
    fixtures::WriteFile(path, bytes);
    return path;
}

QByteArray SomePng()
{
    return fixtures::EncodePng(Gradient(64, 48, false, true), PngVariant::Rgba8);
}
QByteArray SomeJpeg()
{
    return fixtures::EncodeJpeg(Gradient(64, 48, false, false), JpegVariant::Baseline420);
}

// Offset of the first byte after a chunk type in a PNG, e.g. the data of its first IDAT.
qsizetype ChunkData(const QByteArray &png, const char *type) { return png.indexOf(type) + 4; }

// The bytes of a JPEG's frame header (SOF0) holding height and width.
QByteArray JpegClaimingSize(std::uint16_t width, std::uint16_t height)
{
    QByteArray jpeg = SomeJpeg();
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    jpeg[sof + 5] = static_cast<char>(height >> 8);
    jpeg[sof + 6] = static_cast<char>(height & 0xFF);
    jpeg[sof + 7] = static_cast<char>(width >> 8);
    jpeg[sof + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

const BadInput kBadInputs[] = {
    { "EmptyFile", [](const QString &f) { return WriteIn(f, "empty.png", {}); } },
    { "TextNamedPng", [](const QString &f) { return WriteIn(f, "notes.png", "hello\n"); } },
    { "TextNamedJpg", [](const QString &f) { return WriteIn(f, "text.jpg", "hello\n"); } },
    { "BinaryNoise",
        [](const QString &f) { return WriteIn(f, "noise.bmp", QByteArray(4096, '\x5A')); } },
    { "PngSignatureOnly",
        [](const QString &f) { return WriteIn(f, "sig.png", SomePng().left(8)); } },
    { "PngTruncatedInItsImageData",
        [](const QString &f) {
            const QByteArray png = SomePng();
            return WriteIn(f, "half.png", png.left(png.size() / 2));
        } },
    { "InterlacedPngTruncated",
        [](const QString &f) {
            const QByteArray png
                = fixtures::EncodePng(Gradient(64, 48, false, true), PngVariant::InterlacedRgba8);
            return WriteIn(f, "interlaced.png", png.left(png.size() * 3 / 4));
        } },
    { "PalettePngTruncated",
        [](const QString &f) {
            const QByteArray png
                = fixtures::EncodePng(Gradient(13, 11, false, false), PngVariant::Palette8);
            return WriteIn(f, "palette.png", png.left(png.size() - 20));
        } },
    { "PngWithoutItsEnd",
        [](const QString &f) {
            const QByteArray png = SomePng();
            return WriteIn(f, "noend.png", png.left(png.size() - 12));
        } },
    { "PngWithDamagedImageData",
        [](const QString &f) {
            QByteArray png = SomePng();
            png[ChunkData(png, "IDAT") + 20]
                = static_cast<char>(png[ChunkData(png, "IDAT") + 20] ^ 0x55);
            return WriteIn(f, "crc.png", png);
        } },
    { "PngClaiming100000x100000",
        [](const QString &f) {
            return WriteIn(f, "bomb.png", fixtures::PngClaimingSize(100000, 100000));
        } },
    { "PngJustOverTheSizeLimit",
        [](const QString &f) {
            return WriteIn(f, "over.png", fixtures::PngClaimingSize(16385, 16384));
        } },
    { "PngAtTheSizeLimitWithoutItsData",
        [](const QString &f) {
            return WriteIn(f, "limit.png", fixtures::PngClaimingSize(16384, 16384));
        } },
    { "JpegTruncatedInItsScan",
        [](const QString &f) {
            const QByteArray jpeg = SomeJpeg();
            return WriteIn(f, "half.jpg", jpeg.left(jpeg.size() * 2 / 3));
        } },
    { "JpegWithoutItsEnd",
        [](const QString &f) {
            const QByteArray jpeg = SomeJpeg();
            return WriteIn(f, "noend.jpg", jpeg.left(jpeg.size() - 2));
        } },
    { "JpegWithAMarkerInItsScan",
        [](const QString &f) {
            QByteArray jpeg = SomeJpeg();
            const qsizetype scan = jpeg.indexOf(QByteArray("\xFF\xDA", 2));
            jpeg.replace(scan + 40, 2, QByteArray("\xFF\xD9", 2));
            return WriteIn(f, "marker.jpg", jpeg);
        } },
    { "JpegHeaderOnly",
        [](const QString &f) {
            const QByteArray jpeg = SomeJpeg();
            return WriteIn(f, "header.jpg", jpeg.left(jpeg.indexOf(QByteArray("\xFF\xDA", 2))));
        } },
    { "JpegClaiming65000x65000",
        [](const QString &f) { return WriteIn(f, "bomb.jpg", JpegClaimingSize(65000, 65000)); } },
    { "GifClaiming65535x65535",
        [](const QString &f) {
            fixtures::GifFrame frame { 2, 2, { 0, 1, 1, 0 }, -1 };
            QByteArray gif = fixtures::EncodeGif({ qRgb(0, 0, 0), qRgb(255, 255, 255) }, { frame });
            gif.replace(6, 4, QByteArray("\xFF\xFF\xFF\xFF", 4));
            return WriteIn(f, "bomb.gif", gif);
        } },
    { "GifTruncated",
        [](const QString &f) {
            fixtures::GifFrame frame { 64, 64, std::vector<std::uint8_t>(4096), -1 };
            for (std::size_t i = 0; i < frame.indices.size(); ++i)
                frame.indices[i] = static_cast<std::uint8_t>(i * 7 % 5);
            const QByteArray gif = fixtures::EncodeGif(kMuted, { frame });
            return WriteIn(f, "half.gif", gif.left(gif.size() / 2));
        } },
    { "BmpClaimingHugeSize",
        [](const QString &f) {
            QByteArray bmp = fixtures::EncodeWithQt(Gradient(8, 8, false, false), "bmp");
            bmp.replace(18, 8, QByteArray("\x00\x00\x01\x00\x00\x00\x01\x00", 8));
            return WriteIn(f, "bomb.bmp", bmp);
        } },
    { "BmpWhoseRowSizeOverflows",
        [](const QString &f) {
            QByteArray bmp = fixtures::EncodeWithQt(Gradient(8, 8, false, false), "bmp");
            bmp.replace(18, 8, QByteArray("\xFF\xFF\xFF\x7F\x00\x00\x00\x80", 8));
            bmp[28] = 32;
            return WriteIn(f, "overflow.bmp", bmp);
        } },
    { "BmpTruncated",
        [](const QString &f) {
            const QByteArray bmp = fixtures::EncodeWithQt(Gradient(64, 64, false, false), "bmp");
            return WriteIn(f, "half.bmp", bmp.left(bmp.size() / 2));
        } },
    { "IcoTruncated",
        [](const QString &f) {
            const QByteArray ico = fixtures::EncodeWithQt(Gradient(32, 32, false, true), "ico");
            return WriteIn(f, "half.ico", ico.left(ico.size() / 2));
        } },
    { "Directory",
        [](const QString &f) {
            QDir(f).mkdir("folder.png");
            return f + "/folder.png";
        } },
    { "MissingFile", [](const QString &f) { return f + "/missing.png"; } },
};

class BadInputTest : public LoaderTest, public testing::WithParamInterface<BadInput>
{
};

TEST_P(BadInputTest, IsTheLoadErrorAtOwnAndExplicitSize)
{
    for (const std::int32_t size : { -1, 32 }) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        ExpectLoadError(GetParam().make(dir.path()), size, size);
    }
}

INSTANTIATE_TEST_SUITE_P(Loader, BadInputTest, testing::ValuesIn(kBadInputs), kCaseName);

TEST_F(LoaderTest, LoadingWithoutAnOpenTokenIsTheLoadError)
{
    const QString path = Write("fine.png", SomePng());
    GdiPlusClose(token);
    ExpectLoadError(path);
    token = GdiPlusOpen();
    EXPECT_NO_THROW((void)Load(path));
}

// ---- files and paths ----

// How many of this process's file descriptors are open on path.
int OpenHandlesOn(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    int count = 0;
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::AllEntries | QDir::System))
        count += fd.symLinkTarget() == target;
    return count;
}

TEST_F(LoaderTest, TheFileIsClosedRightAfterALoadOrAFailedOne)
{
    // A handle left open would keep the file's space in use after the user deletes it.
    const QByteArray png = SomePng();
    const QString good = Write("good.png", png), cut = Write("cut.png", png.left(png.size() / 2));
    ASSERT_EQ(OpenHandlesOn(good), 0);
    (void)Load(good);
    EXPECT_EQ(OpenHandlesOn(good), 0);
    ExpectLoadError(cut);
    EXPECT_EQ(OpenHandlesOn(cut), 0);
}

TEST_F(LoaderTest, UnicodePathInAFolderWithSpaces)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("a folder with spaces"));
    const QString path = Write(QStringLiteral("a folder with spaces/彩色图片.png"),
        fixtures::EncodePng(fixtures::Bands(4, 2, 2, kBandColours), PngVariant::Rgb8));
    const QImage picture = Load(path);
    EXPECT_EQ(picture.pixel(0, 0), kBandColours[0]);
    EXPECT_EQ(picture.pixel(3, 1), kBandColours[1]);
}

// ---- big pictures and the library start-up ----

TEST_F(LoaderTest, PicturesAboveQtsDefaultLimitLoadAndTheLimitIsRestoredAfterwards)
{
    // 6000 x 6000 is 137 MB decoded: above the 128 MiB that Qt's readers allow by default.
    fixtures::GifFrame frame { 6000, 6000, std::vector<std::uint8_t>(36'000'000, 1), -1 };
    for (int x = 0; x < 6000; ++x)
        frame.indices[static_cast<std::size_t>(x)] = 0;
    const QString path
        = Write("big.gif", fixtures::EncodeGif({ qRgb(255, 0, 0), qRgb(0, 0, 255) }, { frame }));
    frame.indices = {};
    GdiPlusClose(token);
    const int limitBefore = QImageReader::allocationLimit();
    token = GdiPlusOpen();
    {
        const QImage picture = Load(path);
        ASSERT_EQ(picture.size(), QSize(6000, 6000));
        EXPECT_EQ(picture.pixel(5999, 0), qRgb(255, 0, 0));
        EXPECT_EQ(picture.pixel(0, 5999), qRgb(0, 0, 255));
    }
    GdiPlusClose(token);
    EXPECT_EQ(QImageReader::allocationLimit(), limitBefore);
    token = GdiPlusOpen();
}

TEST_F(LoaderTest, BigJpegPngAndBmpDecodeIntoTheirRasterAndCutShortOnesFailCleanly)
{
    // 4096 x 2048 fills 32 MiB, where rasters get huge pages and a thread that faults them in
    // while the decoder writes; a failed decode must stop that thread and free the raster. A
    // bottom-up BMP writes from the last row while that thread starts at the first.
    const QImage bands = fixtures::Bands(4096, 2048, 1024, kBandColours);
    const QByteArray encoded[] = { fixtures::EncodeJpeg(bands, JpegVariant::Baseline444),
        fixtures::EncodePng(bands, PngVariant::Rgb8), AsBmp(bands) };
    for (const QByteArray &bytes : encoded) {
        const QString path = Write("big", bytes);
        const QImage picture = Load(path);
        ASSERT_EQ(picture.size(), QSize(4096, 2048));
        for (int band = 0; band < 4; ++band) {
            SCOPED_TRACE(band);
            EXPECT_TRUE(Near(picture.pixel(1024 * band + 512, 1024), kBandColours[band], 2));
            EXPECT_TRUE(Near(picture.pixel(1024 * band + 512, 2047), kBandColours[band], 2));
        }
        ExpectLoadError(Write("big-cut", bytes.left(bytes.size() / 2)));
    }
}

// The message handler in place, left in place.
QtMessageHandler CurrentMessageHandler()
{
    const QtMessageHandler current = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(current);
    return current;
}

TEST(GdiPlusTokens, AreNonZeroDistinctAndNestable)
{
    const QtMessageHandler handlerBefore = CurrentMessageHandler();
    const std::uintptr_t first = GdiPlusOpen();
    const std::uintptr_t second = GdiPlusOpen();
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    const QtMessageHandler duringLoads = CurrentMessageHandler();
    EXPECT_NE(duringLoads, handlerBefore);
    GdiPlusClose(first);
    GdiPlusClose(first); // a repeated close must not end the second token's start-up
    EXPECT_EQ(CurrentMessageHandler(), duringLoads);
    GdiPlusClose(second);
    EXPECT_EQ(CurrentMessageHandler(), handlerBefore);
}

} // namespace
