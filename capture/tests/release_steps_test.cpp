#include "capture/release_steps.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace capture {
namespace {

    // Logs every pane call, so the order of a release can be compared with the required one.
    struct RecordingPane
    {
        RecordingPane(std::vector<std::string> *log, const Band *band)
            : log(log)
            , band(band)
        {
        }

        std::vector<std::string> *log;
        const Band *band;
        bool visible = false;
        QRect copied;
        QImage copiedFrom;

        void SetSize(double w, double h)
        {
            // The band must already be hidden when the pane changes.
            log->push_back("size " + std::to_string(w) + "x" + std::to_string(h)
                + (band->Visible ? " band shown" : ""));
        }
        bool IsPaneVisible() const
        {
            log->push_back("visible?");
            return visible;
        }
        void SetPaneVisible(bool v)
        {
            log->push_back(v ? "show" : "hide");
            visible = v;
        }
        void Clear() { log->push_back("clear"); }
        void BlockCopy(const QImage &source, const QRect &rect, const QPoint &to)
        {
            log->push_back("copy " + std::to_string(rect.x()) + "," + std::to_string(rect.y()) + " "
                + std::to_string(rect.width()) + "x" + std::to_string(rect.height()) + " to "
                + std::to_string(to.x()) + "," + std::to_string(to.y()));
            copied = rect;
            copiedFrom = source;
        }
    };

    struct Release
    {
        std::vector<std::string> log;
        Band band;
        StartPoint start;
        RecordingPane pane { &log, &band };

        void Run(float x, float y, const QImage &frozen)
        {
            // The window's side of the hand-over: its pane, then its analysis.
            ReleaseBand(
                start, band, x, y, frozen, [this] { log.push_back("hide overlay"); },
                [this](const QImage &pixels, const QRect &block) {
                    ShowBlock(pane, pixels, block);
                    log.push_back("CalcColor");
                });
        }
    };

    QImage Frozen(int w, int h, qreal ratio = 1.0)
    {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        image.setDevicePixelRatio(ratio);
        return image;
    }

    TEST(ReleaseSteps, RunInTheBindingOrder)
    {
        struct Case
        {
            const char *what;
            bool paneVisible;
            QPoint press, release;
            std::vector<std::string> log;
        };
        const Case cases[] = {
            { "hidden pane, dragged up-left", false, { 20, 15 }, { 10, 10 },
                { "hide overlay", "size 10.000000x5.000000", "visible?", "show", "clear",
                    "copy 10,10 10x5 to 0,0", "CalcColor" } },
            { "a visible pane is not shown again", true, { 1, 2 }, { 4, 6 },
                { "hide overlay", "size 3.000000x4.000000", "visible?", "clear",
                    "copy 1,2 3x4 to 0,0", "CalcColor" } },
            { "press and release at one point: an empty pane and no copy", false, { 30, 30 },
                { 30, 30 },
                { "hide overlay", "size 0.000000x0.000000", "visible?", "show", "clear",
                    "CalcColor" } },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            Release r;
            r.pane.visible = c.paneVisible;
            PressBand(r.start, r.band, c.press.x(), c.press.y());
            r.Run(c.release.x(), c.release.y(), Frozen(64, 64));
            EXPECT_EQ(r.log, c.log);
            EXPECT_FALSE(r.band.Visible);
        }
    }

    TEST(ReleaseSteps, ReleaseWithoutPressSpansFromTheStartPoint)
    {
        struct Case
        {
            const char *what;
            StartPoint start;
            float x, y;
            QRect copied;
        };
        const Case cases[] = {
            { "origin, never pressed", { 0, 0 }, 25, 12, QRect(0, 0, 25, 12) },
            { "left by an earlier capture", { 40, 30 }, 25, 12, QRect(25, 12, 15, 18) },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            Release r;
            r.start = c.start;
            r.Run(c.x, c.y, Frozen(64, 64));
            EXPECT_EQ(r.pane.copied, c.copied);
            EXPECT_EQ(r.log.back(), "CalcColor");
            EXPECT_EQ(r.start.X, c.start.X); // only a press moves the start point
            EXPECT_EQ(r.start.Y, c.start.Y);
        }
    }

    TEST(ReleaseSteps, HighDpiCopyTakesTheDevicePixelsUnderTheBand)
    {
        // A ratio-2 frozen copy: the logical 10 x 5 band covers 20 x 10 screen pixels at (20, 20).
        Release r;
        const QImage frozen = Frozen(200, 100, 2.0);
        PressBand(r.start, r.band, 10, 10);
        r.Run(20, 15, frozen);
        EXPECT_EQ(r.log.at(1), "size 20.000000x10.000000");
        EXPECT_EQ(r.pane.copied, QRect(20, 20, 20, 10));
        // The pane gets the same pixels as ratio 1, without a copy of the whole screen.
        EXPECT_EQ(r.pane.copiedFrom.devicePixelRatio(), 1.0);
        EXPECT_EQ(r.pane.copiedFrom.size(), QSize(200, 100));
        EXPECT_EQ(r.pane.copiedFrom.constBits(), frozen.constBits());
    }

} // namespace
} // namespace capture
