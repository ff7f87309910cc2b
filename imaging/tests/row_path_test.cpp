// The row path against the window's path: the same file through DrawPictureRows and through
// LoadPictureScaled must give the same pixels and the same figures, on every variant the loader
// knows, whichever sink takes the rows.
#include "imaging/mod_gdi_plus_resize.h"

#include "analysis/pixel_statistics.h"
#include "analysis/raster.h"
#include "analysis/row_sums.h"
#include "imaging/colour_text.h"
#include "imaging/raster_memory.h"
#include "imaging/tests/fixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using analysis::ColourValue;
using fixtures::JpegVariant;
using fixtures::PngVariant;

// The window's picture as the image pane hands it to the scan: each Format_RGB32 pixel read as
// 0x00BBGGRR (platform::PicBox::ReadPixelInside).
analysis::Raster AsScanned(const QImage &picture)
{
    analysis::Raster raster(picture.width(), picture.height());
    for (int y = 0; y < picture.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = row[x];
            raster.SetPixel(x, y, ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16));
        }
    }
    return raster;
}

// Keeps what the window's scan shows.
struct ShownText
{
    std::string info;
    std::string hex;
    void ScanStarted() { }
    void ScanProgress(std::int32_t, std::int32_t) { }
    void ScanFinished(const analysis::ColourSummary &summary)
    {
        info = imaging::InfoText(summary);
        hex = imaging::HexText(summary);
    }
};

// Rebuilds the picture from the rows it is handed, in space of its own (so a decoder that
// writes past the rows it asked for, or reports rows it never wrote, shows up), and checks that
// every row arrives once, top to bottom.
class RecordingSink final : public analysis::RowSink
{
public:
    bool Start(std::int32_t width, std::int32_t height) override
    {
        ++starts;
        picture = QImage(width, height, QImage::Format_RGB32);
        picture.fill(0x00123456); // an alpha of 0: a row never written is caught as such
        return true;
    }

    std::uint32_t *RowSpace(std::int32_t y, std::int32_t count, std::ptrdiff_t &stride) override
    {
        EXPECT_EQ(y, nextRow) << "rows must come top to bottom";
        space.assign(static_cast<std::size_t>(count) * picture.width(), 0x00ABCDEFu);
        spaceFirst = y;
        stride = picture.width();
        return space.data();
    }

    void RowsDone(std::int32_t y, std::int32_t count) override
    {
        EXPECT_EQ(y, spaceFirst);
        EXPECT_EQ(y, nextRow);
        for (std::int32_t i = 0; i < count; ++i)
            std::copy_n(space.data() + static_cast<std::size_t>(i) * picture.width(),
                picture.width(), reinterpret_cast<std::uint32_t *>(picture.scanLine(y + i)));
        nextRow = y + count;
    }

    QImage picture;
    int starts = 0;
    std::int32_t nextRow = 0;

private:
    std::vector<std::uint32_t> space;
    std::int32_t spaceFirst = -1;
};

// A picture with many distinct colours and, if asked, alpha 0, 255 and values between.
QImage Gradient(int width, int height, bool alpha)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int a = !alpha ? 255 : (x == 0 ? 0 : (y == 0 ? 255 : (x * 53 + y * 29) % 256));
            image.setPixel(x, y,
                qRgba(x * 255 / (width - 1), y * 255 / (height - 1), (x * 31 + y * 17) % 256, a));
        }
    }
    return image;
}

QByteArray Gif(bool interlaced, bool transparent, bool offset)
{
    const std::vector<QRgb> palette = { qRgb(255, 0, 0), qRgb(0, 200, 0), qRgb(10, 20, 250) };
    fixtures::GifFrame frame { 21, 19, {}, transparent ? 2 : -1 };
    for (int i = 0; i < 21 * 19; ++i)
        frame.indices.push_back(static_cast<std::uint8_t>((i * 7 + i / 21) % 3));
    frame.interlaced = interlaced;
    if (offset) {
        // Partly off a 24 x 16 screen, with a palette of its own.
        frame.left = 9;
        frame.top = 3;
        frame.localPalette = { qRgb(1, 2, 3), qRgb(90, 80, 70), qRgb(200, 100, 0) };
        return fixtures::EncodeGif(palette, { frame }, QSize(24, 16));
    }
    return fixtures::EncodeGif(palette, { frame });
}

struct FixtureCase
{
    const char *name;
    std::function<QByteArray()> encode;
};

// Four levels a channel, alpha included (0 and 255 among them): at most 256 colours, as a
// palette holds.
QImage FewColours(QImage image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const auto level = [](int v) { return v / 64 * 85; };
            image.setPixel(
                x, y, qRgba(level(qRed(p)), level(qGreen(p)), level(qBlue(p)), level(qAlpha(p))));
        }
    }
    return image;
}

const QImage kOpaque = Gradient(37, 29, false);
const QImage kTranslucent = Gradient(37, 29, true);

// Every format and variant the loader's own tests use, at an odd size so that no row or block
// boundary lines up by chance; JPEG heights above 16 rows make the decoder hand over more than
// one group of rows.
const FixtureCase kFixtures[] = {
    { "PngRgb8", [] { return fixtures::EncodePng(kOpaque, PngVariant::Rgb8); } },
    { "PngRgba8", [] { return fixtures::EncodePng(kTranslucent, PngVariant::Rgba8); } },
    { "PngGray8", [] { return fixtures::EncodePng(kOpaque, PngVariant::Gray8); } },
    { "PngGrayAlpha8", [] { return fixtures::EncodePng(kTranslucent, PngVariant::GrayAlpha8); } },
    { "PngGray1", [] { return fixtures::EncodePng(kOpaque, PngVariant::Gray1); } },
    { "PngPalette8",
        [] { return fixtures::EncodePng(FewColours(kOpaque), PngVariant::Palette8); } },
    { "PngPaletteTransparent8",
        [] {
            return fixtures::EncodePng(FewColours(kTranslucent), PngVariant::PaletteTransparent8);
        } },
    { "PngRgb16", [] { return fixtures::EncodePng(kOpaque, PngVariant::Rgb16); } },
    { "PngRgba16", [] { return fixtures::EncodePng(kTranslucent, PngVariant::Rgba16); } },
    { "PngGray16", [] { return fixtures::EncodePng(kOpaque, PngVariant::Gray16); } },
    { "PngInterlacedRgb8",
        [] { return fixtures::EncodePng(kOpaque, PngVariant::InterlacedRgb8); } },
    { "PngInterlacedRgba8",
        [] { return fixtures::EncodePng(kTranslucent, PngVariant::InterlacedRgba8); } },
    { "JpegBaseline420", [] { return fixtures::EncodeJpeg(kOpaque, JpegVariant::Baseline420); } },
    { "JpegBaseline444", [] { return fixtures::EncodeJpeg(kOpaque, JpegVariant::Baseline444); } },
    { "JpegGrayscale", [] { return fixtures::EncodeJpeg(kOpaque, JpegVariant::Grayscale); } },
    { "JpegProgressive", [] { return fixtures::EncodeJpeg(kOpaque, JpegVariant::Progressive); } },
    { "JpegManyScans",
        [] { return fixtures::EncodeJpeg(kOpaque, JpegVariant::Grayscale, 95, 40); } },
    { "JpegAdobeCmyk", [] { return fixtures::EncodeJpeg(kOpaque, JpegVariant::AdobeCmyk); } },
    { "Gif", [] { return Gif(false, false, false); } },
    { "GifTransparent", [] { return Gif(false, true, false); } },
    { "GifInterlaced", [] { return Gif(true, true, false); } },
    { "GifOffsetFrameLocalPalette", [] { return Gif(false, false, true); } },
    { "Bmp",
        [] {
            return fixtures::EncodeWithQt(kOpaque.convertToFormat(QImage::Format_RGB32), "bmp");
        } },
    { "IcoWithAlpha", [] { return fixtures::EncodeWithQt(kTranslucent, "ico"); } },
};

void PrintTo(const FixtureCase &c, std::ostream *os) { *os << c.name; }

template <class Case> class LoaderTable : public testing::TestWithParam<Case>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        token = modGDIPlusResize::GdiPlusOpen();
    }
    void TearDown() override { modGDIPlusResize::GdiPlusClose(token); }

    QTemporaryDir dir;
    std::uintptr_t token = 0;
};

using RowPathTest = LoaderTable<FixtureCase>;

TEST_P(RowPathTest, GivesTheWindowsPixelsAndTheWindowsAnswer)
{
    const QString path = dir.filePath(QString::fromUtf8(GetParam().name));
    fixtures::WriteFile(path, GetParam().encode());
    const modGDIPlusResize::NativePath native { QFile::encodeName(path).toStdString() };
    // White, and a background whose channels differ, so that a swapped channel shows.
    for (const ColourValue background : { ColourValue { 0xFFFFFF }, ColourValue { 0x996633 } }) {
        SCOPED_TRACE(background);
        std::int32_t width = -1, height = -1;
        const QImage window = modGDIPlusResize::LoadPictureScaled(path, width, height, background);
        analysis::ColourScanner scanner;
        ShownText shown;
        scanner.CalcColor(
            AsScanned(window), [] {}, shown);

        // The rows the window's load hands on as it decodes are the rows it keeps, each once.
        RecordingSink watched;
        std::int32_t watchedWidth = -1, watchedHeight = -1;
        const QImage kept = modGDIPlusResize::LoadPictureScaled(
            path, watchedWidth, watchedHeight, background, nullptr, &watched);
        EXPECT_EQ(watched.starts, 1);
        EXPECT_EQ(watched.nextRow, height) << "every row handed on";
        EXPECT_TRUE(watched.picture == window) << "the rows handed on differ from the raster";
        EXPECT_TRUE(kept == window);
        // Their sums, which the window's scan adds up in place of the pixels.
        analysis::RowSums rowSums;
        std::int32_t summedWidth = -1, summedHeight = -1;
        static_cast<void>(modGDIPlusResize::LoadPictureScaled(
            path, summedWidth, summedHeight, background, nullptr, &rowSums));
        ASSERT_TRUE(rowSums.Complete());
        analysis::ScanTotals rowTotals;
        for (std::int32_t y = 0; y < rowSums.Height(); ++y)
            ASSERT_TRUE(rowSums.AddRow(y, rowTotals));
        EXPECT_EQ(imaging::HexText(analysis::Summarise(rowTotals)), shown.hex);
        EXPECT_EQ(imaging::InfoText(analysis::Summarise(rowTotals)), shown.info);

        RecordingSink rows;
        ASSERT_EQ(modGDIPlusResize::DrawPictureRows(native, rows, background),
            imaging::LoadFailure::None);
        EXPECT_EQ(rows.starts, 1);
        EXPECT_EQ(rows.nextRow, height) << "every row delivered";
        EXPECT_TRUE(rows.picture == window) << "the rows differ from the window's raster";

        // Both of quillmere-avg's sinks: the JSON one and the text line's means-only one.
        for (const bool meansOnly : { false, true }) {
            SCOPED_TRACE(meansOnly ? "means only" : "all figures");
            analysis::StatisticsSink sums(meansOnly);
            ASSERT_EQ(modGDIPlusResize::DrawPictureRows(native, sums, background),
                imaging::LoadFailure::None);
            const analysis::PictureStatistics statistics = sums.Statistics();
            EXPECT_EQ(statistics.width, width);
            EXPECT_EQ(statistics.height, height);
            EXPECT_EQ(statistics.totals.count, static_cast<std::uint64_t>(width) * height);
            const analysis::ColourSummary summary = analysis::Summarise(statistics.totals);
            EXPECT_EQ(imaging::HexText(summary), shown.hex);
            EXPECT_EQ(imaging::InfoText(summary), shown.info);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, RowPathTest, testing::ValuesIn(kFixtures),
    [](const auto &info) { return std::string(info.param.name); });

// ---- what the row path refuses, and how much work it does before it does ----

struct RefusalCase
{
    const char *name;
    std::function<QByteArray()> encode;
    // Rows a decoder may hand over before it notices; a cut-short file with a huge header must
    // not be decoded to its declared end.
    int maxRows;
};

QByteArray Cut(QByteArray bytes, double keep)
{
    bytes.truncate(static_cast<qsizetype>(bytes.size() * keep));
    return bytes;
}

// A baseline JPEG whose frame header claims 60000 x 60000 pixels and whose data is one block.
QByteArray JpegClaimingHugeSize()
{
    QImage one(16, 16, QImage::Format_RGB32);
    one.fill(qRgb(10, 20, 30));
    QByteArray jpeg = fixtures::EncodeJpeg(one, JpegVariant::Baseline444);
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    jpeg.replace(sof + 5, 4, QByteArray("\xEA\x60\xEA\x60", 4));
    return jpeg;
}

const RefusalCase kRefusals[] = {
    { "PngCutShort", [] { return Cut(fixtures::EncodePng(kOpaque, PngVariant::Rgb8), 0.6); }, 29 },
    { "InterlacedPngCutShort",
        [] { return Cut(fixtures::EncodePng(kOpaque, PngVariant::InterlacedRgb8), 0.6); }, 0 },
    { "JpegCutShort",
        [] { return Cut(fixtures::EncodeJpeg(kOpaque, JpegVariant::Baseline444), 0.6); }, 29 },
    { "JpegHeaderClaimingSixtyThousandSquare", JpegClaimingHugeSize, 64 },
    // Past the window's limit an interlaced file would have to be held whole.
    { "InterlacedPngPastTheWindowsLimit",
        [] {
            QByteArray png = fixtures::PngClaimingSize(20000, 20000);
            png[28] = 1; // the IHDR's interlace method
            return png;
        },
        0 },
    { "PngWiderThanTheRowPathsLimit",
        [] { return fixtures::PngClaimingSize(imaging::kMaxRasterSide + 1, 1); }, 0 },
    { "GifCutShort", [] { return Cut(Gif(false, false, false), 0.5); }, 0 },
};

void PrintTo(const RefusalCase &c, std::ostream *os) { *os << c.name; }

using RowPathRefusalTest = LoaderTable<RefusalCase>;

// Counts rows and keeps a few rows' space; the figures of a refused picture are never used.
class CountingSink final : public analysis::RowSink
{
public:
    bool Start(std::int32_t w, std::int32_t) override
    {
        width = w;
        return true;
    }
    std::uint32_t *RowSpace(std::int32_t, std::int32_t count, std::ptrdiff_t &stride) override
    {
        space.resize(static_cast<std::size_t>(count) * width);
        stride = width;
        return space.data();
    }
    void RowsDone(std::int32_t, std::int32_t count) override { rows += count; }

    std::int64_t rows = 0;

private:
    std::int32_t width = 0;
    std::vector<std::uint32_t> space;
};

TEST_P(RowPathRefusalTest, FailsAfterFewRows)
{
    const QString path = this->dir.filePath(QString::fromUtf8(GetParam().name));
    fixtures::WriteFile(path, GetParam().encode());
    CountingSink sink;
    EXPECT_NE(
        modGDIPlusResize::DrawPictureRows(
            modGDIPlusResize::NativePath { QFile::encodeName(path).toStdString() }, sink, 0xFFFFFF),
        imaging::LoadFailure::None);
    EXPECT_LE(sink.rows, GetParam().maxRows);
}

INSTANTIATE_TEST_SUITE_P(Loader, RowPathRefusalTest, testing::ValuesIn(kRefusals),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
