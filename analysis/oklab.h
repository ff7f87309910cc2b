#pragma once

// OKLab and its polar form OKLCH, with the matrices CSS Color 4 publishes (linear sRGB to XYZ D65
// to LMS to OKLab), so that numbers written here read back as the same colour in a browser.
namespace analysis {

// L 0..1 (black to white); a and b about -0.4..0.4 for sRGB colours.
struct OkLab
{
    double L = 0;
    double a = 0;
    double b = 0;
};

// L 0..1, chroma C >= 0, hue h in degrees 0..360 (0 for a colour without chroma).
struct OkLch
{
    double L = 0;
    double C = 0;
    double h = 0;
};

// OKLab of a linear-light sRGB colour, each channel 0..1 (values outside still convert).
[[nodiscard]] OkLab OkLabFromLinearSrgb(double r, double g, double b);

// The same colour in polar form: C = hypot(a, b), h = atan2(b, a) in degrees folded into 0..360.
[[nodiscard]] OkLch OkLchFromOkLab(const OkLab &lab);

} // namespace analysis
