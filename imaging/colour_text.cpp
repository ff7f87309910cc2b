#include "imaging/colour_text.h"

#include "analysis/oklab.h"
#include "analysis/pixel_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace imaging {
namespace {

    void AddPair(std::string &text, std::string_view label, std::int32_t value)
    {
        text += label;
        text += std::to_string(value);
    }

    // value rounded to `decimals` places without trailing zeros: 49.02, 50, 0.1768.
    std::string Decimal(double value, int decimals)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, value);
        std::string number = text;
        if (number.find('.') != std::string::npos) {
            number.erase(number.find_last_not_of('0') + 1);
            if (number.back() == '.')
                number.pop_back();
        }
        return number == "-0" ? "0" : number;
    }

    std::string RgbText(const analysis::ColourSummary &s)
    {
        return "rgb(" + std::to_string(s.avgR) + ' ' + std::to_string(s.avgG) + ' '
            + std::to_string(s.avgB) + ')';
    }

    // CSS's hsl(): lightness is the middle of the largest and smallest channel.
    std::string HslText(const analysis::ColourSummary &s)
    {
        const double r = s.avgR / 255.0, g = s.avgG / 255.0, b = s.avgB / 255.0;
        const double high = std::max({ r, g, b }), low = std::min({ r, g, b });
        const double lightness = (high + low) / 2;
        const double spread = high - low;
        double hue = 0, saturation = 0;
        if (spread > 0) {
            saturation = spread / (1 - std::abs(2 * lightness - 1));
            if (high == r)
                hue = std::fmod((g - b) / spread + 6, 6);
            else if (high == g)
                hue = (b - r) / spread + 2;
            else
                hue = (r - g) / spread + 4;
            hue *= 60;
        }
        return "hsl(" + Decimal(hue, 2) + ' ' + Decimal(saturation * 100, 2) + "% "
            + Decimal(lightness * 100, 2) + "%)";
    }

    std::string OklchText(const analysis::ColourSummary &s)
    {
        const analysis::OkLch lch
            = analysis::OkLchFromOkLab(analysis::OkLabFromLinearSrgb(analysis::DecodeSrgb(s.avgR),
                analysis::DecodeSrgb(s.avgG), analysis::DecodeSrgb(s.avgB)));
        // A grey's hue is noise around a chroma that rounds away: both are written as 0.
        const std::string chroma = Decimal(lch.C, 5);
        const std::string hue = chroma == "0" ? "0" : Decimal(lch.h, 2);
        return "oklch(" + Decimal(lch.L * 100, 2) + "% " + chroma + ' ' + hue + ')';
    }

} // namespace

std::string HexText(std::int32_t r, std::int32_t g, std::int32_t b)
{
    char text[16];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", static_cast<unsigned>(r),
        static_cast<unsigned>(g), static_cast<unsigned>(b));
    return text;
}

std::string HexText(const analysis::ColourSummary &summary)
{
    return HexText(summary.avgR, summary.avgG, summary.avgB);
}

std::string InfoText(const analysis::ColourSummary &summary, std::string_view lineBreak)
{
    std::string text;
    AddPair(text, "R:", summary.avgR);
    AddPair(text, " H:", summary.hsl.H);
    text += lineBreak;
    AddPair(text, "G:", summary.avgG);
    AddPair(text, " S:", summary.hsl.S);
    text += lineBreak;
    AddPair(text, "B:", summary.avgB);
    AddPair(text, " L:", summary.hsl.L);
    return text;
}

std::string InfoLine(const analysis::ColourSummary &summary)
{
    std::string text;
    AddPair(text, "R:", summary.avgR);
    AddPair(text, " G:", summary.avgG);
    AddPair(text, " B:", summary.avgB);
    AddPair(text, " H:", summary.hsl.H);
    AddPair(text, " S:", summary.hsl.S);
    AddPair(text, " L:", summary.hsl.L);
    return text;
}

std::string FormText(ColourForm form, const analysis::ColourSummary &summary)
{
    switch (form) {
    case ColourForm::Hex:
        return HexText(summary);
    case ColourForm::Rgb:
        return RgbText(summary);
    case ColourForm::Hsl:
        return HslText(summary);
    case ColourForm::Oklch:
        return OklchText(summary);
    case ColourForm::Info:
        break;
    }
    return InfoText(summary, "\n");
}

std::optional<ColourForm> ParseColourForm(std::string_view word)
{
    static constexpr std::pair<std::string_view, ColourForm> kWords[] = {
        { "hex", ColourForm::Hex },
        { "rgb", ColourForm::Rgb },
        { "hsl", ColourForm::Hsl },
        { "oklch", ColourForm::Oklch },
        { "info", ColourForm::Info },
    };
    for (const auto &[name, form] : kWords) {
        if (word == name)
            return form;
    }
    return std::nullopt;
}

} // namespace imaging
