#include "capture/band_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace capture {
namespace {

    TEST(BandGeometry, RoundingIsHalfToEvenAndSaturates)
    {
        // Halves go to the even neighbour; values outside 16 bits stay at the range's ends.
        struct Case
        {
            double in;
            std::int16_t out16;
            std::int32_t out32;
        };
        const Case cases[] = {
            { 0.5, 0, 0 },
            { 1.5, 2, 2 },
            { 2.5, 2, 2 },
            { -0.5, 0, 0 },
            { -1.5, -2, -2 },
            { 10.49, 10, 10 },
            { 10.51, 11, 11 },
            { 32767.4, 32767, 32767 },
            { 32767.5, 32767, 32768 },
            { 40000.0, 32767, 40000 },
            { -40000.0, -32768, -40000 },
            { 3e9, 32767, std::numeric_limits<std::int32_t>::max() },
            { std::nan(""), 0, 0 },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.in);
            EXPECT_EQ(RoundToInt16(c.in), c.out16);
            EXPECT_EQ(RoundToInt32(c.in), c.out32);
        }
    }

    struct Drag
    {
        const char *what;
        float x0, y0, x1, y1;
        QRect copied; // QRect(left, top, width, height)
    };

    void PrintTo(const Drag &d, std::ostream *out) { *out << d.what; }

    class DragRect : public testing::TestWithParam<Drag>
    {
    };

    TEST_P(DragRect, CopiesColumnsFromLeftToLeftPlusWidthMinusOne)
    {
        const Drag &d = GetParam();
        StartPoint start;
        Band band;
        PressBand(start, band, d.x0, d.y0);
        SpanBand(start, band, (d.x0 + d.x1) / 2 + 3, d.y1 + 7); // a move on the way
        SpanBand(start, band, d.x1, d.y1);
        EXPECT_TRUE(band.Visible);
        EXPECT_EQ(BandSourceRect(band, 1.0), d.copied);
    }

    // The two drag directions of the same rectangle copy the same block, and neither contains the
    // column or row of the larger coordinate (QRect's corner form would have given 11 x 6).
    INSTANTIATE_TEST_SUITE_P(Directions, DragRect,
        testing::Values(Drag { "down-right", 10, 10, 20, 15, QRect(10, 10, 10, 5) },
            Drag { "up-left", 20, 15, 10, 10, QRect(10, 10, 10, 5) },
            Drag { "up-right", 10, 15, 20, 10, QRect(10, 10, 10, 5) },
            Drag { "down-left", 20, 10, 10, 15, QRect(10, 10, 10, 5) },
            Drag { "one point", 33, 44, 33, 44, QRect(33, 44, 0, 0) },
            Drag { "one column", 7, 3, 8, 9, QRect(7, 3, 1, 6) },
            Drag { "from the origin", 0, 0, 1280, 1024, QRect(0, 0, 1280, 1024) }),
        [](const testing::TestParamInfo<Drag> &info) {
            std::string name = info.param.what;
            for (char &c : name)
                if (c == ' ' || c == '-')
                    c = '_';
            return name;
        });

    TEST(BandGeometry, PressRoundsTheStartPointButNotTheBand)
    {
        StartPoint start { 5, 6 };
        Band band { 1, 2, 3, 4, false };
        PressBand(start, band, 10.5f, 11.5f);
        EXPECT_EQ(start.X, 10);
        EXPECT_EQ(start.Y, 12);
        EXPECT_FLOAT_EQ(band.Left, 10.5f);
        EXPECT_FLOAT_EQ(band.Top, 11.5f);
        EXPECT_EQ(band.Width, 0.0f);
        EXPECT_EQ(band.Height, 0.0f);
        EXPECT_TRUE(band.Visible);

        // The span runs from the rounded start point, so the band now starts at 10, not 10.5.
        SpanBand(start, band, 14.25f, 20.0f);
        EXPECT_FLOAT_EQ(band.Left, 10.0f);
        EXPECT_FLOAT_EQ(band.Top, 12.0f);
        EXPECT_FLOAT_EQ(band.Width, 4.25f);
        EXPECT_FLOAT_EQ(band.Height, 8.0f);
    }

    TEST(BandGeometry, MovesBeforeAnyPressSpanFromTheOriginWhileHidden)
    {
        StartPoint start;
        Band band;
        SpanBand(start, band, 30, 40);
        EXPECT_FALSE(band.Visible);
        EXPECT_EQ(BandSourceRect(band, 1.0), QRect(0, 0, 30, 40));
    }

    TEST(BandGeometry, ASecondPressRestartsTheBandAtItsOwnPoint)
    {
        StartPoint start;
        Band band;
        PressBand(start, band, 100, 100);
        SpanBand(start, band, 150, 140);
        PressBand(start, band, 200, 210);
        EXPECT_EQ(BandSourceRect(band, 1.0), QRect(200, 210, 0, 0));
        SpanBand(start, band, 190, 215);
        EXPECT_EQ(BandSourceRect(band, 1.0), QRect(190, 210, 10, 5));
    }

    TEST(BandGeometry, SourceRectScalesTheBandToDevicePixels)
    {
        struct Case
        {
            Band band;
            qreal ratio;
            QRect rect;
        };
        const Case cases[] = {
            { { 10, 10, 10, 5 }, 1.0, QRect(10, 10, 10, 5) },
            { { 10, 10, 10, 5 }, 2.0, QRect(20, 20, 20, 10) },
            // Half-pixel logical positions are whole device pixels at ratio 2.
            { { 10.5f, 3.5f, 2.5f, 1.5f }, 2.0, QRect(21, 7, 5, 3) },
            // Ratio 1.5: 5 x 1.5 = 7.5 rounds to 8, 15 x 1.5 = 22.5 to 22.
            { { 15, 5, 10, 5 }, 1.5, QRect(22, 8, 15, 8) },
            // Fractional band at ratio 1: each value rounded on its own, halves to even.
            { { 10.5f, 11.5f, 2.5f, 3.5f }, 1.0, QRect(10, 12, 2, 4) },
            { { 4, 4, 0, 0 }, 2.0, QRect(8, 8, 0, 0) },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message()
                << c.band.Left << "," << c.band.Top << " " << c.band.Width << "x" << c.band.Height
                << " @" << c.ratio);
            EXPECT_EQ(BandSourceRect(c.band, c.ratio), c.rect);
        }
    }

    TEST(BandGeometry, BlocksAreCutToTheirScreensPicture)
    {
        // A right-hand screen at (1280, 0); its picture is 1024 x 768 at ratio 1, 2048 x 1536
        // at ratio 2, and a ratio of 1.5 may round a band's far edge one pixel past it.
        struct Case
        {
            const char *what;
            Band band;
            qreal ratio;
            QSize picture;
            QRect block;
        };
        const Case cases[] = {
            { "inside", { 1290, 10, 20, 5 }, 1.0, { 1024, 768 }, QRect(10, 10, 20, 5) },
            { "to the far corner", { 1290, 700, 1014, 68 }, 1.0, { 1024, 768 },
                QRect(10, 700, 1014, 68) },
            { "ratio 2", { 1290, 10, 20, 5 }, 2.0, { 2048, 1536 }, QRect(20, 20, 40, 10) },
            { "rounded past the edge", { 1280 + 853.5f, 0, 0.5f, 10 }, 1.5, { 1281, 960 },
                QRect(1280, 0, 1, 15) },
            { "left of the screen", { 1000, 0, 100, 10 }, 1.0, { 1024, 768 }, QRect(0, 0, 0, 0) },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            const QRect block
                = BandBlock(c.band, QPoint(1280, 0), c.ratio, QRect(QPoint(0, 0), c.picture));
            EXPECT_EQ(block.size(), c.block.size());
            if (!c.block.isEmpty()) {
                EXPECT_EQ(block, c.block);
            }
        }
    }

    // The readout panel near each edge and corner of a screen that does not start at the
    // desktop's origin, dragged both ways: always on the screen, never near the pointer or the
    // free corner.
    TEST(BandGeometry, TheReadoutStaysOnScreenAndClearOfThePointer)
    {
        const QRect screen(1280, 100, 1024, 768);
        const QSize panel(260, 140);
        const int l = screen.left(), t = screen.top();
        const int r = screen.left() + screen.width() - 1, b = screen.top() + screen.height() - 1;
        struct Case
        {
            const char *what;
            QPoint pointer, freeCorner, start;
        };
        const Case cases[] = {
            { "middle, dragged down-right", { 1700, 400 }, { 1700, 400 }, { 1600, 300 } },
            { "middle, dragged up-left", { 1700, 400 }, { 1700, 400 }, { 1800, 500 } },
            { "top-left corner", { l, t }, { l, t }, { l + 300, t + 200 } },
            { "top-right corner", { r, t }, { r, t }, { l + 10, t + 200 } },
            { "bottom-left corner", { l, b }, { l, b }, { l + 300, t } },
            { "bottom-right corner", { r, b }, { r, b }, { l, t } },
            { "left edge", { l + 3, 500 }, { l + 3, 500 }, { l + 400, 300 } },
            { "right edge", { r - 3, 500 }, { r - 3, 500 }, { l + 10, 300 } },
            { "top edge", { 1700, t + 2 }, { 1700, t + 2 }, { 1600, t + 400 } },
            { "bottom edge", { 1700, b - 2 }, { 1700, b - 2 }, { 1600, t } },
            { "pointer past the far corner, band held to it", { 2600, 1000 }, { r + 1, b + 1 },
                { l + 50, t + 50 } },
            { "pointer on the screen to the left", { 1000, 400 }, { l, 400 }, { 1700, 300 } },
            { "no band yet", { 1290, 110 }, { 1290, 110 }, { 1290, 110 } },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            const QRect placed(
                PlaceReadout(panel, c.pointer, c.freeCorner, c.start, screen), panel);
            EXPECT_TRUE(screen.contains(placed)) << placed.x() << "," << placed.y();
            const QRect keepOut
                = placed.adjusted(-kReadoutGap, -kReadoutGap, kReadoutGap, kReadoutGap);
            EXPECT_FALSE(keepOut.contains(c.pointer));
            EXPECT_FALSE(keepOut.contains(c.freeCorner));
        }
    }

    TEST(BandGeometry, TheReadoutPrefersTheSideAwayFromTheBand)
    {
        // With room everywhere the panel sits beyond the free corner, not over the band.
        const QRect screen(0, 0, 1280, 1024);
        const QSize panel(200, 100);
        struct Case
        {
            const char *what;
            QPoint start;
            QPoint at;
        };
        const Case cases[] = {
            { "down-right", { 400, 300 }, { 625, 525 } },
            { "up-left", { 800, 700 }, { 600 - 24 - 200, 500 - 24 - 100 } },
            { "up-right", { 400, 700 }, { 625, 500 - 24 - 100 } },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            EXPECT_EQ(PlaceReadout(panel, { 600, 500 }, { 600, 500 }, c.start, screen), c.at);
        }
    }

} // namespace
} // namespace capture
