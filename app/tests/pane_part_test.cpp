// The band over the image pane: the part of the picture it chooses, going back to the whole
// picture, and pictures larger than their frame.
#include "app/pane_selection.h"
#include "app/tests/form1_fixture.h"
#include "capture/readout_panel.h"

#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Every pixel differs: red counts columns, green rows, blue their sum, each wrapping.
QImage NumberedPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, (x + y) % 256));
    return image;
}

// "#RRGGBB" of the truncated channel means of `block` of `picture`, summed here pixel by pixel.
QString MeanHex(const QImage &picture, const QRect &block)
{
    std::uint64_t r = 0, g = 0, b = 0, n = 0;
    for (int y = block.top(); y <= block.bottom(); ++y)
        for (int x = block.left(); x <= block.right(); ++x) {
            const QRgb p = picture.pixel(x, y);
            r += qRed(p);
            g += qGreen(p);
            b += qBlue(p);
            ++n;
        }
    return QString::asprintf("#%02X%02X%02X", static_cast<unsigned>(r / n),
        static_cast<unsigned>(g / n), static_cast<unsigned>(b / n));
}

// The raster block under a band from `from` to `to` (pane pixels, `to` held to the pane),
// halves rounded to even.
QRect ExpectedBlock(Form1 &window, QPoint from, QPoint to)
{
    const double ratio = window.Pane().devicePixelRatioF();
    to = QPoint(
        std::min(to.x(), window.PicBox->width()), std::min(to.y(), window.PicBox->height()));
    const auto px = [ratio](int v) { return static_cast<int>(std::nearbyint(v * ratio)); };
    return QRect(px(std::min(from.x(), to.x())), px(std::min(from.y(), to.y())),
        px(std::abs(from.x() - to.x())), px(std::abs(from.y() - to.y())))
        .intersected(window.Pane().Raster().rect());
}

struct OpenedPicture
{
    Form1Fixture fixture;
    QImage picture;

    explicit OpenedPicture(QSize size)
        : picture(NumberedPicture(size.width(), size.height()))
    {
        Form1 &window = fixture.Window();
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        fixture.filesToChoose = { fixture.SaveImage(picture, "numbered.png") };
        window.OpenImage();
    }

    void Drag(QPoint from, QPoint to)
    {
        QWidget *pane = fixture.Window().PicBox;
        QTest::mousePress(pane, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(pane, (from + to) / 2);
        QTest::mouseMove(pane, to);
        QTest::mouseRelease(pane, Qt::LeftButton, Qt::NoModifier, to);
    }
};

struct BandCase
{
    const char *what;
    QPoint from;
    QPoint to;
};

void PrintTo(const BandCase &c, std::ostream *out) { *out << c.what; }

class PaneBand : public ::testing::TestWithParam<BandCase>
{
};

TEST_P(PaneBand, ShowsThePartsMeanAndKeepsTheWholePicture)
{
    const BandCase &c = GetParam();
    // Every case's press lies on the pane also at two device pixels a logical one.
    OpenedPicture opened(QSize(240, 180));
    Form1 &window = opened.fixture.Window();
    const QString wholeHex = MeanHex(opened.picture, opened.picture.rect());
    ASSERT_EQ(opened.fixture.HexText(), wholeHex);

    opened.Drag(c.from, c.to);
    const QRect block = ExpectedBlock(window, c.from, c.to);
    EXPECT_EQ(window.Selection().Part(), block);
    EXPECT_EQ(opened.fixture.HexText(), MeanHex(opened.picture, block));
    EXPECT_NE(opened.fixture.HexText(), wholeHex) << "a part that averages like the whole";
    // The pane keeps every pixel of the picture; the band is drawn on screen only.
    EXPECT_EQ(window.Pane().Raster().size(), opened.picture.size());
    EXPECT_EQ(window.Pane().ReadPixel(block.x(), block.y()),
        analysis::MakeColour(qRed(opened.picture.pixel(block.topLeft())),
            qGreen(opened.picture.pixel(block.topLeft())),
            qBlue(opened.picture.pixel(block.topLeft()))));
    EXPECT_TRUE(window.Pane().IsMarked());
    EXPECT_FALSE(window.Selection().Readout().isVisible()) << "the live readout goes";
}

// The press point and the release point swap which corner is the band's top-left.
INSTANTIATE_TEST_SUITE_P(BothWays, PaneBand,
    ::testing::Values(BandCase { "down and right", QPoint(10, 8), QPoint(50, 40) },
        BandCase { "up and left", QPoint(50, 40), QPoint(10, 8) },
        BandCase { "down and left", QPoint(60, 5), QPoint(20, 30) },
        BandCase { "one column", QPoint(30, 10), QPoint(31, 40) },
        // Held to the pane: the band ends at its far edges.
        BandCase { "past the bottom-right", QPoint(70, 50), QPoint(500, 400) }));

TEST(PaneBandLive, TheReadoutDuringTheDragEqualsTheResultAfterIt)
{
    OpenedPicture opened(QSize(120, 90));
    Form1 &window = opened.fixture.Window();
    QWidget *pane = window.PicBox;
    const QPoint from(15, 12), to(70, 33);
    QTest::mousePress(pane, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(pane, to);
    const capture::ReadoutPanel &panel = window.Selection().Readout();
    ASSERT_TRUE(panel.isVisible());
    const QRect block = ExpectedBlock(window, from, to);
    const auto *hex = panel.findChild<QLabel *>(QStringLiteral("ReadoutHex"));
    const auto *size = panel.findChild<QLabel *>(QStringLiteral("ReadoutSize"));
    EXPECT_EQ(hex->text(), MeanHex(opened.picture, block));
    EXPECT_EQ(size->text(), QStringLiteral("%1 x %2").arg(block.width()).arg(block.height()));
    EXPECT_TRUE(window.rect().contains(panel.geometry())) << "inside the window";
    QTest::mouseRelease(pane, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(opened.fixture.HexText(), hex->text());
}

TEST(PaneBandBack, AClickOrEscGoesBackToTheWholePicture)
{
    struct Case
    {
        const char *what;
        void (*back)(Form1 &);
    };
    const Case cases[] = {
        { "click without a drag",
            [](Form1 &w) {
                QTest::mouseClick(w.PicBox, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
            } },
        { "Esc", [](Form1 &w) { QTest::keyClick(&w, Qt::Key_Escape); } },
        { "Esc during a new drag",
            [](Form1 &w) {
                QTest::mousePress(w.PicBox, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
                QTest::mouseMove(w.PicBox, QPoint(30, 30));
                QTest::keyClick(&w, Qt::Key_Escape);
                QTest::mouseRelease(w.PicBox, Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
            } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        OpenedPicture opened(QSize(120, 90));
        Form1 &window = opened.fixture.Window();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        const QString wholeHex = opened.fixture.HexText();
        const QString wholeInfo = opened.fixture.InfoText();
        opened.Drag(QPoint(4, 4), QPoint(40, 20));
        ASSERT_NE(opened.fixture.HexText(), wholeHex);

        c.back(window);
        EXPECT_TRUE(window.Selection().Part().isEmpty());
        EXPECT_FALSE(window.Pane().IsMarked());
        EXPECT_FALSE(window.Selection().Readout().isVisible());
        EXPECT_EQ(opened.fixture.HexText(), wholeHex);
        EXPECT_EQ(opened.fixture.InfoText(), wholeInfo);
    }
}

TEST(PaneBandBack, ANewPictureForgetsThePart)
{
    OpenedPicture opened(QSize(120, 90));
    Form1 &window = opened.fixture.Window();
    opened.Drag(QPoint(4, 4), QPoint(40, 20));
    const QImage second = NumberedPicture(31, 17);
    opened.fixture.filesToChoose = { opened.fixture.SaveImage(second, "second.png") };
    window.OpenImage();
    EXPECT_TRUE(window.Selection().Part().isEmpty());
    EXPECT_FALSE(window.Pane().IsMarked());
    EXPECT_EQ(opened.fixture.HexText(), MeanHex(second, second.rect()));
}

TEST(PaneBandBack, TheDoubleClickStillChoosesTheBackgroundColour)
{
    OpenedPicture opened(QSize(120, 90));
    Form1 &window = opened.fixture.Window();
    QTest::mouseDClick(window.PicBox, Qt::LeftButton, Qt::NoModifier, QPoint(6, 6));
    EXPECT_EQ(opened.fixture.coloursOffered.size(), 1u);
    EXPECT_TRUE(window.Selection().Part().isEmpty());
}

TEST(PaneScrolling, OnlyAPictureLargerThanTheFrameScrolls)
{
    struct Case
    {
        const char *what;
        QSize size;
        bool across, down;
    };
    const Case cases[] = {
        { "fits", QSize(120, 90), false, false },
        { "too wide", QSize(3000, 40), true, false },
        { "too tall", QSize(40, 3000), false, true },
        { "too big both ways", QSize(2000, 1500), true, true },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        OpenedPicture opened(c.size);
        QScrollArea &scroller = opened.fixture.Window().PaneScroller();
        EXPECT_EQ(scroller.horizontalScrollBar()->isVisible(), c.across);
        EXPECT_EQ(scroller.verticalScrollBar()->isVisible(), c.down);
        EXPECT_EQ(opened.fixture.Window().Pane().Raster().size(), c.size) << "every pixel read";
        EXPECT_EQ(opened.fixture.HexText(), MeanHex(opened.picture, opened.picture.rect()));
    }
}

// Scrolled to its far corner, the frame shows the picture's last pixels, and a band there
// chooses those pixels of the picture, not the ones at the same place in the frame.
TEST(PaneScrolling, ABandOnAScrolledPaneChoosesThePixelsUnderIt)
{
    OpenedPicture opened(QSize(900, 700));
    Form1 &window = opened.fixture.Window();
    QScrollArea &scroller = window.PaneScroller();
    scroller.horizontalScrollBar()->setValue(scroller.horizontalScrollBar()->maximum());
    scroller.verticalScrollBar()->setValue(scroller.verticalScrollBar()->maximum());
    const QSize pane = window.PicBox->size();
    const QPoint offset = -window.PicBox->pos();
    EXPECT_EQ(offset + QPoint(scroller.viewport()->width(), scroller.viewport()->height()),
        QPoint(pane.width(), pane.height()))
        << "the far corner shows";

    const QPoint from = offset + QPoint(20, 20), to = offset + QPoint(60, 45);
    opened.Drag(from, to);
    const QRect block = ExpectedBlock(window, from, to);
    EXPECT_EQ(window.Selection().Part(), block);
    EXPECT_EQ(opened.fixture.HexText(), MeanHex(opened.picture, block));
}

} // namespace
