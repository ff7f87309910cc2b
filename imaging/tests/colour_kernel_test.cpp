// The one-pass 8-bit conversion against the same sums and sRGB's curve worked out in double
// precision.
#include "imaging/colour_kernel.h"

#include "imaging/colour_transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using imaging::colour::KernelSrgbCode;
using imaging::colour::MatrixShaperKernel;

// The code a linear value rounds to, and how far that value is from the nearest half code.
struct ExactCode
{
    int code;
    double fromHalf;
};

ExactCode Exact(double linear)
{
    const double clamped = std::clamp(linear, 0.0, 1.0);
    const double scaled = imaging::colour::LinearToSrgb(clamped) * 255;
    return { static_cast<int>(std::floor(scaled + 0.5)),
        std::abs(scaled - std::floor(scaled) - 0.5) };
}

#define SKIP_WITHOUT_KERNEL()                                                                      \
    if (!MatrixShaperKernel::Available())                                                          \
    GTEST_SKIP() << "this processor has no AVX2 and FMA"

TEST(ColourKernelTest, EncodingRoundsAsTheCurveOffHalfCodes)
{
    SKIP_WITHOUT_KERNEL();
    int mismatches = 0;
    constexpr int kSteps = 1 << 20;
    for (int i = 0; i <= kSteps; ++i) {
        // Dense near black, where a code is narrowest in linear light.
        const double t = static_cast<double>(i) / kSteps;
        const auto linear = static_cast<float>(t * t);
        const ExactCode exact = Exact(linear);
        const int code = static_cast<int>(KernelSrgbCode(linear));
        ASSERT_LE(std::abs(code - exact.code), 1) << linear;
        if (exact.fromHalf > 0.004 && code != exact.code) {
            ++mismatches;
            ADD_FAILURE() << linear << " gives " << code << ", the curve " << exact.code;
            if (mismatches > 5)
                return;
        }
    }
}

TEST(ColourKernelTest, EncodingOfEdgeValues)
{
    SKIP_WITHOUT_KERNEL();
    const struct
    {
        float linear;
        std::uint32_t code;
    } cases[] = {
        { std::numeric_limits<float>::quiet_NaN(), 0 },
        { -1.0f, 0 },
        { 0.0f, 0 },
        { 1e-30f, 0 },
        { 0.0031308f, 10 }, // the end of the straight toe
        { 0.0031309f, 10 },
        { 0.2f, 124 },
        { 0.99f, 254 },
        { 1.0f, 255 },
        { 1.5f, 255 },
        { std::numeric_limits<float>::infinity(), 255 },
    };
    for (const auto &c : cases)
        EXPECT_EQ(KernelSrgbCode(c.linear), c.code) << c.linear;
}

struct Source
{
    std::string name;
    double gamma; // 0: sRGB's own curve
    std::array<float, 9> matrix;
};

// gtest names a failing case by its name rather than a dump of its bytes.
void PrintTo(const Source &source, std::ostream *out) { *out << source.name; }

// Display P3 and ProPhoto (with the Bradford adaptation folded in) into linear sRGB, as lcms2 gives
// them to three decimals, and a matrix that throws every channel out of range.
const Source kSources[] = {
    { "DisplayP3", 0,
        { 1.2249f, -0.2247f, 0.0f, -0.0420f, 1.0419f, 0.0f, -0.0197f, -0.0786f, 1.0979f } },
    { "ProPhoto", 1.8,
        { 2.0341f, -0.7276f, -0.3065f, -0.2288f, 1.2317f, -0.0029f, -0.0086f, -0.1533f, 1.1619f } },
    { "Gamma22Swap", 2.2, { 0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f, 0.0f } },
    { "Overdriven", 2.2, { 1.6f, -0.4f, -0.3f, -0.5f, 1.7f, -0.2f, 0.1f, -0.6f, 1.9f } },
};

class ColourKernelSourceTest : public testing::TestWithParam<Source>
{
protected:
    void SetUp() override
    {
        if (!MatrixShaperKernel::Available())
            GTEST_SKIP() << "this processor has no AVX2 and FMA";
        const Source &source = GetParam();
        for (int c = 0; c < 3; ++c) {
            for (int v = 0; v < 256; ++v) {
                const double stored = v / 255.0;
                linear[c][v]
                    = static_cast<float>(source.gamma == 0 ? imaging::colour::SrgbToLinear(stored)
                                                           : std::pow(stored, source.gamma));
            }
        }
    }

    // The pixel's conversion worked out in double precision, and whether it was clipped.
    std::pair<std::uint32_t, bool> Expected(std::uint32_t pixel) const
    {
        const std::array<float, 9> &m = GetParam().matrix;
        const double in[3] = { linear[0][(pixel >> 16) & 0xFF], linear[1][(pixel >> 8) & 0xFF],
            linear[2][pixel & 0xFF] };
        std::uint32_t out = pixel & 0xFF000000u;
        bool clipped = false;
        for (int c = 0; c < 3; ++c) {
            const double value = m[3 * c] * in[0] + m[3 * c + 1] * in[1] + m[3 * c + 2] * in[2];
            const double encoded = imaging::colour::LinearToSrgb(std::max(value, 0.0)) * 255;
            clipped = clipped || encoded > 255.5 || value < -0.5 / 255 / 12.92;
            out |= static_cast<std::uint32_t>(Exact(value).code) << (16 - 8 * c);
        }
        return { out, clipped };
    }

    std::array<std::array<float, 256>, 3> linear {};
};

TEST_P(ColourKernelSourceTest, EveryChannelWithinOneAndClippingAsCounted)
{
    MatrixShaperKernel kernel(linear, GetParam().matrix);
    std::mt19937 random(7);
    std::vector<std::uint32_t> pixels(4099); // not a whole number of eight-pixel groups
    for (auto &p : pixels)
        p = random();
    std::vector<std::uint32_t> out(pixels.size() + 1, 0xDEADBEEFu);
    std::vector<std::uint32_t> flags(pixels.size());
    const auto n = static_cast<std::int32_t>(pixels.size());
    const std::uint64_t clipped = kernel.Convert(pixels.data(), out.data(), n, flags.data());
    EXPECT_EQ(out.back(), 0xDEADBEEFu) << "written past the end";
    std::uint64_t expectedClipped = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const auto [expected, expectedFlag] = Expected(pixels[i]);
        expectedClipped += expectedFlag;
        ASSERT_EQ(out[i] >> 24, pixels[i] >> 24) << "alpha of pixel " << i;
        for (int shift : { 0, 8, 16 }) {
            const int got = static_cast<int>((out[i] >> shift) & 0xFF);
            const int want = static_cast<int>((expected >> shift) & 0xFF);
            ASSERT_LE(std::abs(got - want), 1) << std::hex << pixels[i] << " channel at " << shift;
        }
        ASSERT_EQ(flags[i], expectedFlag ? 1u : 0u) << std::hex << pixels[i];
    }
    EXPECT_EQ(clipped, expectedClipped);
}

TEST_P(ColourKernelSourceTest, InPlaceAndEveryShortLengthAgree)
{
    MatrixShaperKernel kernel(linear, GetParam().matrix);
    std::mt19937 random(11);
    std::vector<std::uint32_t> pixels(17);
    for (auto &p : pixels)
        p = random();
    std::vector<std::uint32_t> whole(pixels.size());
    kernel.Convert(pixels.data(), whole.data(), static_cast<std::int32_t>(pixels.size()), nullptr);
    for (std::int32_t n = 1; n <= 17; ++n) {
        std::vector<std::uint32_t> row(pixels.begin(), pixels.begin() + n);
        row.push_back(0x12345678u);
        kernel.Convert(row.data(), row.data(), n, nullptr);
        EXPECT_EQ(row.back(), 0x12345678u) << n;
        for (std::int32_t i = 0; i < n; ++i)
            ASSERT_EQ(row[i], whole[i]) << n << " pixels, pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, ColourKernelSourceTest, testing::ValuesIn(kSources),
    [](const auto &info) { return info.param.name; });

} // namespace
