#include "imaging/colour_rows.h"

#include "imaging/colour_transfer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace imaging::colour {

namespace {

    // Linear sRGB to 8-bit codes. The index, the float's exponent and top seven mantissa bits,
    // picks an interval of linear light that holds at most one code's threshold; its entry gives
    // the code at the interval's low end and that threshold, so one load and one comparison give
    // the rounded sRGB value of the float itself. The table is 13 KB and stays in the first-level
    // cache.
    struct SrgbEncoding
    {
        struct Step
        {
            // The least value in the interval that rounds to code + 1, or past the interval.
            float next = 0;
            std::uint32_t code = 0;
        };
        // Below 2^-13 every value encodes to 0: the first threshold is 1.5e-4.
        static constexpr std::uint32_t kLowestIndex = 0x39000000u >> 16;
        static constexpr std::uint32_t kHighestIndex = 0x3F800000u >> 16; // 1.0
        std::array<Step, kHighestIndex - kLowestIndex + 1> steps {};
        // Half an 8-bit step outside 0..255 once encoded, in linear light.
        float clipLow = 0;
        float clipHigh = 0;

        SrgbEncoding()
        {
            // threshold[k]: the least linear value that rounds to code k.
            std::array<float, 257> threshold {};
            threshold[0] = -1.0f;
            for (int k = 1; k < 256; ++k)
                threshold[k] = static_cast<float>(SrgbToLinear((k - 0.5) / 255));
            threshold[256] = 2.0f;
            std::uint32_t k = 0;
            for (std::uint32_t i = 0; i < steps.size(); ++i) {
                const float low = std::bit_cast<float>((kLowestIndex + i) << 16);
                while (k < 255 && threshold[k + 1] <= low)
                    ++k;
                steps[i] = Step { threshold[k + 1], k };
            }
            clipLow = static_cast<float>(-0.5 / 255 / 12.92);
            clipHigh = static_cast<float>(SrgbToLinear(1 + 0.5 / 255));
        }

        // The table index of v, 0..1.
        static std::int32_t Index(float v)
        {
            const auto index = static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(v) >> 16)
                - static_cast<std::int32_t>(kLowestIndex);
            return index < 0 ? 0 : index;
        }

        [[nodiscard]] std::uint32_t Code(float v, std::int32_t index) const
        {
            const Step &step = steps[static_cast<std::size_t>(index)];
            return step.code + static_cast<std::uint32_t>(v >= step.next);
        }
    };

    const SrgbEncoding &Encoding()
    {
        static const SrgbEncoding encoding;
        return encoding;
    }

    // Masks rather than branches, so the loop below vectorises (GCC keeps float selects as branches
    // while traps are possible), and a NaN from a broken profile ends at 0 instead of past the
    // table.
    inline float Clamp01(float v)
    {
        const std::uint32_t positive = 0u - static_cast<std::uint32_t>(v > 0.0f);
        const float nonNegative = std::bit_cast<float>(std::bit_cast<std::uint32_t>(v) & positive);
        const std::uint32_t below = 0u - static_cast<std::uint32_t>(nonNegative < 1.0f);
        return std::bit_cast<float>(
            (std::bit_cast<std::uint32_t>(nonNegative) & below) | (0x3F800000u & ~below));
    }

    // Clips the block to 0..1 in place (but for the kernel's encoder) and writes 8-bit sRGB with
    // the given alpha bits into out, and 1 for each clipped pixel (else 0) into clippedFlags;
    // returns how many pixels were clipped.
    int EncodeBlock(int n, LinearBlock &block, const std::uint32_t *alpha, std::uint32_t *out,
        std::uint32_t *clippedFlags)
    {
        if (MatrixShaperKernel::Available()) {
            return static_cast<int>(
                EncodeLinearSrgb(block.r, block.g, block.b, n, alpha, out, clippedFlags));
        }
        const SrgbEncoding &encoding = Encoding();
        const float low = encoding.clipLow;
        const float high = encoding.clipHigh;
        alignas(32) std::int32_t ir[kBlockPixels];
        alignas(32) std::int32_t ig[kBlockPixels];
        alignas(32) std::int32_t ib[kBlockPixels];
        int clipped = 0;
        for (int i = 0; i < n; ++i) {
            float r = block.r[i];
            float g = block.g[i];
            float b = block.b[i];
            const int outside
                = (r < low) | (r > high) | (g < low) | (g > high) | (b < low) | (b > high);
            clippedFlags[i] = static_cast<std::uint32_t>(outside);
            clipped += outside;
            r = Clamp01(r);
            g = Clamp01(g);
            b = Clamp01(b);
            block.r[i] = r;
            block.g[i] = g;
            block.b[i] = b;
            ir[i] = SrgbEncoding::Index(r);
            ig[i] = SrgbEncoding::Index(g);
            ib[i] = SrgbEncoding::Index(b);
        }
        for (int i = 0; i < n; ++i) {
            const std::uint32_t r = encoding.Code(block.r[i], ir[i]);
            const std::uint32_t g = encoding.Code(block.g[i], ig[i]);
            const std::uint32_t b = encoding.Code(block.b[i], ib[i]);
            out[i] = alpha[i] | (r << 16) | (g << 8) | b;
        }
        return clipped;
    }

    float TableValue(const MatrixShaperStage::Curve &curve, double stored)
    {
        const double linear = curve(stored);
        return std::isnan(linear) ? 0.0f : static_cast<float>(linear);
    }

    std::uint32_t Alpha16To8(std::uint16_t a) { return (a * 255u + 32767u) / 65535u; }

} // namespace

MatrixShaperStage::MatrixShaperStage(
    std::array<Curve, 3> curvesIn, const Matrix3 &toLinearSrgb, std::optional<Ootf> ootfIn)
    : curves(std::move(curvesIn))
    , ootf(ootfIn)
{
    for (int c = 0; c < 3; ++c) {
        table8[c].resize(256);
        for (int v = 0; v < 256; ++v)
            table8[c][v] = TableValue(curves[c], v / 255.0);
    }
    // Curves that agree on a fine sampling are one curve for the 16-bit table.
    sameCurves = true;
    for (int i = 0; i <= 4096 && sameCurves; ++i) {
        const float value = TableValue(curves[0], i / 4096.0);
        sameCurves = TableValue(curves[1], i / 4096.0) == value
            && TableValue(curves[2], i / 4096.0) == value;
    }
    for (int i = 0; i < 9; ++i)
        matrix[i] = static_cast<float>(toLinearSrgb[i]);
    if (!ootf && MatrixShaperKernel::Available()) {
        std::array<std::array<float, 256>, 3> linear {};
        for (int c = 0; c < 3; ++c)
            std::copy(table8[c].begin(), table8[c].end(), linear[c].begin());
        kernel = std::make_unique<MatrixShaperKernel>(linear, matrix);
    }
}

void MatrixShaperStage::ApplyOotf(int n, LinearBlock &block) const
{
    const float wr = ootf->weights[0];
    const float wg = ootf->weights[1];
    const float wb = ootf->weights[2];
    for (int i = 0; i < n; ++i) {
        const float y = wr * block.r[i] + wg * block.g[i] + wb * block.b[i];
        const float gain = y > 0.0f ? ootf->scale * std::pow(y, ootf->exponent) : 0.0f;
        block.r[i] *= gain;
        block.g[i] *= gain;
        block.b[i] *= gain;
    }
}

void MatrixShaperStage::ApplyMatrix(int n, LinearBlock &block) const
{
    const float m0 = matrix[0], m1 = matrix[1], m2 = matrix[2];
    const float m3 = matrix[3], m4 = matrix[4], m5 = matrix[5];
    const float m6 = matrix[6], m7 = matrix[7], m8 = matrix[8];
    for (int i = 0; i < n; ++i) {
        const float r = block.r[i];
        const float g = block.g[i];
        const float b = block.b[i];
        block.r[i] = m0 * r + m1 * g + m2 * b;
        block.g[i] = m3 * r + m4 * g + m5 * b;
        block.b[i] = m6 * r + m7 * g + m8 * b;
    }
}

void MatrixShaperStage::Linear8(const std::uint32_t *pixels, int n, LinearBlock &out)
{
    const float *tr = table8[0].data();
    const float *tg = table8[1].data();
    const float *tb = table8[2].data();
    for (int i = 0; i < n; ++i) {
        const std::uint32_t p = pixels[i];
        out.r[i] = tr[(p >> 16) & 0xFFu];
        out.g[i] = tg[(p >> 8) & 0xFFu];
        out.b[i] = tb[p & 0xFFu];
    }
    if (ootf)
        ApplyOotf(n, out);
    ApplyMatrix(n, out);
}

void MatrixShaperStage::Linear16(const std::uint16_t *rgba, int n, LinearBlock &out)
{
    if (table16[0].empty()) {
        for (int c = 0; c < (sameCurves ? 1 : 3); ++c) {
            table16[c].resize(65536);
            for (int v = 0; v < 65536; ++v)
                table16[c][v] = TableValue(curves[c], v / 65535.0);
        }
    }
    const float *tr = table16[0].data();
    const float *tg = sameCurves ? tr : table16[1].data();
    const float *tb = sameCurves ? tr : table16[2].data();
    for (int i = 0; i < n; ++i) {
        out.r[i] = tr[rgba[4 * i]];
        out.g[i] = tg[rgba[4 * i + 1]];
        out.b[i] = tb[rgba[4 * i + 2]];
    }
    if (ootf)
        ApplyOotf(n, out);
    ApplyMatrix(n, out);
}

namespace {

    // The inverse of CIE 1976's cube-root companding.
    double LabToXyzFactor(double t)
    {
        constexpr double kDelta = 6.0 / 29.0;
        return t > kDelta ? t * t * t : 3 * kDelta * kDelta * (t - 4.0 / 29.0);
    }

} // namespace

LabStage::LabStage(const Matrix3 &linearSrgbFromXyz)
    : matrix(linearSrgbFromXyz)
{
    const cmsCIEXYZ *d50 = cmsD50_XYZ();
    white = { d50->X, d50->Y, d50->Z };
}

void LabStage::ToLinear(double l, double a, double b, LinearBlock &out, int i) const
{
    const double fy = (l + 16) / 116;
    const double x = white[0] * LabToXyzFactor(fy + a / 500);
    const double y = white[1] * LabToXyzFactor(fy);
    const double z = white[2] * LabToXyzFactor(fy - b / 200);
    out.r[i] = static_cast<float>(matrix[0] * x + matrix[1] * y + matrix[2] * z);
    out.g[i] = static_cast<float>(matrix[3] * x + matrix[4] * y + matrix[5] * z);
    out.b[i] = static_cast<float>(matrix[6] * x + matrix[7] * y + matrix[8] * z);
}

void LabStage::Linear8(const std::uint32_t *pixels, int n, LinearBlock &out)
{
    for (int i = 0; i < n; ++i) {
        const std::uint32_t p = pixels[i];
        ToLinear(((p >> 16) & 0xFFu) * 100.0 / 255, ((p >> 8) & 0xFFu) - 128.0, (p & 0xFFu) - 128.0,
            out, i);
    }
}

void LabStage::Linear16(const std::uint16_t *rgba, int n, LinearBlock &out)
{
    for (int i = 0; i < n; ++i) {
        const std::uint16_t *p = rgba + 4 * i;
        ToLinear(p[0] * 100.0 / 65535, p[1] / 257.0 - 128, p[2] / 257.0 - 128, out, i);
    }
}

namespace {

    std::vector<std::uint32_t> TestGrid()
    {
        std::vector<std::uint32_t> grid;
        for (std::uint32_t v = 0; v < 256; ++v) {
            grid.push_back(v << 16);
            grid.push_back(v << 8);
            grid.push_back(v);
            grid.push_back(v * 0x010101u);
        }
        constexpr std::uint32_t kLattice[] = { 0, 36, 73, 109, 146, 182, 219, 255 };
        for (std::uint32_t r : kLattice) {
            for (std::uint32_t g : kLattice) {
                for (std::uint32_t b : kLattice)
                    grid.push_back((r << 16) | (g << 8) | b);
            }
        }
        return grid;
    }

} // namespace

RowConverter::RowConverter(std::unique_ptr<SourceStage> sourceIn)
    : source(std::move(sourceIn))
    , kernel(source->Kernel())
{
}

void RowConverter::GrowRemembered(std::int32_t pixels)
{
    pixelsSinceGrowth += static_cast<std::uint64_t>(pixels);
    // Noise-like pictures seldom repeat a colour, and then the lookups only add to the work.
    if (rememberedBits == kMostRememberedBits && pixelsSinceGrowth > kJudgedAfterPixels) {
        if (hitsSinceGrowth < pixelsSinceGrowth / 2) {
            remembering = false;
            remembered = {};
            return;
        }
    }
    const bool full = remembered.size() << 4 < pixelsSinceGrowth;
    if (!remembered.empty() && (!full || rememberedBits >= kMostRememberedBits))
        return;
    rememberedBits = remembered.empty() ? kFirstRememberedBits : rememberedBits + 2;
    remembered.assign(std::size_t { 1 } << rememberedBits, kNothingRemembered);
    pixelsSinceGrowth = 0;
    hitsSinceGrowth = 0;
}

std::uint64_t RowConverter::ConvertBlocks(std::uint32_t *row, std::int32_t n)
{
    if (kernel != nullptr)
        return kernel->Convert(row, row, n, nullptr);
    std::uint64_t clipped = 0;
    for (std::int32_t start = 0; start < n; start += kBlockPixels) {
        const int count = std::min<std::int32_t>(kBlockPixels, n - start);
        std::uint32_t *pixels = row + start;
        for (int i = 0; i < count; ++i)
            alpha[i] = pixels[i] & 0xFF000000u;
        source->Linear8(pixels, count, block);
        clipped += EncodeBlock(count, block, alpha.data(), pixels, clippedFlags.data());
    }
    return clipped;
}

std::uint64_t RowConverter::ConvertRow(std::uint32_t *row, std::int32_t n)
{
    // The kernel works out a colour faster than a big table can be looked up.
    if (kernel != nullptr)
        return ConvertBlocks(row, n);
    if (!remembering)
        return ConvertBlocks(row, n);
    GrowRemembered(n);
    if (!remembering)
        return ConvertBlocks(row, n);
    std::uint64_t clipped = 0;
    for (std::int32_t start = 0; start < n; start += kBlockPixels) {
        const int count = std::min<std::int32_t>(kBlockPixels, n - start);
        std::uint32_t *pixels = row + start;
        int misses = 0;
        for (int i = 0; i < count; ++i) {
            const std::uint32_t p = pixels[i];
            const std::uint32_t colour = p & 0xFFFFFFu;
            const std::uint64_t entry = remembered[RememberedSlot(colour)];
            if ((entry >> 32) == colour) {
                pixels[i] = (p & 0xFF000000u) | (static_cast<std::uint32_t>(entry) & 0xFFFFFFu);
                clipped += (entry >> 24) & 1u;
            } else {
                missedAt[misses] = i;
                missed[misses] = p;
                ++misses;
            }
        }
        hitsSinceGrowth += static_cast<std::uint64_t>(count - misses);
        if (misses == 0)
            continue;
        if (kernel != nullptr) {
            clipped += kernel->Convert(missed.data(), encoded.data(), misses, clippedFlags.data());
        } else {
            source->Linear8(missed.data(), misses, block);
            clipped
                += EncodeBlock(misses, block, noAlpha.data(), encoded.data(), clippedFlags.data());
        }
        for (int m = 0; m < misses; ++m) {
            const std::uint32_t colour = missed[m] & 0xFFFFFFu;
            encoded[m] &= 0xFFFFFFu;
            remembered[RememberedSlot(colour)]
                = (static_cast<std::uint64_t>(colour) << 32) | (clippedFlags[m] << 24) | encoded[m];
            pixels[missedAt[m]] = (missed[m] & 0xFF000000u) | encoded[m];
        }
    }
    return clipped;
}

std::uint64_t RowConverter::ConvertRow16(
    const std::uint16_t *rgba, std::uint32_t *out, std::int32_t n)
{
    std::uint64_t clipped = 0;
    for (std::int32_t start = 0; start < n; start += kBlockPixels) {
        const int count = std::min<std::int32_t>(kBlockPixels, n - start);
        const std::uint16_t *samples = rgba + 4 * static_cast<std::ptrdiff_t>(start);
        for (int i = 0; i < count; ++i)
            alpha[i] = Alpha16To8(samples[4 * i + 3]) << 24;
        source->Linear16(samples, count, block);
        clipped += EncodeBlock(count, block, alpha.data(), out + start, clippedFlags.data());
    }
    return clipped;
}

bool RowConverter::KeepsSrgbCodes()
{
    const std::vector<std::uint32_t> grid = TestGrid();
    for (std::size_t start = 0; start < grid.size(); start += kBlockPixels) {
        const int count
            = static_cast<int>(std::min<std::size_t>(kBlockPixels, grid.size() - start));
        source->Linear8(grid.data() + start, count, block);
        for (int i = 0; i < count; ++i) {
            const std::uint32_t p = grid[start + i];
            const float linear[3] = { block.r[i], block.g[i], block.b[i] };
            for (int c = 0; c < 3; ++c) {
                const double code = (p >> (16 - 8 * c)) & 0xFFu;
                // Written so that a NaN counts as a move.
                if (!(std::abs(LinearToSrgb(linear[c]) * 255 - code) < 1.0))
                    return false;
            }
        }
    }
    return true;
}

LutStage::LutStage(cmsContext context, cmsHPROFILE source, bool grey)
    : lab(ConnectionSpaceOf(source) == cmsSigLabData)
{
    const Profile pcs(
        lab ? cmsCreateLab4ProfileTHR(context, nullptr) : cmsCreateXYZProfileTHR(context));
    if (!pcs)
        return;
    const Transform transform(
        cmsCreateTransformTHR(context, source, grey ? TYPE_GRAY_FLT : TYPE_RGB_FLT, pcs.get(),
            lab ? TYPE_Lab_FLT : TYPE_XYZ_FLT, INTENT_RELATIVE_COLORIMETRIC, 0));
    if (!transform)
        return;
    constexpr int kPoints = kGridPoints * kGridPoints * kGridPoints;
    std::vector<float> in;
    in.reserve(3 * kPoints);
    for (int r = 0; r < kGridPoints; ++r) {
        for (int g = 0; g < kGridPoints; ++g) {
            for (int b = 0; b < kGridPoints; ++b) {
                in.push_back(static_cast<float>(r) / (kGridPoints - 1));
                if (!grey) {
                    in.push_back(static_cast<float>(g) / (kGridPoints - 1));
                    in.push_back(static_cast<float>(b) / (kGridPoints - 1));
                }
            }
        }
    }
    grid.resize(3 * kPoints);
    cmsDoTransform(transform.get(), in.data(), grid.data(), kPoints);
    for (float &value : grid) {
        if (std::isnan(value))
            value = 0;
    }
    const Matrix3 toSrgb = LinearSrgbFromXyz(context);
    for (int i = 0; i < 9; ++i)
        fromXyz[i] = static_cast<float>(toSrgb[i]);
    for (int v = 0; v < 256; ++v) {
        const float position = v * (kGridPoints - 1) / 255.0f;
        cell8[v] = std::min(static_cast<int>(position), kGridPoints - 2);
        fraction8[v] = position - cell8[v];
    }
}

void LutStage::Interpolate(const int cell[3], const float f[3], float linear[3]) const
{
    constexpr int kStrideR = 3 * kGridPoints * kGridPoints;
    constexpr int kStrideG = 3 * kGridPoints;
    constexpr int kStrideB = 3;
    const float *c0 = grid.data() + cell[0] * kStrideR + cell[1] * kStrideG + cell[2] * kStrideB;
    const float *c111 = c0 + kStrideR + kStrideG + kStrideB;
    // The tetrahedron of the cell that holds the point, chosen by the order of the fractions.
    const float *a;
    const float *b;
    float fa, fb, fc;
    if (f[0] >= f[1] && f[1] >= f[2]) {
        a = c0 + kStrideR;
        b = c0 + kStrideR + kStrideG;
        fa = f[0], fb = f[1], fc = f[2];
    } else if (f[0] >= f[2] && f[2] >= f[1]) {
        a = c0 + kStrideR;
        b = c0 + kStrideR + kStrideB;
        fa = f[0], fb = f[2], fc = f[1];
    } else if (f[2] >= f[0] && f[0] >= f[1]) {
        a = c0 + kStrideB;
        b = c0 + kStrideB + kStrideR;
        fa = f[2], fb = f[0], fc = f[1];
    } else if (f[1] >= f[0] && f[0] >= f[2]) {
        a = c0 + kStrideG;
        b = c0 + kStrideG + kStrideR;
        fa = f[1], fb = f[0], fc = f[2];
    } else if (f[1] >= f[2] && f[2] >= f[0]) {
        a = c0 + kStrideG;
        b = c0 + kStrideG + kStrideB;
        fa = f[1], fb = f[2], fc = f[0];
    } else {
        a = c0 + kStrideB;
        b = c0 + kStrideB + kStrideG;
        fa = f[2], fb = f[1], fc = f[0];
    }
    float pcs[3];
    for (int c = 0; c < 3; ++c)
        pcs[c] = c0[c] + fa * (a[c] - c0[c]) + fb * (b[c] - a[c]) + fc * (c111[c] - b[c]);
    float xyz[3];
    if (lab) {
        // CIE 1976 L*a*b* back to XYZ relative to D50, as lcms2's cmsLab2XYZ.
        const cmsCIEXYZ *white = cmsD50_XYZ();
        const float fy = (pcs[0] + 16) / 116;
        const float fx = fy + pcs[1] / 500;
        const float fz = fy - pcs[2] / 200;
        const auto inverse = [](float t) {
            constexpr float kLimit = 6.0f / 29;
            return t > kLimit ? t * t * t : 3 * kLimit * kLimit * (t - 4.0f / 29);
        };
        xyz[0] = static_cast<float>(white->X) * inverse(fx);
        xyz[1] = static_cast<float>(white->Y) * inverse(fy);
        xyz[2] = static_cast<float>(white->Z) * inverse(fz);
    } else {
        xyz[0] = pcs[0];
        xyz[1] = pcs[1];
        xyz[2] = pcs[2];
    }
    for (int c = 0; c < 3; ++c)
        linear[c]
            = fromXyz[3 * c] * xyz[0] + fromXyz[3 * c + 1] * xyz[1] + fromXyz[3 * c + 2] * xyz[2];
}

void LutStage::Linear8(const std::uint32_t *pixels, int n, LinearBlock &out)
{
    for (int i = 0; i < n; ++i) {
        const std::uint32_t p = pixels[i];
        const std::uint32_t codes[3] = { (p >> 16) & 0xFFu, (p >> 8) & 0xFFu, p & 0xFFu };
        const int cell[3] = { cell8[codes[0]], cell8[codes[1]], cell8[codes[2]] };
        const float fraction[3] = { fraction8[codes[0]], fraction8[codes[1]], fraction8[codes[2]] };
        float linear[3];
        Interpolate(cell, fraction, linear);
        out.r[i] = linear[0];
        out.g[i] = linear[1];
        out.b[i] = linear[2];
    }
}

void LutStage::Linear16(const std::uint16_t *rgba, int n, LinearBlock &out)
{
    for (int i = 0; i < n; ++i) {
        const std::uint16_t *p = rgba + 4 * static_cast<std::ptrdiff_t>(i);
        int cell[3];
        float fraction[3];
        for (int c = 0; c < 3; ++c) {
            const float position = p[c] * (kGridPoints - 1) / 65535.0f;
            cell[c] = std::min(static_cast<int>(position), kGridPoints - 2);
            fraction[c] = position - cell[c];
        }
        float linear[3];
        Interpolate(cell, fraction, linear);
        out.r[i] = linear[0];
        out.g[i] = linear[1];
        out.b[i] = linear[2];
    }
}

} // namespace imaging::colour
