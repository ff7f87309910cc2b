#include "analysis/colour_math.h"

#include <gtest/gtest.h>

#include <tuple>

namespace analysis {
namespace {

    TEST(ChannelExtraction, SplitsBitsAndIgnoresTopByte)
    {
        struct Case
        {
            ColourValue colour;
            std::int32_t r, g, b;
        };
        const Case cases[] = {
            { 0x00123456u, 0x56, 0x34, 0x12 },
            { 0xFFFFFFFFu, 255, 255, 255 }, // an unreadable pixel counts as white
            { 0x01FF8000u, 0, 128, 255 }, // the top byte is ignored
            { 0x00000000u, 0, 0, 0 },
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << std::hex << c.colour);
            EXPECT_EQ(GetRValue(c.colour), c.r);
            EXPECT_EQ(GetGValue(c.colour), c.g);
            EXPECT_EQ(GetBValue(c.colour), c.b);
        }
    }

    // The worked examples of the colour conversion, including its rounding traps.
    class RGBToHSLExamples
        : public testing::TestWithParam<std::tuple<int, int, int, int, int, int, const char *>>
    {
    };

    TEST_P(RGBToHSLExamples, MatchesTable)
    {
        const auto [r, g, b, h, s, l, why] = GetParam();
        SCOPED_TRACE(why);
        const HSLValue expected { static_cast<std::int16_t>(h), static_cast<std::int16_t>(s),
            static_cast<std::int16_t>(l) };
        EXPECT_EQ(RGBToHSL(r, g, b), expected) << r << "," << g << "," << b;
    }

    INSTANTIATE_TEST_SUITE_P(WorkedExamples, RGBToHSLExamples,
        testing::Values(std::make_tuple(255, 0, 0, 0, 100, 100, "pure red"),
            std::make_tuple(0, 255, 0, 120, 100, 100, "pure green"),
            std::make_tuple(0, 0, 255, 240, 100, 100, "pure blue"),
            std::make_tuple(255, 255, 0, 60, 100, 100, "R and G tie: red branch"),
            std::make_tuple(0, 255, 255, 180, 100, 100, "G and B tie: green branch"),
            std::make_tuple(255, 0, 255, 300, 100, 100, "red branch, G < B, plus 360"),
            std::make_tuple(255, 0, 1, 360, 100, 100, "359.76 rounds to 360, not folded"),
            std::make_tuple(255, 128, 0, 30, 100, 100, "h = 30.12"),
            std::make_tuple(200, 100, 50, 20, 75, 78, "mixed"),
            std::make_tuple(127, 0, 127, 300, 100, 50, "L = 49.80 rounds to 50"),
            std::make_tuple(10, 20, 30, 210, 67, 12, "blue branch"),
            std::make_tuple(1, 2, 3, 210, 67, 1, "tiny values"),
            std::make_tuple(128, 128, 128, 0, 0, 50, "grey"),
            std::make_tuple(255, 255, 255, 0, 0, 100, "white"),
            std::make_tuple(0, 0, 0, 0, 0, 0, "black"),
            std::make_tuple(8, 7, 7, 0, 12, 3, "S = 12.5 rounds to even"),
            std::make_tuple(8, 3, 0, 22, 100, 3, "h = 22.5 rounds to even"),
            std::make_tuple(72, 9, 0, 7, 100, 28, "single-precision factor gives 7, not 8")));

    TEST(RGBToHSL, StaysInRangeForEveryGreyAndPrimaryRamp)
    {
        for (int v = 0; v <= 255; ++v) {
            for (const auto &[r, g, b] :
                { std::tuple { v, 0, 0 }, std::tuple { 0, v, 0 }, std::tuple { 0, 0, v },
                    std::tuple { v, v, v }, std::tuple { 255, v, 255 - v } }) {
                const HSLValue hsl = RGBToHSL(r, g, b);
                ASSERT_GE(hsl.H, 0);
                ASSERT_LE(hsl.H, 360);
                ASSERT_GE(hsl.S, 0);
                ASSERT_LE(hsl.S, 100);
                ASSERT_GE(hsl.L, 0);
                ASSERT_LE(hsl.L, 100);
            }
        }
    }

} // namespace
} // namespace analysis
