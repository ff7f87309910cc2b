#include "imaging/colour_text.h"

#include <cstdio>

namespace imaging {
namespace {

    void AddPair(std::string &text, std::string_view label, std::int32_t value)
    {
        text += label;
        text += std::to_string(value);
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

} // namespace imaging
