#include "imaging/colour_lcms.h"

#include <cmath>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace imaging::colour {

namespace {

    struct NamedSpace
    {
        const char *name;
        const Chromaticities *xy;
    };

    // sRGB comes first so that chromaticities matching it are never named after a wider space.
    constexpr NamedSpace kNamedSpaces[] = {
        { "sRGB", &kSrgbXy },
        { "Display P3", &kDisplayP3Xy },
        { "Adobe RGB (1998)", &kAdobeRgbXy },
        { "ProPhoto RGB", &kProPhotoXy },
        { "BT.2020", &kBt2020Xy },
        { "DCI-P3", &kDciP3Xy },
    };

    cmsCIExyY Xy(double x, double y) { return cmsCIExyY { x, y, 1.0 }; }

    // The matrix from RGB to XYZ relative to the white's own Y = 1 (SMPTE RP 177), no adaptation.
    std::optional<Matrix3> NativeMatrix(const Chromaticities &xy)
    {
        for (std::size_t i = 1; i < xy.size(); i += 2) {
            if (!(xy[i] > 0) || !std::isfinite(xy[i]) || !std::isfinite(xy[i - 1]))
                return std::nullopt;
        }
        Matrix3 primaries {};
        for (int c = 0; c < 3; ++c) {
            const double x = xy[2 + 2 * c];
            const double y = xy[3 + 2 * c];
            primaries[0 + c] = x / y;
            primaries[3 + c] = 1;
            primaries[6 + c] = (1 - x - y) / y;
        }
        const auto inverse = Invert(primaries);
        if (!inverse)
            return std::nullopt;
        const double white[3] = { xy[0] / xy[1], 1, (1 - xy[0] - xy[1]) / xy[1] };
        Matrix3 result {};
        for (int c = 0; c < 3; ++c) {
            const double scale = (*inverse)[3 * c] * white[0] + (*inverse)[3 * c + 1] * white[1]
                + (*inverse)[3 * c + 2] * white[2];
            for (int r = 0; r < 3; ++r)
                result[3 * r + c] = primaries[3 * r + c] * scale;
        }
        return result;
    }

} // namespace

Context::Context()
    : id(cmsCreateContext(nullptr, nullptr))
{
}

Context::~Context()
{
    if (id)
        cmsDeleteContext(id);
}

Curve ParametricCurve(cmsContext context, int type, std::initializer_list<double> p)
{
    std::vector<double> params(p);
    params.resize(10, 0.0);
    return Curve(cmsBuildParametricToneCurve(context, type, params.data()));
}

Curve GammaCurve(cmsContext context, double gamma) { return Curve(cmsBuildGamma(context, gamma)); }

Curve SrgbCurve(cmsContext context)
{
    return ParametricCurve(context, 4, { 2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045 });
}

Curve Bt709Curve(cmsContext context)
{
    return ParametricCurve(context, 4, { 1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081 });
}

Profile RgbProfile(cmsContext context, const Chromaticities &xy, const cmsToneCurve *curve)
{
    if (!NativeMatrix(xy))
        return nullptr;
    const cmsCIExyY white = Xy(xy[0], xy[1]);
    const cmsCIExyYTRIPLE primaries { Xy(xy[2], xy[3]), Xy(xy[4], xy[5]), Xy(xy[6], xy[7]) };
    cmsToneCurve *curves[3] = { const_cast<cmsToneCurve *>(curve),
        const_cast<cmsToneCurve *>(curve), const_cast<cmsToneCurve *>(curve) };
    return Profile(cmsCreateRGBProfileTHR(context, &white, &primaries, curves));
}

std::optional<Matrix3> ColorantMatrix(cmsHPROFILE profile)
{
    const cmsTagSignature tags[3]
        = { cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag };
    Matrix3 m {};
    for (int c = 0; c < 3; ++c) {
        const auto *xyz = static_cast<const cmsCIEXYZ *>(cmsReadTag(profile, tags[c]));
        if (!xyz)
            return std::nullopt;
        m[c] = xyz->X;
        m[3 + c] = xyz->Y;
        m[6 + c] = xyz->Z;
    }
    return m;
}

Matrix3 Multiply(const Matrix3 &a, const Matrix3 &b)
{
    Matrix3 m {};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            m[3 * r + c] = a[3 * r] * b[c] + a[3 * r + 1] * b[3 + c] + a[3 * r + 2] * b[6 + c];
        }
    }
    return m;
}

std::optional<Matrix3> Invert(const Matrix3 &m)
{
    const double c0 = m[4] * m[8] - m[5] * m[7];
    const double c1 = m[5] * m[6] - m[3] * m[8];
    const double c2 = m[3] * m[7] - m[4] * m[6];
    const double det = m[0] * c0 + m[1] * c1 + m[2] * c2;
    if (!std::isfinite(det) || std::abs(det) < 1e-9)
        return std::nullopt;
    return Matrix3 { c0 / det, (m[2] * m[7] - m[1] * m[8]) / det, (m[1] * m[5] - m[2] * m[4]) / det,
        c1 / det, (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det, c2 / det,
        (m[1] * m[6] - m[0] * m[7]) / det, (m[0] * m[4] - m[1] * m[3]) / det };
}

Matrix3 LinearSrgbFromXyz(cmsContext context)
{
    const Profile srgb(cmsCreate_sRGBProfileTHR(context));
    return *Invert(*ColorantMatrix(srgb.get()));
}

std::optional<std::array<double, 3>> LuminanceWeights(const Chromaticities &xy)
{
    const auto m = NativeMatrix(xy);
    if (!m)
        return std::nullopt;
    return std::array<double, 3> { (*m)[3], (*m)[4], (*m)[5] };
}

std::string Description(cmsHPROFILE profile)
{
    char text[256] = {};
    cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text, sizeof text);
    std::string_view view(text);
    const auto first = view.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = view.find_last_not_of(" \t\r\n");
    return std::string(view.substr(first, last - first + 1));
}

std::string RecognisedColorants(cmsContext context, const Matrix3 &colorants)
{
    // Colorants are stored as s15.16 numbers and made with more than one adaptation; 0.003 keeps
    // the published profiles of a space together and the spaces apart.
    constexpr double kTolerance = 0.003;
    const Curve linear = GammaCurve(context, 1.0);
    // Not sRGB: a profile with sRGB's colorants but curves of its own goes by its description.
    for (const NamedSpace &space : std::span(kNamedSpaces).subspan(1)) {
        const Profile reference = RgbProfile(context, *space.xy, linear.get());
        const auto expected = ColorantMatrix(reference.get());
        bool near = true;
        for (std::size_t i = 0; i < colorants.size(); ++i)
            near = near && std::abs(colorants[i] - (*expected)[i]) <= kTolerance;
        if (near)
            return space.name;
    }
    return {};
}

std::string RecognisedChromaticities(const Chromaticities &xy)
{
    for (const NamedSpace &space : kNamedSpaces) {
        bool near = true;
        for (std::size_t i = 0; i < xy.size(); ++i)
            near = near && std::abs(xy[i] - (*space.xy)[i]) <= 0.001;
        if (near)
            return space.name;
    }
    return {};
}

} // namespace imaging::colour
