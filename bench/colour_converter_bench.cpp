// The conversion to sRGB on one 6000-pixel row (a 24-megapixel photo's width): the identity (with
// the row's copy, which every case pays), the table-and-matrix path, the lookup-table path and, on
// the same Display P3 pixels, lcms2's own transforms.
#include "imaging/colour_converter.h"

#include <benchmark/benchmark.h>
#include <lcms2.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int kRowPixels = 6000;

std::vector<std::uint32_t> NoisyRow(std::uint32_t seed = 12345)
{
    std::vector<std::uint32_t> row(kRowPixels);
    std::uint32_t state = seed;
    for (auto &p : row) {
        state = state * 1664525u + 1013904223u;
        p = state;
    }
    return row;
}

imaging::ColourDescription DisplayP3()
{
    imaging::ColourDescription description;
    description.kind = imaging::ColourDescription::Kind::Cicp;
    description.cicp.primaries = 12;
    return description;
}

cmsHPROFILE DisplayP3Profile()
{
    const cmsCIExyY white { 0.3127, 0.3290, 1 };
    const cmsCIExyYTRIPLE primaries { { 0.680, 0.320, 1 }, { 0.265, 0.690, 1 },
        { 0.150, 0.060, 1 } };
    const double params[5] = { 2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045 };
    cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, params);
    cmsToneCurve *curves[3] = { curve, curve, curve };
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return profile;
}

// Rows of fresh noise in turn, so the converter rarely meets a colour it has seen: the cost of
// colours it has to work out, not of ones it remembers.
void ConvertRow(benchmark::State &state, imaging::ColourConverter converter)
{
    std::vector<std::vector<std::uint32_t>> sources;
    for (std::uint32_t seed = 1; seed <= 256; ++seed)
        sources.push_back(NoisyRow(seed));
    std::vector<std::uint32_t> row(kRowPixels);
    std::size_t next = 0;
    for (auto _ : state) {
        row = sources[next++ % sources.size()];
        converter.ConvertRow(row.data(), kRowPixels);
        benchmark::DoNotOptimize(row.data());
    }
    state.SetItemsProcessed(state.iterations() * kRowPixels);
}

int SampleLab(const cmsUInt16Number in[], cmsUInt16Number out[], void *transform)
{
    cmsDoTransform(static_cast<cmsHTRANSFORM>(transform), in, out, 1);
    return 1;
}

// Display P3 as a lookup-table profile (a 33-point AToB0 grid into Lab), like printer and camera
// profiles.
imaging::ColourDescription DisplayP3Table()
{
    cmsHPROFILE p3 = DisplayP3Profile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(
        p3, TYPE_RGB_16, lab, TYPE_LabV2_16, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
    cmsPipeline *lut = cmsPipelineAlloc(nullptr, 3, 3);
    cmsStage *grid = cmsStageAllocCLut16bit(nullptr, 33, 3, 3, nullptr);
    cmsStageSampleCLut16bit(grid, SampleLab, toLab, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
    cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(profile, 2.1);
    cmsSetDeviceClass(profile, cmsSigDisplayClass);
    cmsSetColorSpace(profile, cmsSigRgbData);
    cmsSetPCS(profile, cmsSigLabData);
    cmsWriteTag(profile, cmsSigAToB0Tag, lut);
    cmsWriteTag(profile, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    imaging::ColourDescription description;
    description.kind = imaging::ColourDescription::Kind::Icc;
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    description.icc.resize(size);
    cmsSaveProfileToMem(profile, description.icc.data(), &size);
    cmsCloseProfile(profile);
    cmsPipelineFree(lut);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(p3);
    return description;
}

void BM_IdentityRow(benchmark::State &state) { ConvertRow(state, imaging::ColourConverter()); }

void BM_MatrixShaperRow(benchmark::State &state)
{
    ConvertRow(state, imaging::ColourConverter::For(DisplayP3()));
}

void BM_MatrixShaperRow16(benchmark::State &state)
{
    imaging::ColourConverter converter = imaging::ColourConverter::For(DisplayP3());
    std::vector<std::uint16_t> samples(4 * kRowPixels);
    std::uint32_t seed = 99;
    for (auto &s : samples) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<std::uint16_t>(seed >> 16);
    }
    std::vector<std::uint32_t> out(kRowPixels);
    for (auto _ : state) {
        converter.ConvertRow16(samples.data(), out.data(), kRowPixels);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kRowPixels);
}

void BM_LookupTableRow(benchmark::State &state)
{
    ConvertRow(state, imaging::ColourConverter::For(DisplayP3Table()));
}

// lcms2 in its 8-bit form (its own optimised matrix-shaper path, clipping silently).
void BM_Lcms8Row(benchmark::State &state)
{
    cmsHPROFILE p3 = DisplayP3Profile();
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(
        p3, TYPE_BGRA_8, srgb, TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA);
    const std::vector<std::uint32_t> source = NoisyRow();
    std::vector<std::uint32_t> row(kRowPixels);
    for (auto _ : state) {
        cmsDoTransform(transform, source.data(), row.data(), kRowPixels);
        benchmark::DoNotOptimize(row.data());
    }
    state.SetItemsProcessed(state.iterations() * kRowPixels);
    cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    cmsCloseProfile(p3);
}

// lcms2's float transform, the one the table path is held to, with the unpacking it needs.
void BM_LcmsFloatRow(benchmark::State &state)
{
    cmsHPROFILE p3 = DisplayP3Profile();
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform
        = cmsCreateTransform(p3, TYPE_RGB_FLT, srgb, TYPE_RGB_FLT, INTENT_RELATIVE_COLORIMETRIC, 0);
    const std::vector<std::uint32_t> source = NoisyRow();
    std::vector<float> in(3 * kRowPixels);
    std::vector<float> out(3 * kRowPixels);
    for (auto _ : state) {
        for (int i = 0; i < kRowPixels; ++i) {
            in[3 * i] = ((source[i] >> 16) & 0xFF) / 255.0f;
            in[3 * i + 1] = ((source[i] >> 8) & 0xFF) / 255.0f;
            in[3 * i + 2] = (source[i] & 0xFF) / 255.0f;
        }
        cmsDoTransform(transform, in.data(), out.data(), kRowPixels);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kRowPixels);
    cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    cmsCloseProfile(p3);
}

} // namespace

BENCHMARK(BM_IdentityRow);
BENCHMARK(BM_MatrixShaperRow);
BENCHMARK(BM_MatrixShaperRow16);
BENCHMARK(BM_LookupTableRow);
BENCHMARK(BM_Lcms8Row);
BENCHMARK(BM_LcmsFloatRow);
