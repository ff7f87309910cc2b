#include "analysis/oklab.h"

#include <cmath>
#include <numbers>

namespace analysis {

OkLab OkLabFromLinearSrgb(double r, double g, double b)
{
    // Linear sRGB to XYZ (D65) as CSS Color 4's exact fractions.
    const double x = 506752.0 / 1228815 * r + 87881.0 / 245763 * g + 12673.0 / 70218 * b;
    const double y = 87098.0 / 409605 * r + 175762.0 / 245763 * g + 12673.0 / 175545 * b;
    const double z = 7918.0 / 409605 * r + 87881.0 / 737289 * g + 1001167.0 / 1053270 * b;

    // The signed cube root keeps colours outside sRGB (negative cone responses) defined.
    const double l
        = std::cbrt(0.8190224379967030 * x + 0.3619062600528904 * y - 0.1288737815209879 * z);
    const double m
        = std::cbrt(0.0329836539323885 * x + 0.9292868615863434 * y + 0.0361446663506424 * z);
    const double s
        = std::cbrt(0.0481771893596242 * x + 0.2642395317527308 * y + 0.6335478284694309 * z);

    OkLab lab;
    lab.L = 0.2104542683093140 * l + 0.7936177747023054 * m - 0.0040720430116193 * s;
    lab.a = 1.9779985324311684 * l - 2.4285922420485799 * m + 0.4505937096174110 * s;
    lab.b = 0.0259040424655478 * l + 0.7827717124575296 * m - 0.8086757549230774 * s;
    return lab;
}

OkLch OkLchFromOkLab(const OkLab &lab)
{
    OkLch lch;
    lch.L = lab.L;
    lch.C = std::hypot(lab.a, lab.b);
    if (lch.C == 0)
        return lch;
    double h = std::atan2(lab.b, lab.a) * 180.0 / std::numbers::pi;
    if (h < 0)
        h += 360.0;
    lch.h = h;
    return lch;
}

} // namespace analysis
