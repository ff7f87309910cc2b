#include "analysis/summed_area_table.h"

#include "analysis/calc_color.h"
#include "analysis/raster.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace analysis {
namespace {

    struct Block
    {
        std::int32_t left, top, width, height;
    };

    // The reference: every pixel of the block inside the raster, read one by one.
    ScanTotals DirectTotals(const Raster &raster, const Block &b)
    {
        ScanTotals t;
        // In 64 bits: a block's far edge may lie past the int32 range.
        const std::int64_t right
            = std::min<std::int64_t>(std::int64_t { b.left } + b.width, raster.Width());
        const std::int64_t bottom
            = std::min<std::int64_t>(std::int64_t { b.top } + b.height, raster.Height());
        for (std::int64_t y = std::max(b.top, 0); y < bottom; ++y)
            for (std::int64_t x = std::max(b.left, 0); x < right; ++x) {
                const ColourValue c
                    = raster.ReadPixel(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y));
                t.sumR += static_cast<std::uint64_t>(GetRValue(c));
                t.sumG += static_cast<std::uint64_t>(GetGValue(c));
                t.sumB += static_cast<std::uint64_t>(GetBValue(c));
                ++t.count;
            }
        return t;
    }

    // What the window finds after a capture: its own scan over a pane holding just the block.
    ColourSummary WindowSummary(const Raster &raster, const Block &b)
    {
        Raster pane(b.width, b.height);
        for (std::int32_t y = 0; y < b.height; ++y)
            for (std::int32_t x = 0; x < b.width; ++x)
                pane.SetPixel(x, y, raster.ReadPixel(b.left + x, b.top + y));
        struct Outputs
        {
            ColourSummary summary;
            void ScanStarted() { }
            void ScanProgress(std::int32_t, std::int32_t) { }
            void ScanFinished(const ColourSummary &finished) { summary = finished; }
        } outputs;
        ColourScanner scanner;
        scanner.CalcColor(
            pane, [] {}, outputs);
        return outputs.summary;
    }

    Raster RandomRaster(std::int32_t width, std::int32_t height, std::uint32_t seed)
    {
        std::mt19937 random(seed);
        Raster raster(width, height);
        for (std::int32_t y = 0; y < height; ++y)
            for (std::int32_t x = 0; x < width; ++x)
                raster.SetPixel(x, y, random() & 0xFFFFFFu);
        return raster;
    }

    void ExpectSameTotals(const ScanTotals &got, const ScanTotals &want)
    {
        EXPECT_EQ(got.sumR, want.sumR);
        EXPECT_EQ(got.sumG, want.sumG);
        EXPECT_EQ(got.sumB, want.sumB);
        EXPECT_EQ(got.count, want.count);
    }

    struct RasterCase
    {
        const char *what;
        std::int32_t width, height;
    };

    class SummedAreaTableBlocks : public ::testing::TestWithParam<RasterCase>
    {
    };

    // Blocks a band can give: single pixels in each corner, the whole raster, each far edge,
    // and random ones; the sums and the window's means must match pixel-by-pixel reading.
    TEST_P(SummedAreaTableBlocks, MatchDirectSumsAndTheWindowsMeans)
    {
        const RasterCase &c = GetParam();
        const Raster raster = RandomRaster(c.width, c.height, 7u * c.width + c.height);
        SummedAreaTable table;
        const std::int32_t w = c.width, h = c.height;
        table.Build(raster.Data(), w, h, w, ChannelOrder::kColourValue);
        std::vector<Block> blocks = {
            { 0, 0, 1, 1 }, { w - 1, 0, 1, 1 }, { 0, h - 1, 1, 1 }, { w - 1, h - 1, 1, 1 },
            { 0, 0, w, h }, { w / 2, 0, w - w / 2, h }, // touching the right edge
            { 0, h / 3, w, h - h / 3 }, // touching the bottom edge
            { w / 3, h / 2, w - w / 3, h - h / 2 }, // the bottom-right corner
            { 0, 0, w, 1 }, // the first row
            { w - 1, 0, 1, h }, // the last column
        };
        std::mt19937 random(99);
        for (int i = 0; i < 40; ++i) {
            const auto left = static_cast<std::int32_t>(random() % static_cast<unsigned>(w));
            const auto top = static_cast<std::int32_t>(random() % static_cast<unsigned>(h));
            blocks.push_back({ left, top,
                1 + static_cast<std::int32_t>(random() % static_cast<unsigned>(w - left)),
                1 + static_cast<std::int32_t>(random() % static_cast<unsigned>(h - top)) });
        }
        for (const Block &b : blocks) {
            SCOPED_TRACE(
                testing::Message() << b.left << "," << b.top << " " << b.width << "x" << b.height);
            const ScanTotals totals = table.Totals(b.left, b.top, b.width, b.height);
            ExpectSameTotals(totals, DirectTotals(raster, b));
            const ColourSummary shown = WindowSummary(raster, b);
            const ColourSummary fromTable = Summarise(totals);
            EXPECT_EQ(fromTable.swatch, shown.swatch); // the means, as the hex text shows them
            EXPECT_EQ(fromTable.hsl, shown.hsl);
        }
    }

    INSTANTIATE_TEST_SUITE_P(Rasters, SummedAreaTableBlocks,
        ::testing::Values(RasterCase { "one_pixel", 1, 1 }, RasterCase { "one_row", 257, 1 },
            RasterCase { "one_column", 1, 300 }, RasterCase { "wide", 640, 97 },
            RasterCase { "tall", 33, 480 }),
        [](const auto &info) { return std::string(info.param.what); });

    TEST(SummedAreaTable, BlocksReachingOutsideCountOnlyThePixelsInside)
    {
        const Raster raster = RandomRaster(50, 40, 3);
        SummedAreaTable table;
        table.Build(raster.Data(), 50, 40, 50, ChannelOrder::kColourValue);
        const Block blocks[] = {
            { -5, -5, 10, 10 }, { 45, 35, 10, 10 }, { -100, 10, 1000, 3 },
            { 50, 0, 5, 5 }, // wholly right of the raster
            { 10, 10, 0, 7 }, // empty
            { 10, 10, -3, 7 }, // negative size
            { 2'000'000'000, 0, 2'000'000'000, 5 }, // an edge past the int32 range
        };
        for (const Block &b : blocks) {
            SCOPED_TRACE(
                testing::Message() << b.left << "," << b.top << " " << b.width << "x" << b.height);
            ExpectSameTotals(table.Totals(b.left, b.top, b.width, b.height),
                DirectTotals(raster, { b.left, b.top, std::max(0, b.width), b.height }));
        }
    }

    TEST(SummedAreaTable, AWhiteBlockAboveTheThirtyTwoBitBoundIsExact)
    {
        // 4112 x 4100 white pixels: each channel sums to 4.3e9, past 2^32, so a single
        // four-corner read would wrap; the strips must carry it into 64 bits.
        constexpr std::int32_t w = 4112, h = 4100;
        ASSERT_GT(std::int64_t { w } * h, SummedAreaTable::kExactPixels);
        const Raster raster(w, h, 0xFFFFFFu);
        SummedAreaTable table;
        table.Build(raster.Data(), w, h, w, ChannelOrder::kColourValue);
        const ScanTotals t = table.Totals(0, 0, w, h);
        const std::uint64_t expected = 255ull * w * h;
        EXPECT_EQ(t.sumR, expected);
        EXPECT_EQ(t.sumG, expected);
        EXPECT_EQ(t.sumB, expected);
        EXPECT_EQ(Summarise(t).swatch, 0x00FFFFFFu); // #FFFFFF
    }

    TEST(SummedAreaTable, ChannelOrdersAndRebuildsReadTheSamePixels)
    {
        const Raster raster = RandomRaster(40, 30, 5);
        // The same pixels as a screen copy stores them: red high, and rows padded.
        constexpr std::ptrdiff_t stride = 48;
        std::vector<std::uint32_t> screen(stride * 30, 0xFFFFFFFFu);
        for (std::int32_t y = 0; y < 30; ++y)
            for (std::int32_t x = 0; x < 40; ++x) {
                const ColourValue c = raster.ReadPixel(x, y);
                screen[y * stride + x] = 0xFF000000u
                    | static_cast<std::uint32_t>(GetRValue(c)) << 16
                    | static_cast<std::uint32_t>(GetGValue(c)) << 8
                    | static_cast<std::uint32_t>(GetBValue(c));
            }
        SummedAreaTable table;
        // A bigger raster first: a rebuild at another size must not see its leftovers.
        const Raster bigger = RandomRaster(70, 50, 6);
        table.Build(bigger.Data(), 70, 50, 70, ChannelOrder::kColourValue);
        table.Build(screen.data(), 40, 30, stride, ChannelOrder::kXrgb);
        EXPECT_EQ(table.Width(), 40);
        EXPECT_EQ(table.Height(), 30);
        const Block blocks[] = { { 0, 0, 40, 30 }, { 39, 29, 1, 1 }, { 5, 0, 20, 30 } };
        for (const Block &b : blocks) {
            SCOPED_TRACE(testing::Message() << b.left << "," << b.top);
            ExpectSameTotals(
                table.Totals(b.left, b.top, b.width, b.height), DirectTotals(raster, b));
        }
        table.Build(nullptr, 0, 0, 0, ChannelOrder::kXrgb);
        EXPECT_EQ(table.Totals(0, 0, 10, 10).count, 0u);
    }

} // namespace
} // namespace analysis
