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

double Bt709ToLinear(double signal)
{
    if (signal < 4.5 * 0.018)
        return signal / 4.5;
    return std::pow((signal + 0.099) / 1.099, 1 / 0.45);
}

double LinearToBt709(double linear)
{
    if (linear < 0.018)
        return linear * 4.5;
    return 1.099 * std::pow(linear, 0.45) - 0.099;
}

NonLinearRgb ConstantLuminanceToRgb(double luma, double cb, double cr)
{
    // BT.2020's luminance weights; the chroma scales differ either side of zero.
    constexpr double kr = 0.2627, kb = 0.0593, kg = 1 - kr - kb;
    static const double nb = LinearToBt709(1 - kb), pb = 1 - LinearToBt709(kb);
    static const double nr = LinearToBt709(1 - kr), pr = 1 - LinearToBt709(kr);
    const double b = std::clamp(luma + 2 * cb * (cb <= 0 ? nb : pb), 0.0, 1.0);
    const double r = std::clamp(luma + 2 * cr * (cr <= 0 ? nr : pr), 0.0, 1.0);
    // The luma codes linear luminance, so green comes from the linear values.
    const double linearGreen = (Bt709ToLinear(std::clamp(luma, 0.0, 1.0)) - kr * Bt709ToLinear(r)
                                   - kb * Bt709ToLinear(b))
        / kg;
    return { r, LinearToBt709(std::clamp(linearGreen, 0.0, 1.0)), b };
}

} // namespace imaging::colour
