// The overlay's panel (live readout and magnifier), Esc, and a desktop of two screens, driven
// headless through a fake screen source.
#include "capture/form2.h"
#include "capture/magnifier.h"
#include "capture/readout_panel.h"

#include "capture/tests/capture_fixture.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace capture {
namespace {

    using testing::CaptureFixture;
    using testing::NumberedScreen;

    QSize ScreenSize() { return QGuiApplication::primaryScreen()->geometry().size(); }

    QString LabelText(const Form2 &overlay, const char *name)
    {
        const auto *label = overlay.Readout().findChild<QLabel *>(QLatin1String(name));
        return label ? label->text() : QStringLiteral("(no label)");
    }

    // What a screen reader reads for a label: its accessible name.
    QString ReadAloud(const Form2 &overlay, const char *name)
    {
        auto *label = overlay.Readout().findChild<QLabel *>(QLatin1String(name));
        QAccessibleInterface *face = label ? QAccessible::queryAccessibleInterface(label) : nullptr;
        return face ? face->text(QAccessible::Name) : QString();
    }

    QString SizeText(QSize size)
    {
        return QStringLiteral("%1 x %2").arg(size.width()).arg(size.height());
    }

    struct ReadoutCase
    {
        const char *what;
        QPoint from;
        std::vector<QPoint> moves; // the last one is where the button is let go
        Qt::MouseButton button;
        QRect block; // screen pixels after the last move
    };

    void PrintTo(const ReadoutCase &c, std::ostream *out) { *out << c.what; }

    class Form2Readout : public ::testing::TestWithParam<ReadoutCase>
    {
    };

    // During the drag the panel reads out the block under the band; after the release the window
    // shows the same hex for the same block.
    TEST_P(Form2Readout, EqualsTheResultAfterRelease)
    {
        const ReadoutCase &c = GetParam();
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        Form2 *overlay = f.capture.Overlay();
        QTest::mousePress(overlay, c.button, Qt::NoModifier, c.from);
        for (const QPoint &to : c.moves) {
            QTest::mouseMove(overlay, to);
            // Every move updates the size to the band's span from the press.
            const QPoint held(std::clamp(to.x(), 0, ScreenSize().width()),
                std::clamp(to.y(), 0, ScreenSize().height()));
            EXPECT_EQ(LabelText(*overlay, "ReadoutSize"),
                SizeText(QSize(std::abs(c.from.x() - held.x()), std::abs(c.from.y() - held.y()))));
        }
        const ReadoutPanel &panel = overlay->Readout();
        ASSERT_TRUE(panel.isVisible());
        const QRect placed = panel.geometry();
        EXPECT_TRUE(overlay->rect().contains(placed));
        EXPECT_FALSE(placed.contains(c.moves.back())) << "under the pointer";
        const QString hex = LabelText(*overlay, "ReadoutHex");
        const QColor swatch = panel.findChild<QLabel *>(QStringLiteral("ReadoutSwatch"))
                                  ->palette()
                                  .window()
                                  .color();
        EXPECT_EQ(LabelText(*overlay, "ReadoutSize"), SizeText(c.block.size()));
        EXPECT_EQ(ReadAloud(*overlay, "ReadoutHex"), hex);
        EXPECT_EQ(ReadAloud(*overlay, "ReadoutSize"), SizeText(c.block.size()));

        QTest::mouseRelease(overlay, c.button, Qt::NoModifier, c.moves.back());
        ASSERT_EQ(f.analyses, 1);
        EXPECT_EQ(f.pane.Raster().size(), c.block.size());
        EXPECT_EQ(f.PaneMismatches(f.screen->image, c.block.topLeft()), "0");
        EXPECT_EQ(hex.toStdString(), f.hexText);
        EXPECT_EQ(analysis::MakeColour(swatch.red(), swatch.green(), swatch.blue()), f.swatch);
    }

    INSTANTIATE_TEST_SUITE_P(Drags, Form2Readout,
        ::testing::Values(ReadoutCase { "down_right", { 10, 10 }, { { 90, 40 }, { 200, 150 } },
                              Qt::LeftButton, QRect(10, 10, 190, 140) },
            ReadoutCase { "up_left", { 300, 200 }, { { 200, 100 }, { 40, 30 } }, Qt::LeftButton,
                QRect(40, 30, 260, 170) },
            ReadoutCase {
                "one_pixel", { 50, 50 }, { { 51, 51 } }, Qt::RightButton, QRect(50, 50, 1, 1) },
            // Past the screen's far corner the band stops at it: the last column and row count.
            ReadoutCase { "past_the_far_corner", { 700, 500 }, { { 750, 600 }, { 5000, 4000 } },
                Qt::MiddleButton, QRect(700, 500, 100, 300) }),
        [](const auto &info) { return std::string(info.param.what); });

    TEST(Form2Readout, TheMagnifierShowsTheFrozenPixelsAroundThePointer)
    {
        CaptureFixture f;
        const QSize size = ScreenSize();
        f.screen->image = NumberedScreen(size.width(), size.height());
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        Form2 *overlay = f.capture.Overlay();
        // There from the moment the overlay shows, before any move.
        EXPECT_TRUE(overlay->Readout().isVisible());
        EXPECT_TRUE(overlay->Readout().Zoom().isVisible());

        const int half = Magnifier::kSpan / 2;
        const int zoom = Magnifier::kZoom;
        const QPoint points[] = { { 100, 80 }, { 1, 2 }, { size.width() - 1, size.height() - 1 } };
        for (const QPoint &p : points) {
            SCOPED_TRACE(::testing::Message() << p.x() << "," << p.y());
            QTest::mouseMove(overlay, p);
            const QImage shown = overlay->Readout().Zoom().grab().toImage();
            int wrong = 0;
            for (int dy = -half; dy <= half; ++dy)
                for (int dx = -half; dx <= half; ++dx) {
                    const QPoint pixel = p + QPoint(dx, dy);
                    const QRgb want = f.screen->image.rect().contains(pixel)
                        ? f.screen->image.pixel(pixel)
                        : qRgb(0, 0, 0);
                    const QPoint middle(
                        (dx + half) * zoom + zoom / 2, (dy + half) * zoom + zoom / 2);
                    if ((shown.pixel(middle) & 0xFFFFFF) != (want & 0xFFFFFF))
                        ++wrong;
                }
            EXPECT_EQ(wrong, 0);
            // The pixel under the pointer is outlined, white inside black.
            const int edge = half * zoom;
            EXPECT_EQ(shown.pixel(edge - 1, edge + zoom / 2) & 0xFFFFFF, 0xFFFFFFu);
            EXPECT_EQ(shown.pixel(edge - 2, edge + zoom / 2) & 0xFFFFFF, 0u);
        }
    }

    // Ctrl+C during a drag copies the hex the live panel shows; before a press, nothing.
    TEST(Form2Copy, CtrlCDuringADragCopiesTheBandsHex)
    {
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        Form2 *overlay = f.capture.Overlay();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(overlay, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "before") << "no band yet";

        const QPoint from(12, 7), to(75, 40);
        QTest::mousePress(overlay, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(overlay, to);
        QTest::keyClick(overlay, Qt::Key_C, Qt::ControlModifier);
        const QString copied = QGuiApplication::clipboard()->text();
        EXPECT_EQ(copied, LabelText(*overlay, "ReadoutHex"));
        EXPECT_TRUE(overlay->IsShown()) << "copying leaves the drag going";
        QTest::mouseRelease(overlay, Qt::LeftButton, Qt::NoModifier, to);
        EXPECT_EQ(copied.toStdString(), f.hexText) << "the same block's mean after the release";
    }

    // Esc before or during a drag: the overlay goes, and the pane, the results, the start point
    // and the window's place in front are as they were before the capture command.
    TEST(Form2Cancel, EscLeavesEverythingAsItWas)
    {
        struct Case
        {
            const char *what;
            std::vector<QPoint> presses; // each press restarts the band
            std::vector<QPoint> moves;
        };
        const Case cases[] = {
            { "before a press", {}, { { 30, 30 } } },
            { "during a drag", { { 10, 10 } }, { { 60, 50 } } },
            { "during a drag with a second button down", { { 10, 10 }, { 90, 80 } },
                { { 120, 100 } } },
        };
        // The window the capture command belongs to.
        QWidget main;
        main.resize(400, 300);
        CaptureFixture f(&main);
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        // The pane lives in the main window for this test; it goes back before either dies.
        struct Adopt
        {
            platform::PicBox &pane;
            ~Adopt() { pane.setParent(nullptr); }
        } adopt { f.pane };
        f.pane.setParent(&main);
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));

        // A first capture, so there is a pane and results to keep.
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        f.Drag({ 5, 6 }, { 25, 16 });
        ASSERT_EQ(f.analyses, 1);
        Form2 *overlay = f.capture.Overlay();
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            const QImage paneBefore = f.pane.Raster().copy();
            const std::string hexBefore = f.hexText;
            const StartPoint startBefore = overlay->StartPt();
            ASSERT_TRUE(f.CaptureAndWaitForOverlay());
            for (const QPoint &p : c.presses)
                QTest::mousePress(overlay, Qt::LeftButton, Qt::NoModifier, p);
            for (const QPoint &p : c.moves)
                QTest::mouseMove(overlay, p);
            QTest::keyClick(overlay, Qt::Key_Escape);

            EXPECT_FALSE(overlay->isVisible());
            EXPECT_FALSE(overlay->Shape1().Visible);
            EXPECT_EQ(overlay->StartPt().X, startBefore.X);
            EXPECT_EQ(overlay->StartPt().Y, startBefore.Y);
            // The button let go after Esc captures nothing.
            QTest::mouseRelease(overlay, Qt::LeftButton, Qt::NoModifier, c.moves.back());
            EXPECT_EQ(f.analyses, 1);
            EXPECT_EQ(f.pane.Raster(), paneBefore);
            EXPECT_EQ(f.hexText, hexBefore);
            EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &main; }))
                << "the main window is not back in front";
        }
        // The overlay still works after being backed out of.
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        f.Drag({ 40, 30 }, { 45, 33 });
        EXPECT_EQ(f.analyses, 2);
        EXPECT_EQ(f.PaneMismatches(f.screen->image, QPoint(40, 30)), "0");
    }

    // Two screens side by side: the left one 400 x 300 at ratio 1, the right one 300 x 200
    // logical at ratio 2 (600 x 400 pixels), with nothing below the right one.
    class Form2TwoScreens : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            left = NumberedScreen(400, 300);
            right = NumberedScreen(600, 400).mirrored(true, false);
            right.setDevicePixelRatio(2.0);
            f.screen->image = left;
            f.screen->desktop
                = { { QRect(0, 0, 400, 300), left }, { QRect(400, 0, 300, 200), right } };
        }
        CaptureFixture f;
        QImage left, right;
    };

    TEST_F(Form2TwoScreens, TheRegionComesFromThePressScreenHeldToItsEdges)
    {
        struct Case
        {
            const char *what;
            QPoint from, to; // overlay pixels
            bool onRight;
            QRect block; // that screen's pixels
        };
        const Case cases[] = {
            { "on the left screen", { 10, 10 }, { 110, 60 }, false, QRect(10, 10, 100, 50) },
            { "on the right screen, at its ratio", { 410, 10 }, { 460, 40 }, true,
                QRect(20, 20, 100, 60) },
            { "left screen, dragged onto the right one", { 350, 100 }, { 600, 150 }, false,
                QRect(350, 100, 50, 50) },
            { "right screen, dragged below it into no screen", { 650, 150 }, { 800, 280 }, true,
                QRect(500, 300, 100, 100) },
            { "right screen, dragged onto the left one", { 420, 50 }, { 100, 20 }, true,
                QRect(0, 40, 40, 60) },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            ASSERT_TRUE(f.CaptureAndWaitForOverlay());
            Form2 *overlay = f.capture.Overlay();
            EXPECT_EQ(overlay->geometry(), QRect(0, 0, 700, 300));
            QTest::mousePress(overlay, Qt::LeftButton, Qt::NoModifier, c.from);
            QTest::mouseMove(overlay, c.to);
            const QString readout = LabelText(*overlay, "ReadoutHex");
            EXPECT_EQ(LabelText(*overlay, "ReadoutSize"), SizeText(c.block.size()));
            QTest::mouseRelease(overlay, Qt::LeftButton, Qt::NoModifier, c.to);
            EXPECT_FALSE(overlay->isVisible());
            EXPECT_EQ(f.pane.Raster().size(), c.block.size());
            EXPECT_EQ(f.PaneMismatches(c.onRight ? right : left, c.block.topLeft()), "0");
            EXPECT_EQ(readout.toStdString(), f.hexText);
        }
    }

    TEST_F(Form2TwoScreens, TheOverlayShowsEveryScreenAndBlackWhereThereIsNone)
    {
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        Form2 *overlay = f.capture.Overlay();
        QTest::mouseMove(overlay, QPoint(20, 20));
        const QImage shown = overlay->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shown.size(), QSize(700, 300));
        EXPECT_EQ(shown.pixel(300, 250), left.pixel(300, 250));
        EXPECT_EQ(shown.pixel(650, 250), qRgb(0, 0, 0));
        // A ratio-2 screen drawn at logical size: each shown pixel is one of the four under it.
        const QRgb onRight = shown.pixel(500, 100);
        const QRgb candidates[] = { right.pixel(200, 200), right.pixel(201, 200),
            right.pixel(200, 201), right.pixel(201, 201) };
        EXPECT_NE(
            std::find(std::begin(candidates), std::end(candidates), onRight), std::end(candidates));
    }

} // namespace
} // namespace capture
