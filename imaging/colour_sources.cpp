#include "imaging/colour_sources.h"

#include "imaging/colour_lcms.h"
#include "imaging/colour_transfer.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <utility>

namespace imaging::colour {

namespace {

    SourceChoice Unusable()
    {
        SourceChoice choice;
        choice.unusable = true;
        return choice;
    }

    SourceChoice Converting(std::unique_ptr<SourceStage> stage, std::string name)
    {
        SourceChoice choice;
        choice.rows = std::make_unique<RowConverter>(std::move(stage));
        choice.name = std::move(name);
        return choice;
    }

    // Evaluates a curve the profile owns through a copy, kept with the context it was made in.
    MatrixShaperStage::Curve ProfileCurve(const ContextPtr &context, const cmsToneCurve *curve)
    {
        struct Held
        {
            ContextPtr context;
            Curve curve;
        };
        auto held = std::make_shared<Held>(Held { context, Curve(cmsDupToneCurve(curve)) });
        if (!held->curve)
            return nullptr;
        return [held](double stored) {
            return static_cast<double>(
                cmsEvalToneCurveFloat(held->curve.get(), static_cast<cmsFloat32Number>(stored)));
        };
    }

    // The fast stage for a matrix-and-curve profile lcms2 would use as such: the profile's own
    // curves and colorants, and lcms2's sRGB colorants on the way out, as lcms2 joins them for
    // relative colorimetric. Grey maps its curve onto D50 white, the same on every channel.
    std::unique_ptr<SourceStage> MatrixShaperFor(const ContextPtr &context, cmsHPROFILE profile)
    {
        const Matrix3 toSrgb = LinearSrgbFromXyz(context->Id());
        if (ColourSpaceOf(profile) == cmsSigGrayData) {
            const auto *trc
                = static_cast<const cmsToneCurve *>(cmsReadTag(profile, cmsSigGrayTRCTag));
            if (!trc)
                return nullptr;
            auto curve = ProfileCurve(context, trc);
            if (!curve)
                return nullptr;
            const cmsCIEXYZ *d50 = cmsD50_XYZ();
            Matrix3 diagonal {};
            for (int c = 0; c < 3; ++c)
                diagonal[4 * c] = toSrgb[3 * c] * d50->X + toSrgb[3 * c + 1] * d50->Y
                    + toSrgb[3 * c + 2] * d50->Z;
            return std::make_unique<MatrixShaperStage>(
                std::array<MatrixShaperStage::Curve, 3> { curve, curve, curve }, diagonal);
        }
        const auto colorants = ColorantMatrix(profile);
        if (!colorants || !Invert(*colorants))
            return nullptr;
        const cmsTagSignature tags[3] = { cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag };
        std::array<MatrixShaperStage::Curve, 3> curves;
        for (int c = 0; c < 3; ++c) {
            const auto *trc = static_cast<const cmsToneCurve *>(cmsReadTag(profile, tags[c]));
            if (!trc || !(curves[c] = ProfileCurve(context, trc)))
                return nullptr;
        }
        return std::make_unique<MatrixShaperStage>(std::move(curves), Multiply(toSrgb, *colorants));
    }

    // lcms2 reads a lookup table in preference to the colorants whenever one is there for the
    // intent (the relative table, falling back to the perceptual one), so only then is the profile
    // a matrix-and-curve source as lcms2 sees it.
    bool UsedAsMatrixShaper(cmsHPROFILE profile)
    {
        return cmsIsMatrixShaper(profile) && !cmsIsTag(profile, cmsSigAToB0Tag)
            && !cmsIsTag(profile, cmsSigAToB1Tag) && !cmsIsTag(profile, cmsSigDToB1Tag);
    }

    SourceChoice FromIcc(const std::vector<std::uint8_t> &icc)
    {
        if (icc.empty())
            return Unusable();
        auto context = std::make_shared<Context>();
        if (!context->Id())
            return Unusable();
        Profile profile(cmsOpenProfileFromMemTHR(
            context->Id(), icc.data(), static_cast<cmsUInt32Number>(icc.size())));
        if (!profile)
            return Unusable();
        const std::uint32_t deviceClass = DeviceClassOf(profile.get());
        if (deviceClass == cmsSigLinkClass || deviceClass == cmsSigAbstractClass
            || deviceClass == cmsSigNamedColorClass)
            return Unusable();
        const std::uint32_t space = ColourSpaceOf(profile.get());
        if (space != cmsSigRgbData && space != cmsSigGrayData)
            return Unusable();
        const bool grey = space == cmsSigGrayData;

        std::string name;
        if (!grey) {
            if (const auto colorants = ColorantMatrix(profile.get()))
                name = RecognisedColorants(context->Id(), *colorants);
        }
        if (name.empty())
            name = Description(profile.get());
        if (name.empty())
            name = "ICC profile";

        std::unique_ptr<RowConverter> rows;
        if (UsedAsMatrixShaper(profile.get())) {
            if (auto stage = MatrixShaperFor(context, profile.get()))
                rows = std::make_unique<RowConverter>(std::move(stage));
        } else {
            auto lut = std::make_unique<LutStage>(context->Id(), profile.get(), grey);
            if (lut->Valid())
                rows = std::make_unique<RowConverter>(std::move(lut));
        }
        if (!rows)
            return Unusable();
        if (rows->KeepsSrgbCodes())
            return SourceChoice {};
        SourceChoice choice;
        choice.rows = std::move(rows);
        choice.name = std::move(name);
        return choice;
    }

    std::optional<Chromaticities> CicpPrimaries(std::uint8_t code)
    {
        switch (code) {
        case 1:
        case 2: // unspecified: taken as sRGB's, as a picture that says nothing
            return kSrgbXy;
        case 9:
            return kBt2020Xy;
        case 11:
            return kDciP3Xy;
        case 12:
            return kDisplayP3Xy;
        default:
            return std::nullopt;
        }
    }

    std::string CicpName(std::uint8_t primaries, std::uint8_t transfer)
    {
        const bool srgbPrimaries = primaries == 1 || primaries == 2;
        const bool bt709Curve = transfer == 1 || transfer == 6 || transfer == 14 || transfer == 15;
        const bool srgbCurve = transfer == 13 || transfer == 2;
        std::string name;
        switch (primaries) {
        case 9:
            name = "BT.2020";
            break;
        case 11:
            name = "DCI-P3";
            break;
        case 12:
            name = "Display P3";
            break;
        default:
            name = srgbCurve ? "sRGB" : "BT.709";
            break;
        }
        if (srgbCurve || (bt709Curve && (srgbPrimaries || primaries == 9)))
            return name;
        switch (transfer) {
        case 4:
            return name + " gamma 2.2";
        case 5:
            return name + " gamma 2.8";
        case 8:
            return name + " linear";
        case 16:
            return name + " PQ";
        case 18:
            return name + " HLG";
        default:
            return name + " BT.709";
        }
    }

    SourceChoice FromHdr(const ContextPtr &context, const Chromaticities &xy, std::uint8_t transfer,
        std::string name)
    {
        const Curve linear = GammaCurve(context->Id(), 1.0);
        const Profile profile = RgbProfile(context->Id(), xy, linear.get());
        const auto colorants = ColorantMatrix(profile.get());
        const auto weights = LuminanceWeights(xy);
        const Matrix3 toSrgb = Multiply(LinearSrgbFromXyz(context->Id()), *colorants);
        MatrixShaperStage::Curve curve;
        std::optional<MatrixShaperStage::Ootf> ootf;
        if (transfer == 16) {
            curve = [](double stored) { return PqToNits(stored) / kReferenceWhiteNits; };
        } else {
            curve = [](double stored) { return HlgToScene(stored); };
            MatrixShaperStage::Ootf hlg;
            for (int c = 0; c < 3; ++c)
                hlg.weights[c] = static_cast<float>((*weights)[c]);
            hlg.exponent = static_cast<float>(kHlgSystemGamma - 1);
            hlg.scale = static_cast<float>(kHlgPeakNits / kReferenceWhiteNits);
            ootf = hlg;
        }
        return Converting(
            std::make_unique<MatrixShaperStage>(
                std::array<MatrixShaperStage::Curve, 3> { curve, curve, curve }, toSrgb, ootf),
            std::move(name));
    }

    SourceChoice FromCicp(const Cicp &cicp)
    {
        const auto xy = CicpPrimaries(cicp.primaries);
        if (!xy)
            return Unusable();
        const bool srgbPrimaries = cicp.primaries == 1 || cicp.primaries == 2;
        auto context = std::make_shared<Context>();
        if (!context->Id())
            return Unusable();
        const cmsContext id = context->Id();
        Curve curve;
        switch (cicp.transfer) {
        case 2: // unspecified
        case 13:
            if (srgbPrimaries)
                return SourceChoice {};
            curve = SrgbCurve(id);
            break;
        case 1:
        case 6:
        case 14:
        case 15:
            curve = Bt709Curve(id);
            break;
        case 4:
            curve = GammaCurve(id, 2.2);
            break;
        case 5:
            curve = GammaCurve(id, 2.8);
            break;
        case 8:
            curve = GammaCurve(id, 1.0);
            break;
        case 16:
        case 18:
            return FromHdr(context, *xy, cicp.transfer, CicpName(cicp.primaries, cicp.transfer));
        default:
            return Unusable();
        }
        const Profile profile = RgbProfile(id, *xy, curve.get());
        auto stage = MatrixShaperFor(context, profile.get());
        if (!stage)
            return Unusable();
        return Converting(std::move(stage), CicpName(cicp.primaries, cicp.transfer));
    }

    std::string GammaName(double gamma, const std::string &primaries)
    {
        char digits[32] = {};
        const auto written = std::to_chars(
            digits, digits + sizeof digits - 1, 1 / gamma, std::chars_format::fixed, 1);
        std::string name = "gamma " + std::string(digits, written.ptr);
        if (primaries.empty() || primaries == "sRGB")
            return name;
        return primaries + " " + name;
    }

    SourceChoice FromGamma(const ColourDescription &description)
    {
        const double gamma = description.gamma;
        // Exponents from 1/10 to 10 cover every file seen; anything else is a broken chunk.
        if (!std::isfinite(gamma) || gamma < 0.1 || gamma > 10)
            return Unusable();
        bool hasChromaticities = false;
        for (double value : description.chromaticities)
            hasChromaticities = hasChromaticities || value != 0;
        const Chromaticities xy = hasChromaticities ? description.chromaticities : kSrgbXy;
        const std::string primaries = RecognisedChromaticities(xy);
        if (std::abs(gamma - 0.45455) <= 0.0005 && primaries == "sRGB")
            return SourceChoice {};

        auto context = std::make_shared<Context>();
        if (!context->Id())
            return Unusable();
        const Curve curve = GammaCurve(context->Id(), 1 / gamma);
        const Profile profile = RgbProfile(context->Id(), xy, curve.get());
        if (!profile)
            return Unusable();
        auto stage = MatrixShaperFor(context, profile.get());
        if (!stage)
            return Unusable();
        return Converting(std::move(stage), GammaName(gamma, primaries));
    }

    SourceChoice FromLab()
    {
        const Context context;
        if (!context.Id())
            return Unusable();
        return Converting(std::make_unique<LabStage>(LinearSrgbFromXyz(context.Id())), "CIELab");
    }

} // namespace

SourceChoice ChooseSource(const ColourDescription &description)
{
    if (description.damaged)
        return Unusable();
    switch (description.kind) {
    case ColourDescription::Kind::Unspecified:
    case ColourDescription::Kind::Srgb:
        return SourceChoice {};
    case ColourDescription::Kind::Icc:
        return FromIcc(description.icc);
    case ColourDescription::Kind::Cicp:
        return FromCicp(description.cicp);
    case ColourDescription::Kind::GammaChromaticities:
        return FromGamma(description);
    case ColourDescription::Kind::Lab:
        return FromLab();
    }
    return Unusable();
}

} // namespace imaging::colour
