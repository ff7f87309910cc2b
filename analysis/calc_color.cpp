#include "analysis/calc_color.h"

#include <algorithm>
#include <cmath>
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
    s.swatch = MakeColour(s.avgR, s.avgG, s.avgB);
    s.hsl = RGBToHSL(s.avgR, s.avgG, s.avgB);
    return s;
}

} // namespace analysis
