#pragma once

// The curves between stored numbers and linear light that the colour conversion needs beyond
// what an ICC profile carries, as plain formulas in double precision.
namespace imaging::colour {

// IEC 61966-2-1 decoding, from an sRGB value (nominally 0..1) to linear light 0..1; beyond 1 it
// follows the same power curve, so clipping can be judged past white.
[[nodiscard]] double SrgbToLinear(double encoded);

// The inverse of SrgbToLinear for linear light 0..1 (and beyond 1 along the power curve).
[[nodiscard]] double LinearToSrgb(double linear);

// SMPTE ST 2084 EOTF: a PQ signal 0..1 to absolute luminance 0..10000 cd/m².
[[nodiscard]] double PqToNits(double signal);

// ITU-R BT.2100 HLG inverse OETF: a signal 0..1 to normalised scene light 0..1.
[[nodiscard]] double HlgToScene(double signal);

// ITU-R BT.709 / BT.2020 OETF inverted: a video signal 0..1 to scene light 0..1.
[[nodiscard]] double Bt709ToLinear(double signal);

// ITU-R BT.709 / BT.2020 OETF: scene light 0..1 to a video signal 0..1.
[[nodiscard]] double LinearToBt709(double linear);

// R', G', B' (each 0..1) from Y' (0..1) and Cb, Cr (-0.5..0.5) coded by the constant luminance
// equations of ITU-R BT.2020 (ITU-T H.273 matrix coefficients 10), on the BT.2020 curve.
struct NonLinearRgb
{
    double r, g, b;
};
[[nodiscard]] NonLinearRgb ConstantLuminanceToRgb(double luma, double cb, double cr);

// The reference white of ITU-R BT.2408 (diffuse white, graphics white) in cd/m², shown as sRGB 1.0.
inline constexpr double kReferenceWhiteNits = 203.0;

// The display the HLG reference OOTF is taken for: nominal peak 1000 cd/m², black 0, so the
// system gamma is 1.2 (BT.2100 Table 5).
inline constexpr double kHlgPeakNits = 1000.0;
inline constexpr double kHlgSystemGamma = 1.2;

} // namespace imaging::colour
