// Main colours of pictures made of patches whose colours and shares are known.
#include "analysis/dominant_colours.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace analysis {
namespace {

    struct Patch
    {
        std::uint32_t pixel; // 0xAARRGGBB
        int pixels;
    };

    std::vector<std::uint32_t> Picture(const std::vector<Patch> &patches)
    {
        std::vector<std::uint32_t> pixels;
        for (const Patch &patch : patches)
            pixels.insert(pixels.end(), static_cast<std::size_t>(patch.pixels), patch.pixel);
        return pixels;
    }

    ColourHistogram Histogram(const std::vector<std::uint32_t> &pixels)
    {
        ColourHistogram histogram;
        histogram.AddPixels(pixels.data(), static_cast<std::int32_t>(pixels.size()));
        return histogram;
    }

    std::string Text(const std::vector<DominantColour> &colours)
    {
        std::string text;
        for (const DominantColour &c : colours) {
            char part[48];
            std::snprintf(part, sizeof part, "#%02X%02X%02X %.4f ", c.r, c.g, c.b, c.share);
            text += part;
        }
        return text;
    }

    struct PatchCase
    {
        const char *name;
        std::vector<Patch> patches;
        int count;
        std::string expected; // hex and share of each colour, largest first
    };

    // Shares are the patches' pixels over all pixels; a merged cluster's colour is the mean of
    // its pixels rounded: 40 of 200 and 40 of 210 red give 205.
    const PatchCase kPatches[] = {
        { "ThreeColoursThreeAsked", { { 0xFFFF0000, 60 }, { 0xFF0000FF, 30 }, { 0xFFFFFFFF, 10 } },
            3, "#FF0000 0.6000 #0000FF 0.3000 #FFFFFF 0.1000 " },
        { "FewerColoursThanAsked", { { 0xFF102030, 3 }, { 0xFFF0E0D0, 1 } }, 5,
            "#102030 0.7500 #F0E0D0 0.2500 " },
        { "NearRedsMergeWhenTwoAsked",
            { { 0xFFC80000, 40 }, { 0xFFD20000, 40 }, { 0xFF0000FF, 20 } }, 2,
            "#CD0000 0.8000 #0000FF 0.2000 " },
        { "OneAskedIsTheMean", { { 0xFF000000, 1 }, { 0xFFFFFFFF, 3 } }, 1, "#BFBFBF 1.0000 " },
        { "EqualSharesByColour", { { 0xFF00FF00, 5 }, { 0xFFFF0000, 5 } }, 2,
            "#00FF00 0.5000 #FF0000 0.5000 " },
        { "AlphaByteIgnored", { { 0x00123456, 2 }, { 0x80123456, 2 } }, 3, "#123456 1.0000 " },
    };

    class DominantPatches : public testing::TestWithParam<PatchCase>
    {
    };

    TEST_P(DominantPatches, GivesPatchColoursAndShares)
    {
        const PatchCase &c = GetParam();
        const ColourHistogram histogram = Histogram(Picture(c.patches));
        EXPECT_EQ(Text(DominantColours(histogram, c.count)), c.expected);
    }

    INSTANTIATE_TEST_SUITE_P(KnownPatches, DominantPatches, testing::ValuesIn(kPatches),
        [](const testing::TestParamInfo<PatchCase> &info) { return info.param.name; });

    // Noisy patches: each colour's pixels spread over several bins; the colour given is still
    // the exact mean of the patch, computed here from the pixels drawn.
    TEST(DominantColours, NoisyPatchesGiveTheirMeansInAnyPixelOrder)
    {
        std::mt19937 random(7);
        std::uniform_int_distribution<int> noise(-12, 12);
        const int centres[3][3] = { { 200, 40, 40 }, { 30, 160, 60 }, { 40, 50, 190 } };
        const int pixelsPer[3] = { 5000, 3000, 2000 };
        std::vector<std::uint32_t> pixels;
        std::string expected;
        for (int p = 0; p < 3; ++p) {
            long sums[3] = { 0, 0, 0 };
            for (int i = 0; i < pixelsPer[p]; ++i) {
                std::uint32_t pixel = 0xFF000000u;
                for (int k = 0; k < 3; ++k) {
                    const int v = centres[p][k] + noise(random);
                    sums[k] += v;
                    pixel |= static_cast<std::uint32_t>(v) << (16 - 8 * k);
                }
                pixels.push_back(pixel);
            }
            char part[48];
            std::snprintf(part, sizeof part, "#%02lX%02lX%02lX %.4f ",
                std::lround(sums[0] / double(pixelsPer[p])),
                std::lround(sums[1] / double(pixelsPer[p])),
                std::lround(sums[2] / double(pixelsPer[p])), pixelsPer[p] / 10000.0);
            expected += part;
        }
        EXPECT_EQ(Text(DominantColours(Histogram(pixels), 3)), expected);
        std::shuffle(pixels.begin(), pixels.end(), random);
        EXPECT_EQ(Text(DominantColours(Histogram(pixels), 3)), expected);
    }

    TEST(DominantColours, MergedHistogramsGiveTheWholePicture)
    {
        const std::vector<std::uint32_t> top = Picture({ { 0xFFFF0000, 30 }, { 0xFF00FF00, 5 } });
        const std::vector<std::uint32_t> bottom = Picture({ { 0xFF00FF00, 15 } });
        ColourHistogram merged = Histogram(top);
        merged.Merge(Histogram(bottom));
        EXPECT_EQ(merged.Count(), 50u);
        EXPECT_EQ(Text(DominantColours(merged, 2)), "#FF0000 0.6000 #00FF00 0.4000 ");
    }

    TEST(DominantColours, NothingForNoPixelsNoCountOrAStop)
    {
        const ColourHistogram patches = Histogram(Picture({ { 0xFFFF0000, 3 } }));
        const std::atomic<bool> stop { true };
        const std::atomic<bool> go { false };
        EXPECT_TRUE(DominantColours(ColourHistogram(), 5).empty());
        EXPECT_TRUE(DominantColours(patches, 0).empty());
        EXPECT_TRUE(DominantColours(patches, 5, &stop).empty());
        EXPECT_EQ(DominantColours(patches, 5, &go).size(), 1u);
    }

} // namespace
} // namespace analysis
