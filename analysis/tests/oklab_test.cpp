// OKLab against the values CSS Color 4 and its conformance tests publish for the same colours.
#include "analysis/oklab.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace analysis {
namespace {

    // sRGB's transfer function written out here, so the test does not lean on the code's own.
    double Linear(double encoded)
    {
        return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
    }

    struct Reference
    {
        const char *name;
        double rgb[3]; // encoded sRGB, 0..1
        double L, C, h; // as published, L 0..1
        double a, b; // C * cos h, C * sin h
    };

    // Green, 80% 0.15 160 and 50% 0.2 0 are from the css-color conformance tests (oklab-009,
    // oklch-011, oklch-006, oklch-004); red and white are CSS Color 4's own worked colours.
    const Reference kReferences[] = {
        { "Green008000", { 0, 128 / 255.0, 0 }, 0.51975, 0.17686, 142.495, -0.1403, 0.10768 },
        { "Oklch80_015_160", { 0.32022, 0.85805, 0.61147 }, 0.80, 0.15, 160,
            0.15 * std::cos(160 * std::numbers::pi / 180),
            0.15 * std::sin(160 * std::numbers::pi / 180) },
        { "Oklch50_02_0", { 0.70492, 0.02351, 0.37073 }, 0.50, 0.2, 0, 0.2, 0 },
        { "RedFF0000", { 1, 0, 0 }, 0.62796, 0.25768, 29.234, 0.22486, 0.12585 },
        { "White", { 1, 1, 1 }, 1, 0, 0, 0, 0 },
        { "Black", { 0, 0, 0 }, 0, 0, 0, 0, 0 },
    };

    class OkLabReference : public testing::TestWithParam<Reference>
    {
    };

    TEST_P(OkLabReference, MatchesPublishedValues)
    {
        const Reference &ref = GetParam();
        const OkLab lab
            = OkLabFromLinearSrgb(Linear(ref.rgb[0]), Linear(ref.rgb[1]), Linear(ref.rgb[2]));
        EXPECT_NEAR(lab.L, ref.L, 1e-4);
        EXPECT_NEAR(lab.a, ref.a, 1e-4);
        EXPECT_NEAR(lab.b, ref.b, 1e-4);
        const OkLch lch = OkLchFromOkLab(lab);
        EXPECT_NEAR(lch.L, ref.L, 1e-4);
        EXPECT_NEAR(lch.C, ref.C, 1e-4);
        // A hue means nothing without chroma.
        if (ref.C > 0) {
            EXPECT_NEAR(lch.h, ref.h, 0.01);
        }
    }

    INSTANTIATE_TEST_SUITE_P(CssColor4, OkLabReference, testing::ValuesIn(kReferences),
        [](const testing::TestParamInfo<Reference> &info) { return info.param.name; });

    TEST(OkLchFromOkLab, FoldsHueIntoZeroTo360)
    {
        struct Case
        {
            double a, b, C, h;
        };
        const Case cases[] = {
            { 0.1, 0, 0.1, 0 },
            { 0, 0.1, 0.1, 90 },
            { -0.1, 0, 0.1, 180 },
            { 0, -0.1, 0.1, 270 }, // atan2 gives -90
            { 0.03, -0.04, 0.05, 360 - std::atan2(0.04, 0.03) * 180 / std::numbers::pi },
            { 0, 0, 0, 0 },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << c.a << "," << c.b);
            const OkLch lch = OkLchFromOkLab(OkLab { 0.5, c.a, c.b });
            EXPECT_DOUBLE_EQ(lch.L, 0.5);
            EXPECT_NEAR(lch.C, c.C, 1e-12);
            EXPECT_NEAR(lch.h, c.h, 1e-9);
        }
    }

} // namespace
} // namespace analysis
