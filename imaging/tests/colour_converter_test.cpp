// The conversion to sRGB against lcms2's own floating-point transform (relative colorimetric,
// clipped and rounded afterwards), and the HDR curves against their published formulas.
#include "imaging/colour_converter.h"

#include <lcms2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using imaging::ColourConverter;
using imaging::ColourDescription;
using Kind = ColourDescription::Kind;

const std::string kGhostscriptIcc = "/usr/share/color/icc/ghostscript/";

// The published primaries (white, red, green, blue as xy), written out here rather than taken from
// the code under test.
constexpr double kP3[8] = { 0.3127, 0.3290, 0.680, 0.320, 0.265, 0.690, 0.150, 0.060 };
constexpr double kBt2020[8] = { 0.3127, 0.3290, 0.708, 0.292, 0.170, 0.797, 0.131, 0.046 };
constexpr double kBt709[8] = { 0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06 };
constexpr double kProPhoto[8] = { 0.3457, 0.3585, 0.7347, 0.2653, 0.1596, 0.8404, 0.0366, 0.0001 };

double SrgbEncode(double linear)
{
    return linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

std::uint8_t Code(double encoded)
{
    return static_cast<std::uint8_t>(std::floor(std::clamp(encoded, 0.0, 1.0) * 255 + 0.5));
}

cmsToneCurve *Parametric(int type, std::vector<double> params)
{
    params.resize(10, 0.0);
    return cmsBuildParametricToneCurve(nullptr, type, params.data());
}

// IEC 61966-2-1 and the inverted BT.709 camera curve, as ICC parametric type 4.
cmsToneCurve *SrgbTrc()
{
    return Parametric(4, { 2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045 });
}
cmsToneCurve *Bt709Trc()
{
    return Parametric(4, { 1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081 });
}

cmsHPROFILE MakeRgb(const double *xy, cmsToneCurve *trc, const char *description = nullptr)
{
    const cmsCIExyY white { xy[0], xy[1], 1 };
    const cmsCIExyYTRIPLE primaries { { xy[2], xy[3], 1 }, { xy[4], xy[5], 1 },
        { xy[6], xy[7], 1 } };
    cmsToneCurve *curves[3] = { trc, trc, trc };
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(trc);
    if (description) {
        cmsMLU *text = cmsMLUalloc(nullptr, 1);
        cmsMLUsetASCII(text, "en", "US", description);
        cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
        cmsMLUfree(text);
    }
    return profile;
}

std::vector<std::uint8_t> Bytes(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

std::vector<std::uint8_t> FileBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

// sRGB as many older files embed it: the curve as a 1024-entry table.
std::vector<std::uint8_t> TabulatedSrgbIcc()
{
    std::vector<cmsUInt16Number> table(1024);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const double v = i / 1023.0;
        const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        table[i] = static_cast<cmsUInt16Number>(std::lround(linear * 65535));
    }
    return Bytes(MakeRgb(kBt709, cmsBuildTabulatedToneCurve16(nullptr, 1024, table.data())));
}

int SampleLab(const cmsUInt16Number in[], cmsUInt16Number out[], void *transform)
{
    cmsDoTransform(static_cast<cmsHTRANSFORM>(transform), in, out, 1);
    return 1;
}

// A lookup-table profile (no colorants, an AToB0 grid into Lab or XYZ) that stands for Display P3.
// Version 2, so lcms2 writes the grid alone as a lut16 (its v4 writer wants curves around it).
std::vector<std::uint8_t> LutIcc(bool lab = true)
{
    cmsHPROFILE p3 = MakeRgb(kP3, SrgbTrc());
    cmsHPROFILE pcs = lab ? cmsCreateLab4Profile(nullptr) : cmsCreateXYZProfile();
    cmsHTRANSFORM toPcs = cmsCreateTransform(p3, TYPE_RGB_16, pcs,
        lab ? TYPE_LabV2_16 : TYPE_XYZ_16, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    cmsPipeline *lut = cmsPipelineAlloc(nullptr, 3, 3);
    cmsStage *grid = cmsStageAllocCLut16bit(nullptr, 33, 3, 3, nullptr);
    cmsStageSampleCLut16bit(grid, SampleLab, toPcs, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigDisplayClass);
    cmsSetColorSpace(profile, cmsSigRgbData);
    cmsSetPCS(profile, lab ? cmsSigLabData : cmsSigXYZData);
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsMLU *text = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(text, "en", "US", " Quillmere test LUT ");
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, text);
    cmsMLUfree(text);
    cmsPipelineFree(lut);
    cmsDeleteTransform(toPcs);
    cmsCloseProfile(pcs);
    cmsCloseProfile(p3);
    return Bytes(profile);
}

ColourDescription Icc(std::vector<std::uint8_t> bytes)
{
    ColourDescription d;
    d.kind = Kind::Icc;
    d.icc = std::move(bytes);
    return d;
}

ColourDescription Cicp(int primaries, int transfer)
{
    ColourDescription d;
    d.kind = Kind::Cicp;
    d.cicp.primaries = static_cast<std::uint8_t>(primaries);
    d.cicp.transfer = static_cast<std::uint8_t>(transfer);
    d.cicp.matrix = 1;
    d.cicp.fullRange = false;
    return d;
}

ColourDescription Gamma(double gamma, const double *xy = nullptr)
{
    ColourDescription d;
    d.kind = Kind::GammaChromaticities;
    d.gamma = gamma;
    if (xy)
        std::copy(xy, xy + 8, d.chromaticities.begin());
    return d;
}

// lcms2's float transform into its own sRGB profile, clipped and rounded; alpha kept.
std::vector<std::uint32_t> Reference(cmsHPROFILE source, bool grey,
    const std::vector<std::array<float, 3>> &rgb, const std::vector<std::uint32_t> &alpha)
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(source, grey ? TYPE_GRAY_FLT : TYPE_RGB_FLT, srgb,
        TYPE_RGB_FLT, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<float> in;
    for (const auto &p : rgb) {
        in.insert(in.end(), p.begin(), grey ? p.begin() + 1 : p.end());
    }
    std::vector<float> out(3 * rgb.size());
    cmsDoTransform(transform, in.data(), out.data(), static_cast<cmsUInt32Number>(rgb.size()));
    cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    std::vector<std::uint32_t> expected(rgb.size());
    for (std::size_t i = 0; i < rgb.size(); ++i) {
        expected[i] = alpha[i] | (std::uint32_t { Code(out[3 * i]) } << 16)
            | (std::uint32_t { Code(out[3 * i + 1]) } << 8) | Code(out[3 * i + 2]);
    }
    return expected;
}

int ChannelDifference(std::uint32_t a, std::uint32_t b)
{
    int worst = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int da
            = static_cast<int>((a >> shift) & 0xFFu) - static_cast<int>((b >> shift) & 0xFFu);
        worst = std::max(worst, std::abs(da));
    }
    return worst;
}

// Every value of one channel with the others on a coarse grid, then random pixels, random alpha.
std::vector<std::uint32_t> DenseGrid(bool grey)
{
    std::vector<std::uint32_t> pixels;
    std::mt19937 random(7);
    if (grey) {
        for (std::uint32_t v = 0; v < 256; ++v)
            pixels.push_back(v * 0x010101u);
        for (int i = 0; i < 1000; ++i)
            pixels.push_back((random() & 0xFF) * 0x010101u);
    } else {
        constexpr std::uint32_t kCoarse[] = { 0, 64, 128, 192, 255 };
        for (int shift : { 16, 8, 0 }) {
            for (std::uint32_t v = 0; v < 256; ++v) {
                for (std::uint32_t a : kCoarse) {
                    for (std::uint32_t b : kCoarse) {
                        const int s1 = shift == 16 ? 8 : 16;
                        const int s2 = shift == 0 ? 8 : 0;
                        pixels.push_back((v << shift) | (a << s1) | (b << s2));
                    }
                }
            }
        }
        for (int i = 0; i < 3000; ++i)
            pixels.push_back(random() & 0xFFFFFFu);
    }
    for (auto &p : pixels)
        p |= (random() & 0xFFu) << 24;
    return pixels;
}

struct ProfileCase
{
    const char *label;
    ColourDescription description;
    // The same colours as lcms2 sees them, made here independently of the converter.
    cmsHPROFILE (*reference)();
    std::string name;
    bool grey = false;
};

std::vector<ProfileCase> ProfileCases()
{
    return {
        { "Display P3 ICC", Icc(Bytes(MakeRgb(kP3, SrgbTrc(), "Made for the test"))),
            [] { return MakeRgb(kP3, SrgbTrc()); }, "Display P3" },
        { "Ghostscript a98", Icc(FileBytes(kGhostscriptIcc + "a98.icc")),
            [] { return cmsOpenProfileFromFile((kGhostscriptIcc + "a98.icc").c_str(), "r"); },
            "Adobe RGB (1998)" },
        { "Ghostscript ROMM", Icc(FileBytes(kGhostscriptIcc + "rommrgb.icc")),
            [] { return cmsOpenProfileFromFile((kGhostscriptIcc + "rommrgb.icc").c_str(), "r"); },
            "ProPhoto RGB" },
        { "Ghostscript grey 1.8", Icc(FileBytes(kGhostscriptIcc + "sgray.icc")),
            [] { return cmsOpenProfileFromFile((kGhostscriptIcc + "sgray.icc").c_str(), "r"); },
            "Artifex Software sGray ICC Profile", true },
        { "LUT profile", Icc(LutIcc()),
            [] {
                const auto bytes = LutIcc();
                return cmsOpenProfileFromMem(
                    bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
            },
            "Quillmere test LUT" },
        { "LUT profile into XYZ", Icc(LutIcc(false)),
            [] {
                const auto bytes = LutIcc(false);
                return cmsOpenProfileFromMem(
                    bytes.data(), static_cast<cmsUInt32Number>(bytes.size()));
            },
            "Quillmere test LUT" },
        { "gAMA 1/1.8 cHRM ProPhoto", Gamma(1 / 1.8, kProPhoto),
            [] { return MakeRgb(kProPhoto, cmsBuildGamma(nullptr, 1.8)); },
            "ProPhoto RGB gamma 1.8" },
        { "gAMA 1/2.2 cHRM P3", Gamma(0.45455, kP3),
            [] { return MakeRgb(kP3, cmsBuildGamma(nullptr, 1 / 0.45455)); },
            "Display P3 gamma 2.2" },
        { "gAMA 1.0", Gamma(1.0), [] { return MakeRgb(kBt709, cmsBuildGamma(nullptr, 1.0)); },
            "gamma 1.0" },
        { "CICP P3", Cicp(12, 13), [] { return MakeRgb(kP3, SrgbTrc()); }, "Display P3" },
        { "CICP BT.2020", Cicp(9, 14), [] { return MakeRgb(kBt2020, Bt709Trc()); }, "BT.2020" },
        { "CICP BT.709", Cicp(1, 1), [] { return MakeRgb(kBt709, Bt709Trc()); }, "BT.709" },
        { "CICP BT.709 linear", Cicp(1, 8),
            [] { return MakeRgb(kBt709, cmsBuildGamma(nullptr, 1)); }, "BT.709 linear" },
        { "CICP P3 gamma 2.8", Cicp(12, 5),
            [] { return MakeRgb(kP3, cmsBuildGamma(nullptr, 2.8)); }, "Display P3 gamma 2.8" },
    };
}

TEST(ColourConverterTest, MatchesLcmsWithinOneOnEveryChannel)
{
    int worstOverall = 0;
    for (const ProfileCase &c : ProfileCases()) {
        SCOPED_TRACE(c.label);
        ColourConverter converter = ColourConverter::For(c.description);
        ASSERT_FALSE(converter.IsIdentity());
        EXPECT_FALSE(converter.Unusable());
        EXPECT_EQ(converter.SourceName(), c.name);

        std::vector<std::uint32_t> pixels = DenseGrid(c.grey);
        std::vector<std::array<float, 3>> rgb;
        std::vector<std::uint32_t> alpha;
        for (std::uint32_t p : pixels) {
            rgb.push_back(
                { ((p >> 16) & 0xFF) / 255.0f, ((p >> 8) & 0xFF) / 255.0f, (p & 0xFF) / 255.0f });
            alpha.push_back(p & 0xFF000000u);
        }
        cmsHPROFILE reference = c.reference();
        const auto expected = Reference(reference, c.grey, rgb, alpha);

        // An odd length, so the last block is a partial one.
        converter.ConvertRow(pixels.data(), static_cast<std::int32_t>(pixels.size()));
        int worst = 0;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            worst = std::max(worst, ChannelDifference(pixels[i], expected[i]));
            if (ChannelDifference(pixels[i], expected[i]) > 1)
                ADD_FAILURE() << std::hex << "pixel " << i << " got " << pixels[i] << " lcms2 "
                              << expected[i];
            if (::testing::Test::HasFailure())
                break;
        }

        // The same from 16-bit samples, against lcms2 fed the same full-precision values.
        std::mt19937 random(11);
        std::vector<std::uint16_t> samples;
        rgb.clear();
        alpha.clear();
        for (int i = 0; i < 1001; ++i) {
            const std::uint16_t r = random() & 0xFFFF;
            const std::uint16_t g = c.grey ? r : random() & 0xFFFF;
            const std::uint16_t b = c.grey ? r : random() & 0xFFFF;
            const std::uint16_t a = random() & 0xFFFF;
            samples.insert(samples.end(), { r, g, b, a });
            rgb.push_back({ r / 65535.0f, g / 65535.0f, b / 65535.0f });
            alpha.push_back(((a * 255u + 32767u) / 65535u) << 24);
        }
        const auto expected16 = Reference(reference, c.grey, rgb, alpha);
        cmsCloseProfile(reference);
        std::vector<std::uint32_t> out(rgb.size());
        converter.ConvertRow16(samples.data(), out.data(), static_cast<std::int32_t>(out.size()));
        for (std::size_t i = 0; i < out.size(); ++i) {
            worst = std::max(worst, ChannelDifference(out[i], expected16[i]));
            ASSERT_LE(ChannelDifference(out[i], expected16[i]), 1)
                << std::hex << "16-bit pixel " << i << " got " << out[i] << " lcms2 "
                << expected16[i];
        }
        worstOverall = std::max(worstOverall, worst);
    }
    RecordProperty("largest_difference_from_lcms2", worstOverall);
}

// Display P3 (200,60,40) is about #D92A17 in sRGB (CSS Color 4's matrices); neutrals stay.
TEST(ColourConverterTest, DisplayP3KnownValues)
{
    ColourConverter converter = ColourConverter::For(Cicp(12, 13));
    std::uint32_t row[] = { 0x80C83C28u, 0xFF808080u, 0xFFFFFFFFu, 0x00000000u };
    converter.ConvertRow(row, 4);
    EXPECT_LE(ChannelDifference(row[0], 0x80D92A17u), 1) << std::hex << row[0];
    EXPECT_EQ(row[1], 0xFF808080u);
    EXPECT_EQ(row[2], 0xFFFFFFFFu);
    EXPECT_EQ(row[3], 0x00000000u);
    EXPECT_EQ(converter.ClippedPixels(), 0u);
}

TEST(ColourConverterTest, LookupTableProfileCloseToItsMatrixTwin)
{
    ColourConverter lut = ColourConverter::For(Icc(LutIcc()));
    ColourConverter matrix = ColourConverter::For(Cicp(12, 13));
    std::vector<std::uint32_t> a = DenseGrid(false);
    std::vector<std::uint32_t> b = a;
    lut.ConvertRow(a.data(), static_cast<std::int32_t>(a.size()));
    matrix.ConvertRow(b.data(), static_cast<std::int32_t>(b.size()));
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        worst = std::max(worst, ChannelDifference(a[i], b[i]));
    // The profile's own 33-point Lab grid is up to 7 codes off its matrix twin near black.
    EXPECT_LE(worst, 8);
    EXPECT_GT(lut.ClippedPixels(), 0u);
    // Pixels right at the edge of sRGB may fall either side after interpolation.
    EXPECT_NEAR(static_cast<double>(lut.ClippedPixels()),
        static_cast<double>(matrix.ClippedPixels()), matrix.ClippedPixels() / 100.0);
}

TEST(ColourConverterTest, SrgbDescriptionsAreTheIdentity)
{
    ColourDescription cicpSrgbLimited = Cicp(1, 13);
    double nearSrgb[8];
    std::copy(kBt709, kBt709 + 8, nearSrgb);
    nearSrgb[2] += 0.0009;
    nearSrgb[7] -= 0.0009;
    const struct
    {
        const char *label;
        ColourDescription description;
    } cases[] = {
        { "unspecified", ColourDescription {} },
        { "sRGB chunk",
            [] {
                ColourDescription d;
                d.kind = Kind::Srgb;
                return d;
            }() },
        { "CICP 1/13", cicpSrgbLimited },
        { "CICP unspecified 2/2", Cicp(2, 2) },
        { "lcms2's sRGB", Icc(Bytes(cmsCreate_sRGBProfile())) },
        { "Ghostscript srgb.icc", Icc(FileBytes(kGhostscriptIcc + "srgb.icc")) },
        { "tabulated sRGB", Icc(TabulatedSrgbIcc()) },
        { "gAMA 1/2.2", Gamma(0.45455) },
        { "gAMA 0.4550, cHRM near sRGB", Gamma(0.4550, nearSrgb) },
    };
    std::mt19937 random(3);
    std::vector<std::uint32_t> row(777);
    for (auto &p : row)
        p = random();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        ColourConverter converter = ColourConverter::For(c.description);
        EXPECT_TRUE(converter.IsIdentity());
        EXPECT_FALSE(converter.Unusable());
        EXPECT_EQ(converter.SourceName(), "sRGB");
        std::vector<std::uint32_t> copy = row;
        converter.ConvertRow(copy.data(), static_cast<std::int32_t>(copy.size()));
        EXPECT_EQ(copy, row);
    }
}

TEST(ColourConverterTest, NearlySrgbIsNotTheIdentity)
{
    double offSrgb[8];
    std::copy(kBt709, kBt709 + 8, offSrgb);
    offSrgb[4] += 0.002;
    EXPECT_FALSE(ColourConverter::For(Gamma(0.4540)).IsIdentity());
    EXPECT_FALSE(ColourConverter::For(Gamma(0.45455, offSrgb)).IsIdentity());
    EXPECT_FALSE(ColourConverter::For(Icc(Bytes(MakeRgb(kBt709, cmsBuildGamma(nullptr, 2.2)))))
                     .IsIdentity());
}

TEST(ColourConverterTest, UnusableDescriptionsReadAsSrgb)
{
    ColourDescription damaged = Cicp(12, 13);
    damaged.damaged = true;
    double collinear[8] = { 0.3127, 0.3290, 0.2, 0.2, 0.3, 0.3, 0.4, 0.4 };
    std::vector<std::uint8_t> truncated = FileBytes(kGhostscriptIcc + "a98.icc");
    truncated.resize(200);
    // Header fields no enum of lcms2 names: the colour space, then the device class.
    std::vector<std::uint8_t> unknownSpace = FileBytes(kGhostscriptIcc + "a98.icc");
    const std::uint8_t odd[4] = { 0xAE, 0xB8, 0x42, 0x20 };
    std::vector<std::uint8_t> unknownClass = unknownSpace;
    std::copy(odd, odd + 4, unknownSpace.begin() + 16);
    std::copy(odd, odd + 4, unknownClass.begin() + 12);
    const struct
    {
        const char *label;
        ColourDescription description;
    } cases[] = {
        { "damaged", damaged },
        { "empty ICC", Icc({}) },
        { "not an ICC profile", Icc(std::vector<std::uint8_t>(600, 0x41)) },
        { "truncated ICC", Icc(truncated) },
        { "CMYK ICC", Icc(FileBytes(kGhostscriptIcc + "default_cmyk.icc")) },
        { "Lab ICC", Icc(FileBytes(kGhostscriptIcc + "lab.icc")) },
        { "unknown colour space", Icc(unknownSpace) },
        { "unknown device class", Icc(unknownClass) },
        { "CICP primaries 4", Cicp(4, 13) },
        { "CICP transfer 17", Cicp(1, 17) },
        { "gAMA 0", Gamma(0) },
        { "cHRM on one line", Gamma(0.45455, collinear) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        ColourConverter converter = ColourConverter::For(c.description);
        EXPECT_TRUE(converter.IsIdentity());
        EXPECT_TRUE(converter.Unusable());
        EXPECT_EQ(converter.SourceName(), "sRGB");
        std::uint32_t row[] = { 0xFFC83C28u };
        converter.ConvertRow(row, 1);
        EXPECT_EQ(row[0], 0xFFC83C28u);
    }
}

TEST(ColourConverterTest, SourceNames)
{
    const struct
    {
        ColourDescription description;
        const char *name;
    } cases[] = {
        { Cicp(9, 13), "BT.2020" },
        { Cicp(9, 16), "BT.2020 PQ" },
        { Cicp(9, 18), "BT.2020 HLG" },
        { Cicp(11, 13), "DCI-P3" },
        { Cicp(12, 16), "Display P3 PQ" },
        { Cicp(1, 4), "BT.709 gamma 2.2" },
        { Gamma(0.55556), "gamma 1.8" },
        { Icc(Bytes(MakeRgb(kBt709, cmsBuildGamma(nullptr, 1.0), "  Linear camera\t "))),
            "Linear camera" },
        { Icc(Bytes(MakeRgb(kBt709, cmsBuildGamma(nullptr, 1.0), " \t "))), "ICC profile" },
        { Icc(Bytes(MakeRgb(kBt2020, SrgbTrc(), "Something else"))), "BT.2020" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ColourConverter::For(c.description).SourceName(), c.name);
    }
}

// A 16-bit sample between two 8-bit codes must not be rounded before the conversion: through a
// gamma 1.8 source every grey lands where the formula puts it.
TEST(ColourConverterTest, SixteenBitSamplesKeepTheirPrecision)
{
    ColourConverter converter = ColourConverter::For(Gamma(1 / 1.8));
    int checked = 0;
    int differFromRounded = 0;
    for (std::uint32_t v = 0; v < 65536; v += 97) {
        const double exact = SrgbEncode(std::pow(v / 65535.0, 1.8)) * 255;
        if (std::abs(exact - std::floor(exact) - 0.5) < 0.05)
            continue;
        const double rounded = SrgbEncode(std::pow(std::lround(v / 257.0) / 255.0, 1.8)) * 255;
        differFromRounded += std::lround(rounded) != std::lround(exact);
        const std::uint16_t sample[4] = { static_cast<std::uint16_t>(v),
            static_cast<std::uint16_t>(v), static_cast<std::uint16_t>(v), 65535 };
        std::uint32_t out = 0;
        converter.ConvertRow16(sample, &out, 1);
        const std::uint32_t code = static_cast<std::uint32_t>(std::lround(exact));
        ASSERT_EQ(out, 0xFF000000u | code * 0x010101u) << "sample " << v;
        ++checked;
    }
    EXPECT_GT(differFromRounded, 10);
    EXPECT_GT(checked, 500);
}

TEST(ColourConverterTest, IdentityRoundsSixteenBitSamples)
{
    ColourConverter identity;
    const std::uint16_t samples[]
        = { 0, 128, 129, 65535, 32896, 32767, 32768, 385, 65535, 0, 1, 65407 };
    std::uint32_t out[3] = {};
    identity.ConvertRow16(samples, out, 3);
    // x * 255 / 65535 to nearest: 128 -> 0.498, 129 -> 0.502, 32767 -> 127.498, 65407 -> 254.502.
    EXPECT_EQ(out[0], 0xFF000001u);
    EXPECT_EQ(out[1], 0x01807F80u);
    EXPECT_EQ(out[2], 0xFFFF0000u);
    EXPECT_EQ(identity.ClippedPixels(), 0u);
}

// Clipped means a channel more than half an 8-bit step outside 0..255 once encoded; the count
// runs on over the rows of one picture.
TEST(ColourConverterTest, CountsClippedPixels)
{
    ColourConverter p3 = ColourConverter::For(Cicp(12, 13));
    // Pure P3 red and green are far outside sRGB; the others are inside.
    std::uint32_t row[] = { 0xFFFF0000u, 0xFF808080u, 0xFFC83C28u, 0xFF00FF00u, 0xFFFFFFFFu };
    p3.ConvertRow(row, 5);
    EXPECT_EQ(p3.ClippedPixels(), 2u);
    EXPECT_EQ(row[0] & 0xFFFFFFu, 0xFF0000u);
    const std::uint16_t red16[] = { 65535, 0, 0, 65535 };
    std::uint32_t out = 0;
    p3.ConvertRow16(red16, &out, 1);
    EXPECT_EQ(p3.ClippedPixels(), 3u);

    // Inside the tolerance: BT.709 primaries through the BT.709 curve never leave sRGB's gamut.
    ColourConverter bt709 = ColourConverter::For(Cicp(1, 1));
    std::vector<std::uint32_t> grid = DenseGrid(false);
    bt709.ConvertRow(grid.data(), static_cast<std::int32_t>(grid.size()));
    EXPECT_EQ(bt709.ClippedPixels(), 0u);
}

// SMPTE ST 2084's inverse EOTF, to make PQ codes for chosen luminances.
double PqSignal(double nits)
{
    const double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128;
    const double c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
    const double y = std::pow(nits / 10000, m1);
    return std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
}

double PqNits(double signal)
{
    const double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128;
    const double c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32, c3 = 2392.0 / 4096 * 32;
    const double p = std::pow(signal, 1 / m2);
    return 10000 * std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1 / m1);
}

// BT.2100 HLG: inverse OETF, then the OOTF of a 1000 cd/m² display (gamma 1.2) on BT.2020's Y.
std::array<double, 3> HlgNits(const std::array<double, 3> &signal)
{
    const double a = 0.17883277, b = 1 - 4 * a, c = 0.5 - a * std::log(4 * a);
    std::array<double, 3> scene {};
    for (int i = 0; i < 3; ++i) {
        const double e = signal[i];
        scene[i] = e <= 0.5 ? e * e / 3 : (std::exp((e - c) / a) + b) / 12;
    }
    const double y = 0.2627 * scene[0] + 0.6780 * scene[1] + 0.0593 * scene[2];
    const double gain = 1000 * std::pow(y, 0.2);
    return { gain * scene[0], gain * scene[1], gain * scene[2] };
}

// Linear BT.2020 (1.0 = 203 cd/m²) to sRGB through lcms2's matrices, clipped and rounded.
std::uint32_t Bt2020LinearToSrgb(const std::array<double, 3> &nits)
{
    static const cmsHTRANSFORM transform = [] {
        cmsHPROFILE linear = MakeRgb(kBt2020, cmsBuildGamma(nullptr, 1.0));
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHTRANSFORM t = cmsCreateTransform(
            linear, TYPE_RGB_DBL, srgb, TYPE_RGB_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
        cmsCloseProfile(srgb);
        cmsCloseProfile(linear);
        return t;
    }();
    const double in[3] = { nits[0] / 203, nits[1] / 203, nits[2] / 203 };
    double out[3] = {};
    cmsDoTransform(transform, in, out, 1);
    return 0xFF000000u | (std::uint32_t { Code(out[0]) } << 16)
        | (std::uint32_t { Code(out[1]) } << 8) | Code(out[2]);
}

// HLG's OOTF keeps these pictures off the one-pass conversion, so the converter remembers colours.
// Colours seen before are taken from what the converter remembers, colours that share its slot
// push each other out: either way every pixel, its alpha and the clipped count come out as for
// the same colour converted on its own.
TEST(ColourConverterTest, RepeatedColoursConvertAsAlone)
{
    std::mt19937 random(7);
    std::vector<std::uint32_t> colours;
    for (int i = 0; i < 60; ++i)
        colours.push_back(random() & 0xFFFFFFu);
    colours.push_back(0xFF0000u); // far outside sRGB in BT.2020
    struct Alone
    {
        std::uint32_t pixel;
        std::uint64_t clipped;
    };
    std::vector<Alone> alone;
    for (std::uint32_t colour : colours) {
        ColourConverter own = ColourConverter::For(Cicp(9, 18));
        std::uint32_t pixel = 0xFF000000u | colour;
        own.ConvertRow(&pixel, 1);
        alone.push_back({ pixel & 0xFFFFFFu, own.ClippedPixels() });
    }
    std::vector<std::size_t> picks(5000);
    std::vector<std::uint32_t> row(picks.size());
    std::uint64_t expectedClipped = 0;
    for (std::size_t i = 0; i < picks.size(); ++i) {
        picks[i] = random() % colours.size();
        row[i] = (random() & 0xFF000000u) | colours[picks[i]];
        expectedClipped += alone[picks[i]].clipped;
    }
    const std::vector<std::uint32_t> source = row;
    ColourConverter converter = ColourConverter::For(Cicp(9, 18));
    // Enough rows for what is remembered to be cleared and grown twice on the way.
    for (int round = 0; round < 80; ++round) {
        SCOPED_TRACE(round);
        row = source;
        converter.ConvertRow(row.data(), static_cast<std::int32_t>(row.size()));
        for (std::size_t i = 0; i < row.size(); ++i)
            ASSERT_EQ(row[i], (source[i] & 0xFF000000u) | alone[picks[i]].pixel) << i;
        ASSERT_EQ(converter.ClippedPixels(), expectedClipped * (round + 1));
    }
}

// A picture of noise repeats few colours; past a few million pixels the converter stops looking
// them up, and its rows still come out as a fresh converter's do.
TEST(ColourConverterTest, NoiseConvertsAsRowsOnTheirOwn)
{
    std::mt19937 random(11);
    constexpr std::int32_t kWidth = 6000;
    ColourConverter converter = ColourConverter::For(Cicp(9, 18));
    std::uint64_t expectedClipped = 0;
    for (int y = 0; y < 500; ++y) {
        std::vector<std::uint32_t> row(kWidth);
        for (std::uint32_t &p : row)
            p = random();
        std::vector<std::uint32_t> expected = row;
        ColourConverter fresh = ColourConverter::For(Cicp(9, 18));
        fresh.ConvertRow(expected.data(), kWidth);
        expectedClipped += fresh.ClippedPixels();
        converter.ConvertRow(row.data(), kWidth);
        ASSERT_EQ(row, expected) << "row " << y;
    }
    EXPECT_EQ(converter.ClippedPixels(), expectedClipped);
}

TEST(ColourConverterTest, PqFromTheFormula)
{
    // 203 cd/m² is sRGB white; the PQ code for it is about 0.5806.
    EXPECT_NEAR(PqSignal(203), 0.5806, 0.0001);
    const auto sample = [](double nits) {
        return static_cast<std::uint16_t>(std::lround(PqSignal(nits) * 65535));
    };
    ColourConverter pq = ColourConverter::For(Cicp(9, 16));
    const struct
    {
        double nits;
        std::uint32_t grey;
        bool clipped;
    } greys[] = {
        { 0, 0, false },
        { 203, 255, false },
        { 100, Code(SrgbEncode(100 / 203.0)), false },
        { 5, Code(SrgbEncode(5 / 203.0)), false },
        { 1000, 255, true },
    };
    for (const auto &g : greys) {
        SCOPED_TRACE(g.nits);
        const std::uint64_t before = pq.ClippedPixels();
        const std::uint16_t s = sample(g.nits);
        const std::uint16_t px[4] = { s, s, s, 65535 };
        std::uint32_t out = 0;
        pq.ConvertRow16(px, &out, 1);
        EXPECT_LE(ChannelDifference(out, 0xFF000000u | g.grey * 0x010101u), 1) << std::hex << out;
        EXPECT_EQ(pq.ClippedPixels() - before, g.clipped ? 1u : 0u);
    }
    std::mt19937 random(5);
    for (int i = 0; i < 200; ++i) {
        // Mostly below reference white, where the primaries' conversion shows.
        std::uint32_t p = 0xFF000000u;
        std::array<double, 3> nits {};
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t v = random() % 150;
            p |= v << (16 - 8 * c);
            nits[c] = PqNits(v / 255.0);
        }
        SCOPED_TRACE(p);
        std::uint32_t converted = p;
        pq.ConvertRow(&converted, 1);
        ASSERT_LE(ChannelDifference(converted, Bt2020LinearToSrgb(nits)), 1)
            << std::hex << converted;
    }
}

TEST(ColourConverterTest, HlgFromTheFormula)
{
    ColourConverter hlg = ColourConverter::For(Cicp(9, 18));
    // HLG 0.75 is reference white on a 1000 cd/m² display (BT.2408): 203 cd/m².
    EXPECT_NEAR(HlgNits({ 0.75, 0.75, 0.75 })[1], 203, 0.5);
    std::mt19937 random(9);
    for (int i = 0; i < 300; ++i) {
        std::uint32_t p = 0xFF000000u;
        std::array<double, 3> signal {};
        for (int c = 0; c < 3; ++c) {
            const std::uint32_t v = i == 0 ? 191 : random() % 200;
            p |= v << (16 - 8 * c);
            signal[c] = v / 255.0;
        }
        SCOPED_TRACE(p);
        std::uint32_t converted = p;
        hlg.ConvertRow(&converted, 1);
        ASSERT_LE(ChannelDifference(converted, Bt2020LinearToSrgb(HlgNits(signal))), 1)
            << std::hex << converted;
    }
}

// quillmere-avg -j makes and runs converters on several threads at once.
TEST(ColourConverterTest, ConvertersOnSeveralThreadsAgree)
{
    const ColourDescription descriptions[]
        = { Icc(LutIcc()), Icc(FileBytes(kGhostscriptIcc + "a98.icc")), Cicp(9, 18) };
    const std::vector<std::uint32_t> grid = DenseGrid(false);
    for (const ColourDescription &description : descriptions) {
        std::vector<std::uint32_t> expected = grid;
        ColourConverter::For(description)
            .ConvertRow(expected.data(), static_cast<std::int32_t>(expected.size()));
        std::vector<std::vector<std::uint32_t>> results(4, grid);
        std::vector<std::thread> threads;
        for (auto &result : results) {
            threads.emplace_back([&description, &result] {
                ColourConverter::For(description)
                    .ConvertRow(result.data(), static_cast<std::int32_t>(result.size()));
            });
        }
        for (auto &thread : threads)
            thread.join();
        for (const auto &result : results)
            EXPECT_EQ(result, expected);
    }
}

} // namespace
