#include "capture/band_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace capture {
namespace {

    template <typename Int> Int RoundHalfEven(double value)
    {
        if (std::isnan(value))
            return 0;
        constexpr double lo = std::numeric_limits<Int>::min();
        constexpr double hi = std::numeric_limits<Int>::max();
        // nearbyint follows the default rounding mode, which is to nearest with ties to even.
        return static_cast<Int>(std::nearbyint(std::clamp(value, lo, hi)));
    }

} // namespace

std::int16_t RoundToInt16(double value) { return RoundHalfEven<std::int16_t>(value); }

std::int32_t RoundToInt32(double value) { return RoundHalfEven<std::int32_t>(value); }

void PressBand(StartPoint &startPt, Band &band, float x, float y)
{
    startPt.X = RoundToInt16(x);
    startPt.Y = RoundToInt16(y);
    band.Left = x;
    band.Top = y;
    band.Width = 0;
    band.Height = 0;
    band.Visible = true;
}

void SpanBand(const StartPoint &startPt, Band &band, float x, float y)
{
    const float startX = startPt.X;
    const float startY = startPt.Y;
    band.Left = startX > x ? x : startX;
    band.Top = startY > y ? y : startY;
    band.Width = std::fabs(startX - x);
    band.Height = std::fabs(startY - y);
}

QRect BandSourceRect(const Band &band, qreal devicePixelRatio)
{
    const double scale = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    // QRect(x, y, w, h), never the two-corner form, whose bottom-right corner is inclusive.
    return QRect(RoundToInt32(band.Left * scale), RoundToInt32(band.Top * scale),
        std::max(0, RoundToInt32(band.Width * scale)),
        std::max(0, RoundToInt32(band.Height * scale)));
}

} // namespace capture
