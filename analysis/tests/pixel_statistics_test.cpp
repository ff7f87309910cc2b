// The summing sink's figures: worked out by hand on small sets, and exact on sums past 32 bits.
#include "analysis/pixel_statistics.h"

#include "analysis/tests/summary_hex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace analysis {
namespace {

    struct Expected
    {
        std::string hex; // Summarise's truncated mean
        std::int32_t linear[3];
        double stddev[3];
        std::int32_t min[3];
        std::int32_t max[3];
    };

    struct FiguresCase
    {
        const char *name;
        std::vector<std::uint32_t> pixels; // 0xAARRGGBB, one row
        Expected expected;
    };

    // Linear means by the sRGB formula: black and white average to 0.5 linear, encoded
    // 1.055 * 0.5^(1/2.4) - 0.055 = 0.7354, 187.5 -> 188; 0.75 -> 224.6 -> 225; 0.25 -> 137.0.
    // Standard deviations are population ones: 255, 255, 255, 0 has mean 191.25 and variance
    // 48768.75 - 36576.5625 = 12192.1875.
    const FiguresCase kFigures[] = {
        { "OnePixel", { 0xFF0A141Eu },
            { "#0A141E", { 10, 20, 30 }, { 0, 0, 0 }, { 10, 20, 30 }, { 10, 20, 30 } } },
        { "BlackAndWhite", { 0xFF000000u, 0xFFFFFFFFu },
            { "#7F7F7F", { 188, 188, 188 }, { 127.5, 127.5, 127.5 }, { 0, 0, 0 },
                { 255, 255, 255 } } },
        { "ThreeRedsOneBlue", { 0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u, 0xFF0000FFu },
            { "#BF003F", { 225, 0, 137 }, { std::sqrt(12192.1875), 0, std::sqrt(12192.1875) },
                { 0, 0, 0 }, { 255, 0, 255 } } },
        // The alpha byte is the decoder's business; only the channels count.
        { "AlphaByteIgnored", { 0x00FF0000u, 0x80FF0000u, 0xFFFF0000u },
            { "#FF0000", { 255, 0, 0 }, { 0, 0, 0 }, { 255, 0, 0 }, { 255, 0, 0 } } },
        // An odd count: the last pixel falls outside the loop's pairs.
        { "OddCountKeepsTheLastPixel", { 0xFF000000u, 0xFF000000u, 0xFF0000FFu },
            { "#000055", { 0, 0, 156 }, { 0, 0, std::sqrt(14450.0) }, { 0, 0, 0 },
                { 0, 0, 255 } } },
    };

    void PrintTo(const FiguresCase &c, std::ostream *os) { *os << c.name; }

    class FiguresTest : public testing::TestWithParam<FiguresCase>
    {
    };

    void ExpectFigures(const PictureStatistics &s, const Expected &e)
    {
        EXPECT_EQ(tests::SummaryHex(Summarise(s.totals)), e.hex);
        EXPECT_EQ(s.linearR, e.linear[0]);
        EXPECT_EQ(s.linearG, e.linear[1]);
        EXPECT_EQ(s.linearB, e.linear[2]);
        const ChannelFigures *channels[] = { &s.r, &s.g, &s.b };
        for (int c = 0; c < 3; ++c) {
            SCOPED_TRACE(c);
            EXPECT_NEAR(channels[c]->stddev, e.stddev[c], 1e-9);
            EXPECT_EQ(channels[c]->min, e.min[c]);
            EXPECT_EQ(channels[c]->max, e.max[c]);
        }
    }

    TEST_P(FiguresTest, MatchTheFiguresWorkedOutByHand)
    {
        const std::vector<std::uint32_t> &pixels = GetParam().pixels;
        const auto n = static_cast<std::int32_t>(pixels.size());
        // Through RowSpace, as a streaming decoder hands rows over, and through TakeRows, as a
        // decoder that holds the whole picture does: the same figures.
        StatisticsSink streamed;
        ASSERT_TRUE(streamed.Start(n, 1));
        std::ptrdiff_t stride = 0;
        std::uint32_t *space = streamed.RowSpace(0, 1, stride);
        ASSERT_NE(space, nullptr);
        std::copy(pixels.begin(), pixels.end(), space);
        streamed.RowsDone(0, 1);
        ExpectFigures(streamed.Statistics(), GetParam().expected);

        StatisticsSink whole;
        ASSERT_TRUE(whole.Start(n, 1));
        ASSERT_TRUE(whole.TakeRows(0, 1, n, pixels.data(), n));
        ExpectFigures(whole.Statistics(), GetParam().expected);
        EXPECT_EQ(whole.Statistics().totals.count, pixels.size());

        // The means-only sums: the same totals by another loop.
        StatisticsSink means(true);
        ASSERT_TRUE(means.Start(n, 1));
        ASSERT_TRUE(means.TakeRows(0, 1, n, pixels.data(), n));
        const ScanTotals a = means.Statistics().totals, b = whole.Statistics().totals;
        EXPECT_EQ(tests::SummaryHex(Summarise(a)), GetParam().expected.hex);
        EXPECT_EQ(
            std::tie(a.sumR, a.sumG, a.sumB, a.count), std::tie(b.sumR, b.sumG, b.sumB, b.count));
    }

    INSTANTIATE_TEST_SUITE_P(Statistics, FiguresTest, testing::ValuesIn(kFigures),
        [](const auto &info) { return std::string(info.param.name); });

    // ---- sums past 32 bits and 2^53 ----

    struct BigCase
    {
        const char *name;
        std::uint32_t even, odd; // alternating pixels of a 1,000,000-pixel row
        Expected expected;
    };

    // 20,000,000 pixels: the red sum 5.1e9 overflows 32 bits, and n * sum of squares (1.3e19)
    // is past double precision, so a floating-point variance would not come out exactly 0.
    const BigCase kBig[] = {
        { "Flat", 0xFFFFFE01u, 0xFFFFFE01u,
            { "#FFFE01", { 255, 254, 1 }, { 0, 0, 0 }, { 255, 254, 1 }, { 255, 254, 1 } } },
        { "HalfBlackHalfWhite", 0xFF000000u, 0xFFFFFFFFu,
            { "#7F7F7F", { 188, 188, 188 }, { 127.5, 127.5, 127.5 }, { 0, 0, 0 },
                { 255, 255, 255 } } },
    };

    void PrintTo(const BigCase &c, std::ostream *os) { *os << c.name; }

    class BigPictureTest : public testing::TestWithParam<BigCase>
    {
    };

    TEST_P(BigPictureTest, FiguresAreExact)
    {
        constexpr std::int32_t kWidth = 1'000'000, kRows = 20;
        std::vector<std::uint32_t> row(kWidth);
        for (std::int32_t x = 0; x < kWidth; ++x)
            row[static_cast<std::size_t>(x)] = x % 2 == 0 ? GetParam().even : GetParam().odd;
        StatisticsSink sink, means(true);
        ASSERT_TRUE(sink.Start(kWidth, kRows));
        ASSERT_TRUE(means.Start(kWidth, kRows));
        for (std::int32_t y = 0; y < kRows; ++y) {
            sink.AddPixels(row.data(), kWidth);
            means.AddPixels(row.data(), kWidth);
        }
        const PictureStatistics s = sink.Statistics();
        EXPECT_EQ(s.totals.count, 20'000'000u);
        const Expected &e = GetParam().expected;
        ExpectFigures(s, e);
        EXPECT_EQ(s.r.stddev, e.stddev[0]) << "exactly, not nearly";
        EXPECT_EQ(means.Statistics().totals.sumR, s.totals.sumR);
        EXPECT_EQ(means.Statistics().totals.sumB, s.totals.sumB);
    }

    INSTANTIATE_TEST_SUITE_P(Statistics, BigPictureTest, testing::ValuesIn(kBig),
        [](const auto &info) { return std::string(info.param.name); });

    TEST(SrgbTransfer, EveryCodeSurvivesTheRoundTripAndTheEndsAreFixed)
    {
        for (std::int32_t v = 0; v < 256; ++v) {
            SCOPED_TRACE(v);
            EXPECT_EQ(EncodeSrgb(DecodeSrgb(v)), v);
        }
        // The linear segment below 0.04045 and the curve above it (IEC 61966-2-1 formulas).
        EXPECT_DOUBLE_EQ(DecodeSrgb(0), 0.0);
        EXPECT_DOUBLE_EQ(DecodeSrgb(255), 1.0);
        EXPECT_NEAR(DecodeSrgb(10), 10 / 255.0 / 12.92, 1e-12);
        EXPECT_NEAR(DecodeSrgb(128), 0.2158605, 1e-7);
        EXPECT_EQ(EncodeSrgb(-1.0), 0);
        EXPECT_EQ(EncodeSrgb(2.0), 255);
    }

} // namespace
} // namespace analysis

namespace analysis {
namespace {

    // The lower median of each channel: with n values sorted, the one at (n - 1) / 2.
    TEST(StatisticsSink, MedianIsTheLowerMiddleValue)
    {
        const struct
        {
            const char *name;
            std::vector<std::uint32_t> pixels;
            std::int32_t median[3];
        } cases[] = {
            { "One", { 0xFF0A141E }, { 10, 20, 30 } },
            { "EvenCountTakesTheLower", { 0xFF000000, 0xFFFFFFFF }, { 0, 0, 0 } },
            { "OddCount", { 0xFF050505, 0xFF010203, 0xFF090807 }, { 5, 5, 5 } },
            // Channels sort apart: red 1, 2, 200, green 200, 9, 9, blue 3, 3, 3.
            { "ChannelsApart", { 0xFF01C803, 0xFF020903, 0xFFC80903 }, { 2, 9, 3 } },
            { "ManyEqual", { 0xFF101010, 0xFF101010, 0xFF101010, 0xFFFFFFFF }, { 16, 16, 16 } },
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(c.name);
            StatisticsSink sink;
            const auto n = static_cast<std::int32_t>(c.pixels.size());
            ASSERT_TRUE(sink.Start(n, 1));
            ASSERT_TRUE(sink.TakeRows(0, 1, n, c.pixels.data(), n));
            const PictureStatistics s = sink.Statistics();
            EXPECT_EQ(s.r.median, c.median[0]);
            EXPECT_EQ(s.g.median, c.median[1]);
            EXPECT_EQ(s.b.median, c.median[2]);
        }
    }

} // namespace
} // namespace analysis
