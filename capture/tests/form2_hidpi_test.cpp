// Runs with QT_SCALE_FACTOR=2: the overlay works in logical pixels while the frozen copy holds
// twice as many screen pixels each way.
#include "capture/form2.h"

#include "capture/tests/capture_fixture.h"

#include <QGuiApplication>
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

} // namespace
} // namespace capture
