#include "imaging/colour_transfer.h"

#include <algorithm>
#include <cmath>

namespace imaging::colour {

double SrgbToLinear(double encoded)
{
    if (encoded <= 0.04045)
        return encoded / 12.92;
    return std::pow((encoded + 0.055) / 1.055, 2.4);
}

double LinearToSrgb(double linear)
{
    if (linear <= 0.0031308)
        return linear * 12.92;
    return 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

double PqToNits(double signal)
{
    constexpr double m1 = 2610.0 / 16384;
    constexpr double m2 = 2523.0 / 4096 * 128;
    constexpr double c1 = 3424.0 / 4096;
    constexpr double c2 = 2413.0 / 4096 * 32;
    constexpr double c3 = 2392.0 / 4096 * 32;
    const double p = std::pow(std::clamp(signal, 0.0, 1.0), 1 / m2);
    return 10000 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1);
}

double HlgToScene(double signal)
{
    constexpr double a = 0.17883277;
    constexpr double b = 1 - 4 * a;
    const double c = 0.5 - a * std::log(4 * a);
    const double e = std::clamp(signal, 0.0, 1.0);
    if (e <= 0.5)
        return e * e / 3;
    return (std::exp((e - c) / a) + b) / 12;
}

} // namespace imaging::colour
