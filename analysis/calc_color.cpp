#include "analysis/calc_color.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace analysis {
namespace {

    std::int16_t TruncatedMean(std::uint64_t sum, std::uint64_t count)
    {
        if (count == 0)
            return 0;
        return static_cast<std::int16_t>(
            std::trunc(static_cast<double>(sum) / static_cast<double>(count)));
    }

} // namespace

std::string HexText(std::int32_t r, std::int32_t g, std::int32_t b)
{
    char text[16];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", static_cast<unsigned>(r),
        static_cast<unsigned>(g), static_cast<unsigned>(b));
    return text;
}

std::int32_t RoundPaneSize(double pixels)
{
    if (!(pixels == pixels))
        return 0;
    constexpr double lo = std::numeric_limits<std::int32_t>::min();
    constexpr double hi = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::nearbyint(std::clamp(pixels, lo, hi)));
}

ColourSummary Summarise(const ScanTotals &totals)
{
    ColourSummary s;
    s.avgR = TruncatedMean(totals.sumR, totals.count);
    s.avgG = TruncatedMean(totals.sumG, totals.count);
    s.avgB = TruncatedMean(totals.sumB, totals.count);
    s.hexText = HexText(s.avgR, s.avgG, s.avgB);
    s.swatch = MakeColour(s.avgR, s.avgG, s.avgB);
    s.hsl = RGBToHSL(s.avgR, s.avgG, s.avgB);
    const auto line = [&s](const char *channel, int mean, const char *label, int value) {
        s.infoText += channel;
        s.infoText += std::to_string(mean);
        s.infoText += label;
        s.infoText += std::to_string(value);
    };
    line("R:", s.avgR, " H:", s.hsl.H);
    s.infoText += "\r\n";
    line("G:", s.avgG, " S:", s.hsl.S);
    s.infoText += "\r\n";
    line("B:", s.avgB, " L:", s.hsl.L);
    return s;
}

std::string ProgressText(std::int32_t y, std::int32_t H)
{
    const double fraction = (static_cast<double>(y) + 1.0) / static_cast<double>(H);
    const long percent = std::lround(fraction * 100.0);
    std::string text(kWaitText);
    text += std::to_string(percent);
    text += "%\r\n";
    text += kStopHint;
    return text;
}

} // namespace analysis
