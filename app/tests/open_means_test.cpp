// The window's mean of an opened picture is quillmere-avg's: the rows are summed once, as they
// are decoded, and the scan adds those sums up while the pane's raster is that picture.
#include "analysis/pixel_statistics.h"
#include "app/main_colours_finder.h"
#include "app/picture_load.h"
#include "app/scan_texts.h"
#include "app/tests/form1_fixture.h"
#include "imaging/picture_rows.h"
#include "imaging/tests/fixtures.h"
#include "imaging/tests/tagged_fixtures.h"

#include <QBuffer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>

namespace {

// Smooth gradients with noise and, if asked, alpha from 0 to 255, so that every channel's sum
// and the composition over white matter.
QImage Photo(int width, int height, bool alpha)
{
    QImage image(width, height, QImage::Format_ARGB32);
    std::uint32_t state = 2463534242u;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = static_cast<int>(state % 31u) - 15;
            image.setPixel(x, y,
                qRgba(std::clamp(x * 255 / width + noise, 0, 255),
                    std::clamp(y * 255 / height - noise, 0, 255), (x * 3 + y * 5) % 256,
                    alpha ? (x + 2 * y) % 256 : 255));
        }
    return image;
}

// A Display P3 picture: its pixels are converted to sRGB before they are summed.
QByteArray TaggedPng(const QImage &photo)
{
    return fixtures::PngWithChunks(fixtures::EncodePng(photo, fixtures::PngVariant::Rgb8),
        fixtures::IccpChunk(fixtures::DisplayP3Profile()));
}

struct MeanCase
{
    const char *name;
    std::function<QByteArray()> file;
};

// 1,000 x 1,000 and more: pictures that show progress and can be stopped. The decoders that
// stream their rows (JPEG, PNG, interlaced PNG at the end) and one that draws its raster whole.
const MeanCase kMeans[] = {
    { "Jpeg",
        [] {
            return fixtures::EncodeJpeg(
                Photo(1201, 1003, false), fixtures::JpegVariant::Baseline420);
        } },
    { "PngWithAlpha",
        [] { return fixtures::EncodePng(Photo(1001, 1000, true), fixtures::PngVariant::Rgba8); } },
    { "DisplayP3Png", [] { return TaggedPng(Photo(1000, 1001, false)); } },
    // Big enough to be converted on a thread beside the decoder.
    { "DisplayP3Jpeg",
        [] {
            return fixtures::JpegWithProfile(
                Photo(1201, 1003, false), fixtures::DisplayP3Profile());
        } },
    { "InterlacedPngWithAlpha",
        [] {
            return fixtures::EncodePng(
                Photo(1000, 1000, true), fixtures::PngVariant::InterlacedRgba8);
        } },
    { "Bmp",
        [] {
            QByteArray bmp;
            QBuffer buffer(&bmp);
            buffer.open(QIODevice::WriteOnly);
            Photo(1003, 1000, false).convertToFormat(QImage::Format_RGB32).save(&buffer, "BMP");
            return bmp;
        } },
};

void PrintTo(const MeanCase &c, std::ostream *os) { *os << c.name; }

class OpenMeans : public testing::TestWithParam<MeanCase>
{
protected:
    void SetUp() override
    {
        path = folder.filePath(QString::fromUtf8(GetParam().name));
        fixtures::WriteFile(path, GetParam().file());
    }

    // quillmere-avg's sums of the file, composed over white as the window composes it.
    [[nodiscard]] analysis::ScanTotals AvgTotals() const
    {
        analysis::StatisticsSink sink(true);
        EXPECT_EQ(modGDIPlusResize::DrawPictureRows(
                      modGDIPlusResize::NativePath { QFile::encodeName(path).toStdString() }, sink,
                      0x00FFFFFF),
            imaging::LoadFailure::None);
        return sink.Statistics().totals;
    }

    QTemporaryDir folder;
    QString path;
};

TEST_P(OpenMeans, TheWindowShowsQuillmereAvgsMean)
{
    // The window's load sums the rows on the way, so the scan below adds up those sums.
    platform::PictureInput input;
    input.path = path;
    const app::LoadedPicture loaded = app::LoadPicture(input, 0x00FFFFFF);
    ASSERT_NE(loaded.rows, nullptr) << loaded.failure.toStdString();
    EXPECT_EQ(loaded.rows->Height(), loaded.height);

    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    window.OpenPath(path);
    ASSERT_TRUE(fixture.errors.empty()) << fixture.errors.front().toStdString();
    const analysis::ColourSummary avg = analysis::Summarise(AvgTotals());
    EXPECT_EQ(fixture.HexText(), app::HexText(avg));
    EXPECT_EQ(fixture.InfoText(), app::InfoText(avg));
    EXPECT_EQ(fixture.ShownSwatch(), avg.swatch);

    // The same after the band went back to the whole picture.
    window.CalcColor();
    EXPECT_EQ(fixture.HexText(), app::HexText(avg));
    EXPECT_EQ(fixture.InfoText(), app::InfoText(avg));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OpenMeans, testing::ValuesIn(kMeans),
    [](const auto &info) { return std::string(info.param.name); });

// The sums stand for the picture only while the pane's raster is untouched: drawn over, it is
// read again.
TEST(OpenMeansAfterDrawing, ARasterDrawnOverIsReadAgain)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    const QString path = fixture.SaveImage(
        TwoColourPicture(1000, 1000, qRgb(200, 40, 10), qRgb(100, 140, 250)), "halves.png");
    window.OpenPath(path);
    ASSERT_EQ(fixture.HexText(), "#965A82");

    QImage black(500, 1000, QImage::Format_RGB32);
    black.fill(qRgb(0, 0, 0));
    window.Pane().BlockCopy(black, black.rect(), QPoint(0, 0));
    window.CalcColor();
    // The right half's (100, 140, 250) over 1000 columns.
    EXPECT_EQ(fixture.HexText(), "#32467D");
}

// The stop gesture at the scan's first yield after a load: the summed rows stop where the read
// rows stopped, after row 0, and the main colours are not looked for.
TEST(OpenMeansStop, AStopAtTheFirstYieldShowsTheFirstRowsMeans)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    const QString path = fixture.SaveImage(
        FirstRowApart(1000, 1000, qRgb(10, 20, 30), qRgb(255, 255, 255)), "first-row.png");
    QString progressSeen;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        if (!window.Scanner().IsCalculating() || !progressSeen.isEmpty())
            return;
        progressSeen = fixture.InfoText();
        QTest::mouseDClick(window.LbInfo, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    });
    turns.start(0);
    window.OpenPath(path);
    turns.stop();

    EXPECT_EQ(progressSeen, "请稍候...0%\n双击这里停止");
    EXPECT_EQ(fixture.HexText(), "#0A141E");
    EXPECT_FALSE(window.Scanner().IsCalculating());
    EXPECT_FALSE(window.MainColoursSearch().IsRunning());
}

} // namespace
