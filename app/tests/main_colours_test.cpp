// The row of main colours under the results: pictures made of known patches in known shares,
// the band's part, hovering, clicking, and the row stopping with the scan.
#include "analysis/pixel_statistics.h"
#include "app/main_colour_row.h"
#include "app/main_colours_finder.h"
#include "app/pane_selection.h"
#include "app/tests/form1_fixture.h"
#include "imaging/picture_rows.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

struct Patch
{
    QRgb colour;
    int columns; // of a picture 100 columns wide, so each patch's share is columns / 100
};

QImage PatchPicture(const std::vector<Patch> &patches, int height)
{
    QImage image(100, height, QImage::Format_RGB32);
    int x0 = 0;
    for (const Patch &patch : patches) {
        for (int y = 0; y < height; ++y)
            for (int x = x0; x < x0 + patch.columns; ++x)
                image.setPixel(x, y, patch.colour);
        x0 += patch.columns;
    }
    return image;
}

bool WaitForColours(Form1 &window)
{
    return QTest::qWaitFor([&] { return !window.MainColours->Colours().empty(); }, 10000);
}

QString SwatchTip(const Form1 &window, int k)
{
    const auto *swatch
        = window.MainColours->findChild<QLabel *>(QStringLiteral("MainColour%1").arg(k));
    return swatch ? swatch->toolTip() : QStringLiteral("(no swatch)");
}

QString ShareShown(const Form1 &window, int k)
{
    const auto *share
        = window.MainColours->findChild<QLabel *>(QStringLiteral("MainColourShare%1").arg(k));
    return share ? share->text() : QStringLiteral("(no share)");
}

struct PatchCase
{
    const char *what;
    std::vector<Patch> patches; // largest first, as the row lists them
};

void PrintTo(const PatchCase &c, std::ostream *out) { *out << c.what; }

class MainColours : public ::testing::TestWithParam<PatchCase>
{
};

TEST_P(MainColours, ListsThePatchesWithTheirShares)
{
    const PatchCase &c = GetParam();
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    fixture.filesToChoose = { fixture.SaveImage(PatchPicture(c.patches, 40), "patches.png") };
    window.OpenImage();
    ASSERT_TRUE(WaitForColours(window));
    const std::vector<analysis::DominantColour> &found = window.MainColours->Colours();
    ASSERT_EQ(found.size(), c.patches.size());
    for (std::size_t k = 0; k < found.size(); ++k) {
        SCOPED_TRACE(k);
        const Patch &patch = c.patches[k];
        EXPECT_EQ(qRgb(found[k].r, found[k].g, found[k].b), patch.colour);
        EXPECT_NEAR(found[k].share, patch.columns / 100.0, 1e-9);
        EXPECT_EQ(ShareShown(window, static_cast<int>(k)), QString::number(patch.columns) + "%");
        const QString hex = QString::asprintf(
            "#%02X%02X%02X", qRed(patch.colour), qGreen(patch.colour), qBlue(patch.colour));
        EXPECT_TRUE(SwatchTip(window, static_cast<int>(k))
                        .startsWith(hex + "，占像素的 " + QString::number(patch.columns) + ".0%"))
            << SwatchTip(window, static_cast<int>(k)).toStdString();
    }
    for (int k = static_cast<int>(found.size()); k < app::MainColourRow::kSwatches; ++k) {
        EXPECT_TRUE(ShareShown(window, k).isEmpty());
        EXPECT_TRUE(SwatchTip(window, k).isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(KnownPatches, MainColours,
    ::testing::Values(PatchCase { "one colour", { { qRgb(12, 200, 99), 100 } } },
        PatchCase { "three far apart",
            { { qRgb(255, 0, 0), 60 }, { qRgb(0, 0, 255), 30 }, { qRgb(0, 255, 0), 10 } } },
        PatchCase { "five",
            { { qRgb(250, 250, 250), 35 }, { qRgb(10, 10, 10), 25 }, { qRgb(220, 30, 30), 20 },
                { qRgb(30, 160, 40), 15 }, { qRgb(40, 60, 230), 5 } } }));

TEST(MainColourRow, AClickCopiesTheSwatchesHex)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    fixture.filesToChoose = { fixture.SaveImage(
        PatchPicture({ { qRgb(255, 0, 0), 70 }, { qRgb(0, 0, 255), 30 } }, 10), "two.png") };
    window.OpenImage();
    ASSERT_TRUE(WaitForColours(window));
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    auto *second = window.MainColours->findChild<QLabel *>(QStringLiteral("MainColour1"));
    QTest::mouseClick(second, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "#0000FF");
    // An empty swatch copies nothing.
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::mouseClick(
        window.MainColours->findChild<QLabel *>(QStringLiteral("MainColour4")), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before");
}

// The band's part has main colours of its own; going back gives the whole picture's again.
TEST(MainColourRow, FollowsTheChosenPart)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    fixture.filesToChoose = { fixture.SaveImage(
        PatchPicture({ { qRgb(255, 0, 0), 60 }, { qRgb(0, 0, 255), 40 } }, 50), "two.png") };
    window.OpenImage();
    ASSERT_TRUE(WaitForColours(window));
    ASSERT_EQ(window.MainColours->Colours().size(), 2u);

    // Within the blue columns 60..99 at any pixel ratio.
    const double ratio = window.Pane().devicePixelRatioF();
    const QPoint from(static_cast<int>(70 / ratio), 2), to(static_cast<int>(95 / ratio), 20);
    QTest::mousePress(window.PicBox, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(window.PicBox, to);
    QTest::mouseRelease(window.PicBox, Qt::LeftButton, Qt::NoModifier, to);
    ASSERT_FALSE(window.Selection().Part().isEmpty());
    ASSERT_TRUE(WaitForColours(window));
    ASSERT_EQ(window.MainColours->Colours().size(), 1u);
    EXPECT_EQ(window.MainColours->Colours()[0].b, 255);
    EXPECT_EQ(ShareShown(window, 0), "100%");

    QTest::mouseClick(window.PicBox, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    ASSERT_TRUE(WaitForColours(window));
    EXPECT_EQ(window.MainColours->Colours().size(), 2u);
}

// The stop gesture right after the mean: the search ends and its colours never show.
TEST(MainColourRow, StopsWithTheScan)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    QImage big(2000, 1500, QImage::Format_RGB32);
    for (int y = 0; y < big.height(); ++y)
        for (int x = 0; x < big.width(); ++x)
            big.setPixel(x, y, qRgb(x % 256, y % 256, (x * y) % 256));
    window.Pane().SetPaneVisible(true);
    window.Pane().SetPicture(big);
    window.Pane().SetSize(big.width(), big.height());
    window.CalcColor();
    // The search starts after the scan's last yield: nothing has run it to its end yet.
    ASSERT_TRUE(window.MainColoursSearch().IsRunning());
    window.StopCalculation();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return window.MainColoursSearch().WorkersRunning() == 0; }, 10000));
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.MainColours->Colours().empty());
    EXPECT_FALSE(window.MainColoursSearch().IsRunning());
}

// One path: the window's row lists what quillmere-avg's row path finds in the same file, to the
// last digit, also where transparent pixels are composed over white.
TEST(MainColourRow, AgreesWithTheCommandLinesRowPath)
{
    QImage photo(301, 203, QImage::Format_ARGB32);
    std::uint32_t state = 88172645u;
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = static_cast<int>(state % 41u) - 20;
            photo.setPixel(x, y,
                qRgba(std::clamp(x * 255 / 300 + noise, 0, 255), std::clamp(y + noise, 0, 255),
                    std::clamp(200 - x / 2 + noise, 0, 255), x < 40 ? 90 : 255));
        }
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    const QString path = fixture.SaveImage(photo, "photo.png");
    fixture.filesToChoose = { path };
    window.OpenImage();
    ASSERT_TRUE(WaitForColours(window));

    analysis::StatisticsSink sink(false, true);
    ASSERT_EQ(modGDIPlusResize::DrawPictureRows(
                  modGDIPlusResize::NativePath { path.toStdString() }, sink, 0x00FFFFFF),
        imaging::LoadFailure::None);
    const std::vector<analysis::DominantColour> expected
        = analysis::DominantColours(*sink.Colours(), app::MainColourRow::kSwatches);
    const std::vector<analysis::DominantColour> &shown = window.MainColours->Colours();
    ASSERT_EQ(shown.size(), expected.size());
    for (std::size_t k = 0; k < shown.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(qRgb(shown[k].r, shown[k].g, shown[k].b),
            qRgb(expected[k].r, expected[k].g, expected[k].b));
        EXPECT_EQ(shown[k].share, expected[k].share);
    }
}

TEST(MainColourRow, ShareTexts)
{
    struct Case
    {
        double share;
        const char *text;
    };
    const Case cases[] = { { 1.0, "100%" }, { 0.384, "38%" }, { 0.386, "39%" }, { 0.0051, "1%" },
        { 0.0049, "<1%" } };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(app::MainColourRow::ShareText(c.share), c.text);
    }
}

} // namespace
