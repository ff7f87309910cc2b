// The forms a mean is copied in: known colours by hand, and every form read back as the hex colour.
#include "imaging/colour_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>

namespace imaging {
namespace {

    analysis::ColourSummary Summary(int r, int g, int b)
    {
        return analysis::Summarise(
            analysis::ScanTotals { std::uint64_t(r), std::uint64_t(g), std::uint64_t(b), 1 });
    }

    struct FormsCase
    {
        int r, g, b;
        const char *rgb, *hsl, *oklch;
    };

    // hsl by CSS's formula: (200, 100, 50) has lightness (200 + 50) / 510 = 49.02%, saturation
    // 150 / (510 - |500 - 510|) = 60% and hue 60 * (100 - 50) / 150 = 20. The oklch values follow
    // CSS Color 4's matrices (red is its worked 62.8% 0.2577 29.23); C keeps 5 decimals, which
    // the read-back below needs.
    const FormsCase kForms[] = {
        { 200, 100, 50, "rgb(200 100 50)", "hsl(20 60% 49.02%)", "oklch(61.38% 0.14226 45.08)" },
        { 255, 0, 0, "rgb(255 0 0)", "hsl(0 100% 50%)", "oklch(62.8% 0.25768 29.23)" },
        { 0, 128, 0, "rgb(0 128 0)", "hsl(120 100% 25.1%)", "oklch(51.98% 0.17686 142.5)" },
        { 10, 20, 30, "rgb(10 20 30)", "hsl(210 50% 7.84%)", "oklch(18.7% 0.02534 249.32)" },
        { 128, 128, 128, "rgb(128 128 128)", "hsl(0 0% 50.2%)", "oklch(59.99% 0 0)" },
        { 255, 255, 255, "rgb(255 255 255)", "hsl(0 0% 100%)", "oklch(100% 0 0)" },
        { 0, 0, 0, "rgb(0 0 0)", "hsl(0 0% 0%)", "oklch(0% 0 0)" },
    };

    TEST(FormText, KnownColours)
    {
        for (const FormsCase &c : kForms) {
            SCOPED_TRACE(c.rgb);
            const analysis::ColourSummary s = Summary(c.r, c.g, c.b);
            EXPECT_EQ(FormText(ColourForm::Hex, s), HexText(c.r, c.g, c.b));
            EXPECT_EQ(FormText(ColourForm::Rgb, s), c.rgb);
            EXPECT_EQ(FormText(ColourForm::Hsl, s), c.hsl);
            EXPECT_EQ(FormText(ColourForm::Oklch, s), c.oklch);
        }
    }

    TEST(FormText, InfoIsTheThreeLinesWithNewlines)
    {
        EXPECT_EQ(
            FormText(ColourForm::Info, Summary(200, 100, 50)), "R:200 H:20\nG:100 S:75\nB:50 L:78");
    }

    // Clipped as a browser shows it: the last decimals may put a channel a hair below 0.
    int Code(double encoded)
    {
        return std::clamp(static_cast<int>(std::lround(encoded * 255)), 0, 255);
    }

    // hsl(H S% L%) back to 8-bit channels, by CSS Color 4's hslToRgb.
    std::array<int, 3> FromHsl(const std::string &text)
    {
        double h = 0, s = 0, l = 0;
        EXPECT_EQ(std::sscanf(text.c_str(), "hsl(%lf %lf%% %lf%%)", &h, &s, &l), 3) << text;
        s /= 100;
        l /= 100;
        const auto f = [&](double n) {
            const double k = std::fmod(n + h / 30, 12);
            const double a = s * std::min(l, 1 - l);
            return l - a * std::max(-1.0, std::min({ k - 3, 9 - k, 1.0 }));
        };
        return { Code(f(0)), Code(f(8)), Code(f(4)) };
    }

    double Encode(double linear)
    {
        return linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    }

    // oklch(L% C H) back to 8-bit channels with CSS Color 4's inverse matrices.
    std::array<int, 3> FromOklch(const std::string &text)
    {
        double L = 0, C = 0, h = 0;
        EXPECT_EQ(std::sscanf(text.c_str(), "oklch(%lf%% %lf %lf)", &L, &C, &h), 3) << text;
        L /= 100;
        const double a = C * std::cos(h * std::numbers::pi / 180),
                     b = C * std::sin(h * std::numbers::pi / 180);
        const double l = std::pow(L + 0.3963377773761749 * a + 0.2158037573099136 * b, 3);
        const double m = std::pow(L - 0.1055613458156586 * a - 0.0638541728258133 * b, 3);
        const double s = std::pow(L - 0.0894841775298119 * a - 1.2914855480194092 * b, 3);
        const double x = 1.2268798758459243 * l - 0.5578149944602171 * m + 0.2813910456659647 * s;
        const double y = -0.0405757452148008 * l + 1.1122868032803170 * m - 0.0717110580655164 * s;
        const double z = -0.0763729366746601 * l - 0.4214933324022432 * m + 1.5869240198367816 * s;
        return {
            Code(Encode(3.2409699419045226 * x - 1.537383177570094 * y - 0.4986107602930034 * z)),
            Code(
                Encode(-0.9692436362808796 * x + 1.8759675015077202 * y + 0.04155505740717559 * z)),
            Code(Encode(0.05563007969699366 * x - 0.20397695888897652 * y + 1.0569715142428786 * z))
        };
    }

    // Pasting any form must give the colour the hex text names.
    TEST(FormText, HslAndOklchReadBackAsTheHexColour)
    {
        const int levels[] = { 0, 1, 2, 17, 64, 127, 128, 191, 200, 254, 255 };
        for (const int r : levels) {
            for (const int g : levels) {
                for (const int b : levels) {
                    SCOPED_TRACE(HexText(r, g, b));
                    const analysis::ColourSummary s = Summary(r, g, b);
                    const std::array<int, 3> expected { r, g, b };
                    EXPECT_EQ(FromHsl(FormText(ColourForm::Hsl, s)), expected);
                    EXPECT_EQ(FromOklch(FormText(ColourForm::Oklch, s)), expected);
                }
            }
        }
    }

    TEST(ParseColourForm, NamesEachFormAndNothingElse)
    {
        EXPECT_EQ(ParseColourForm("hex"), ColourForm::Hex);
        EXPECT_EQ(ParseColourForm("rgb"), ColourForm::Rgb);
        EXPECT_EQ(ParseColourForm("hsl"), ColourForm::Hsl);
        EXPECT_EQ(ParseColourForm("oklch"), ColourForm::Oklch);
        EXPECT_EQ(ParseColourForm("info"), ColourForm::Info);
        for (const char *word : { "", "HEX", "oklab", "hsv", "rgb ", "hexx" })
            EXPECT_EQ(ParseColourForm(word), std::nullopt) << word;
    }

} // namespace
} // namespace imaging
