#pragma once

#include <lcms2.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The pieces of lcms2 the colour conversion builds on, each owned by a smart pointer.
namespace imaging::colour {

// Row-major 3x3 matrix.
using Matrix3 = std::array<double, 9>;

// White, red, green, blue as CIE xy pairs, in the order of ColourDescription::chromaticities.
using Chromaticities = std::array<double, 8>;

inline constexpr Chromaticities kSrgbXy { 0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06 };
inline constexpr Chromaticities kDisplayP3Xy { 0.3127, 0.3290, 0.680, 0.320, 0.265, 0.690, 0.150,
    0.060 };
// DCI-P3 keeps the theatre's greenish white (SMPTE RP 431-2).
inline constexpr Chromaticities kDciP3Xy { 0.314, 0.351, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060 };
inline constexpr Chromaticities kAdobeRgbXy { 0.3127, 0.3290, 0.64, 0.33, 0.21, 0.71, 0.15, 0.06 };
inline constexpr Chromaticities kProPhotoXy { 0.3457, 0.3585, 0.7347, 0.2653, 0.1596, 0.8404,
    0.0366, 0.0001 };
inline constexpr Chromaticities kBt2020Xy { 0.3127, 0.3290, 0.708, 0.292, 0.170, 0.797, 0.131,
    0.046 };

// A context of its own for each converter, so converters on different threads share no lcms2 state.
class Context
{
public:
    Context();
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    [[nodiscard]] cmsContext Id() const { return id; }

private:
    cmsContext id = nullptr;
};
using ContextPtr = std::shared_ptr<Context>;

struct ProfileCloser
{
    void operator()(void *profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

struct CurveFreer
{
    void operator()(cmsToneCurve *curve) const { cmsFreeToneCurve(curve); }
};
using Curve = std::unique_ptr<cmsToneCurve, CurveFreer>;

struct TransformDeleter
{
    void operator()(void *transform) const { cmsDeleteTransform(transform); }
};
using Transform = std::unique_ptr<void, TransformDeleter>;

// lcms2 hands header fields back as enums, yet a file may hold any 32-bit value there: they are
// compared as numbers, never held in an enum.
[[nodiscard]] inline std::uint32_t ColourSpaceOf(cmsHPROFILE profile)
{
    return static_cast<std::uint32_t>(cmsGetColorSpace(profile));
}
[[nodiscard]] inline std::uint32_t DeviceClassOf(cmsHPROFILE profile)
{
    return static_cast<std::uint32_t>(cmsGetDeviceClass(profile));
}
[[nodiscard]] inline std::uint32_t ConnectionSpaceOf(cmsHPROFILE profile)
{
    return static_cast<std::uint32_t>(cmsGetPCS(profile));
}

// lcms2's parametric curve of the given type (ICC type plus one, as lcms2 numbers them).
[[nodiscard]] Curve ParametricCurve(cmsContext context, int type, std::initializer_list<double> p);
// Decoding exponent gamma: linear = stored ^ gamma.
[[nodiscard]] Curve GammaCurve(cmsContext context, double gamma);
[[nodiscard]] Curve SrgbCurve(cmsContext context);
// The BT.709 camera curve inverted (H.273 transfer 1, 6, 14, 15).
[[nodiscard]] Curve Bt709Curve(cmsContext context);

// A matrix-and-curve RGB profile with these primaries and white and one curve for all three
// channels; empty when the chromaticities give no profile (a zero y, primaries on one line).
[[nodiscard]] Profile RgbProfile(
    cmsContext context, const Chromaticities &xy, const cmsToneCurve *curve);

// The colorant tags as the columns of the RGB to XYZ (D50) matrix; empty without them.
[[nodiscard]] std::optional<Matrix3> ColorantMatrix(cmsHPROFILE profile);

[[nodiscard]] Matrix3 Multiply(const Matrix3 &a, const Matrix3 &b);
[[nodiscard]] std::optional<Matrix3> Invert(const Matrix3 &m);

// XYZ (D50, lcms2's connection space) to linear sRGB, the inverse of the colorants of lcms2's own
// sRGB profile, so the result matches lcms2's transforms into that profile.
[[nodiscard]] Matrix3 LinearSrgbFromXyz(cmsContext context);

// The luminance row (Y of each primary) for these chromaticities, relative to their own white.
[[nodiscard]] std::optional<std::array<double, 3>> LuminanceWeights(const Chromaticities &xy);

// The profile's English description without surrounding blanks; empty when it has none.
[[nodiscard]] std::string Description(cmsHPROFILE profile);

// "Display P3", "Adobe RGB (1998)", "ProPhoto RGB", "BT.2020", "DCI-P3" for colorants within a
// small tolerance of those spaces', else empty.
[[nodiscard]] std::string RecognisedColorants(cmsContext context, const Matrix3 &colorants);

// The same names for chromaticities within 0.001 of those spaces' (and "sRGB"), else empty.
[[nodiscard]] std::string RecognisedChromaticities(const Chromaticities &xy);

} // namespace imaging::colour
