// Runs with QT_SCALE_FACTOR=2: the overlay works in logical pixels while the frozen copy holds
// twice as many screen pixels each way.
#include "capture/form2.h"
#include "capture/magnifier.h"
#include "capture/readout_panel.h"

#include "capture/tests/capture_fixture.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace capture {
namespace {

    using testing::CaptureFixture;
    using testing::NumberedScreen;

    class Form2HighDpi : public ::testing::Test
    {
    protected:
        void SetUp() override
        {
            screen = QGuiApplication::primaryScreen();
            ASSERT_EQ(screen->devicePixelRatio(), 2.0) << "run with QT_SCALE_FACTOR=2";
            const QSize device = screen->geometry().size() * 2;
            f.screen->image = NumberedScreen(device.width(), device.height(), 2.0);
        }
        QScreen *screen = nullptr;
        CaptureFixture f;
    };

    TEST_F(Form2HighDpi, ThePaneGetsExactlyTheScreenPixelsUnderTheBand)
    {
        struct Case
        {
            const char *what;
            QPoint from, to; // logical pixels
            QRect device;
        };
        const Case cases[] = {
            { "down-right", { 10, 10 }, { 20, 15 }, QRect(20, 20, 20, 10) },
            { "up-left", { 20, 15 }, { 10, 10 }, QRect(20, 20, 20, 10) },
            { "past column 255", { 120, 7 }, { 170, 9 }, QRect(240, 14, 100, 4) },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            ASSERT_TRUE(f.CaptureAndWaitForOverlay());
            EXPECT_EQ(f.capture.Overlay()->geometry(), screen->geometry());
            f.Drag(c.from, c.to);
            EXPECT_EQ(f.pane.Width(), c.device.width());
            EXPECT_EQ(f.pane.Height(), c.device.height());
            EXPECT_EQ(f.pane.Raster().size(), c.device.size());
            EXPECT_EQ(f.PaneMismatches(f.screen->image, c.device.topLeft()), "0");
        }
    }

    TEST_F(Form2HighDpi, TheAverageIsThatOfTheDevicePixels)
    {
        // Logical pixel (10, 10) covers four screen pixels: one white, three black. Its average
        // is 63 per channel only if all four reach the pane.
        f.screen->image.fill(Qt::black);
        f.screen->image.setPixel(20, 20, qRgb(255, 255, 255));
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        f.Drag({ 10, 10 }, { 11, 11 });
        EXPECT_EQ(f.pane.Raster().size(), QSize(2, 2));
        EXPECT_EQ(f.hexText, "#3F3F3F");
    }

    TEST_F(Form2HighDpi, TheOverlayShowsTheWholeCopyAtLogicalSize)
    {
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        const QImage shown = f.capture.Overlay()->grab().toImage();
        EXPECT_EQ(shown.size(), f.screen->image.size());
        EXPECT_EQ(testing::OverlayMismatches(*f.capture.Overlay(), f.screen->image), "0");
    }

    TEST_F(Form2HighDpi, TheReadoutAndTheMagnifierUseTheScreenPixels)
    {
        // Logical (10, 10)..(20, 15) is the 20 x 10 block of screen pixels at (20, 20); the
        // readout says so and its hex is the result's.
        struct Case
        {
            const char *what;
            QPoint from, to;
            QString size;
        };
        const Case cases[] = {
            { "down-right", { 10, 10 }, { 20, 15 }, QStringLiteral("20 x 10") },
            { "up-left, past column 255", { 170, 9 }, { 120, 7 }, QStringLiteral("100 x 4") },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            ASSERT_TRUE(f.CaptureAndWaitForOverlay());
            Form2 *overlay = f.capture.Overlay();
            QTest::mousePress(overlay, Qt::LeftButton, Qt::NoModifier, c.from);
            QTest::mouseMove(overlay, c.to);
            const auto *size = overlay->findChild<QLabel *>(QStringLiteral("ReadoutSize"));
            const auto *hex = overlay->findChild<QLabel *>(QStringLiteral("ReadoutHex"));
            ASSERT_TRUE(size && hex);
            EXPECT_EQ(size->text(), c.size);
            const QString readout = hex->text();
            // The middle of the magnifier is the screen pixel at the pointer's top-left, twice
            // the logical position, and its right neighbour the next screen pixel.
            const QImage zoomed = overlay->Readout().Zoom().grab().toImage();
            const int middle = (Magnifier::kSpan / 2) * Magnifier::kZoom + Magnifier::kZoom / 2;
            const qreal r = zoomed.devicePixelRatio();
            EXPECT_EQ(zoomed.pixel(QPoint(middle, middle) * r) & 0xFFFFFF,
                f.screen->image.pixel(c.to * 2) & 0xFFFFFF);
            EXPECT_EQ(zoomed.pixel(QPoint(middle + Magnifier::kZoom, middle) * r) & 0xFFFFFF,
                f.screen->image.pixel(c.to * 2 + QPoint(1, 0)) & 0xFFFFFF);
            QTest::mouseRelease(overlay, Qt::LeftButton, Qt::NoModifier, c.to);
            EXPECT_EQ(readout.toStdString(), f.hexText);
        }
    }

} // namespace
} // namespace capture
