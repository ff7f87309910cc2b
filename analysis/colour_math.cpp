#include "analysis/colour_math.h"

#include <cmath>

namespace analysis {
namespace {

    // The default floating-point rounding mode rounds halves to even.
    std::int16_t RoundHalfEven16(double value)
    {
        return static_cast<std::int16_t>(std::nearbyint(value));
    }

} // namespace

HSLValue RGBToHSL(std::int32_t R, std::int32_t G, std::int32_t B)
{
    std::int32_t max = R > G ? R : G;
    std::int32_t min = R > G ? G : R;
    if (B > max)
        max = B;
    else if (B < min)
        min = B;

    HSLValue hsl;
    hsl.L = RoundHalfEven16(static_cast<double>(max * 100) / 255.0);
    if (max <= min)
        return hsl;

    const std::int32_t d = max - min;
    hsl.S = RoundHalfEven16(static_cast<double>(d * 100) / static_cast<double>(max));

    // Narrowed on purpose: the shown hue follows the single-precision factor.
    const float f = static_cast<float>(60.0 / static_cast<double>(d));
    const double factor = f;
    double h;
    if (max == R) {
        h = factor * static_cast<double>(G - B);
        if (G < B)
            h += 360.0;
    } else if (max == G) {
        h = factor * static_cast<double>(B - R) + 120.0;
    } else {
        h = factor * static_cast<double>(R - G) + 240.0;
    }
    hsl.H = RoundHalfEven16(h);
    return hsl;
}

} // namespace analysis
