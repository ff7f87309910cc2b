#include "imaging/colour_kernel.h"

#include "imaging/colour_transfer.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLMERE_COLOUR_KERNEL 1
#include <immintrin.h>
#define QUILLMERE_AVX2 __attribute__((target("avx2,fma")))
// Every function passing vectors is local to this file and built for AVX2 alike.
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace imaging::colour {

#if defined(QUILLMERE_COLOUR_KERNEL)

namespace {

    // Above this linear value sRGB follows its power curve, below it the straight toe.
    constexpr float kToeEnd = 0.0031308f;
    // m^(5/12) for m in [1, 2], a polynomial in m - 1.5 fitted on Chebyshev nodes: off by at most
    // 1.2e-5, 0.0032 of a code at white and less below.
    constexpr float kRoot0 = 1.1840522289276123f;
    constexpr float kRoot1 = 0.32880398631095886f;
    constexpr float kRoot2 = -0.06386023014783859f;
    constexpr float kRoot3 = 0.02406015247106552f;
    constexpr float kRoot4 = -0.010654742829501629f;
    // The float exponent of kToeEnd (2^-9); values up to 1.0 (2^0) take ten exponents.
    constexpr int kLowestExponent = 127 - 9;

    // 255 * 1.055 * 2^(5e/12) for the ten exponents e, so that x^(5/12) = 2^(5e/12) * m^(5/12).
    struct PowerScales
    {
        alignas(32) float low[8] {};
        alignas(32) float high[8] {};
        float clipLow = 0;
        float clipHigh = 0;

        PowerScales()
        {
            for (int i = 0; i < 10; ++i) {
                const double scale = 255 * 1.055 * std::pow(2.0, 5.0 * (i - 9) / 12);
                (i < 8 ? low[i] : high[i - 8]) = static_cast<float>(scale);
            }
            // Half a step outside 0..255 once encoded, as the table-driven encoder has it.
            clipLow = static_cast<float>(-0.5 / 255 / 12.92);
            clipHigh = static_cast<float>(SrgbToLinear(1 + 0.5 / 255));
        }
    };

    const PowerScales &Scales()
    {
        static const PowerScales scales;
        return scales;
    }

    // The constants of the encoding in registers, loaded once per call.
    struct Encoder
    {
        __m256 zero, one, toeEnd, toeScale, clipLow, clipHigh, offset, middle;
        __m256 root0, root1, root2, root3, root4, scalesLow, scalesHigh;
        __m256i mantissa, oneBits, lowestExponent, seven;

        QUILLMERE_AVX2 Encoder()
        {
            const PowerScales &scales = Scales();
            zero = _mm256_setzero_ps();
            one = _mm256_set1_ps(1.0f);
            toeEnd = _mm256_set1_ps(kToeEnd);
            toeScale = _mm256_set1_ps(12.92f * 255);
            clipLow = _mm256_set1_ps(scales.clipLow);
            clipHigh = _mm256_set1_ps(scales.clipHigh);
            offset = _mm256_set1_ps(0.055f * 255);
            middle = _mm256_set1_ps(1.5f);
            root0 = _mm256_set1_ps(kRoot0);
            root1 = _mm256_set1_ps(kRoot1);
            root2 = _mm256_set1_ps(kRoot2);
            root3 = _mm256_set1_ps(kRoot3);
            root4 = _mm256_set1_ps(kRoot4);
            scalesLow = _mm256_load_ps(scales.low);
            scalesHigh = _mm256_load_ps(scales.high);
            mantissa = _mm256_set1_epi32(0x007FFFFF);
            oneBits = _mm256_set1_epi32(0x3F800000);
            lowestExponent = _mm256_set1_epi32(kLowestExponent);
            seven = _mm256_set1_epi32(7);
        }

        // Linear values to rounded sRGB codes 0..255; the lanes more than half a step outside
        // 0..255 set their bit in *outside. NaN gives 0 and is not counted.
        QUILLMERE_AVX2 __m256i Codes(__m256 v, int *outside) const
        {
            *outside = _mm256_movemask_ps(_mm256_or_ps(
                _mm256_cmp_ps(v, clipLow, _CMP_LT_OQ), _mm256_cmp_ps(v, clipHigh, _CMP_GT_OQ)));
            // max takes its second operand when the first is NaN.
            v = _mm256_min_ps(_mm256_max_ps(v, zero), one);
            const __m256 toe = _mm256_mul_ps(v, toeScale);
            const __m256i bits = _mm256_castps_si256(_mm256_max_ps(v, toeEnd));
            const __m256i exponent = _mm256_sub_epi32(_mm256_srli_epi32(bits, 23), lowestExponent);
            const __m256 t = _mm256_sub_ps(
                _mm256_castsi256_ps(_mm256_or_si256(_mm256_and_si256(bits, mantissa), oneBits)),
                middle);
            __m256 root = _mm256_fmadd_ps(root4, t, root3);
            root = _mm256_fmadd_ps(root, t, root2);
            root = _mm256_fmadd_ps(root, t, root1);
            root = _mm256_fmadd_ps(root, t, root0);
            const __m256 scale = _mm256_blendv_ps(_mm256_permutevar8x32_ps(scalesLow, exponent),
                _mm256_permutevar8x32_ps(scalesHigh, exponent),
                _mm256_castsi256_ps(_mm256_cmpgt_epi32(exponent, seven)));
            const __m256 power = _mm256_fmsub_ps(root, scale, offset);
            const __m256 codes = _mm256_blendv_ps(power, toe, _mm256_cmp_ps(v, toeEnd, _CMP_LE_OQ));
            return _mm256_cvtps_epi32(codes);
        }
    };

} // namespace

bool MatrixShaperKernel::Available()
{
    static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return available;
}

MatrixShaperKernel::MatrixShaperKernel(
    const std::array<std::array<float, 256>, 3> &linear, const std::array<float, 9> &toLinearSrgb)
{
    for (int c = 0; c < 3; ++c) {
        for (int v = 0; v < 256; ++v) {
            const float l = linear[c][v];
            shares[c][v] = Share { { toLinearSrgb[6 + c] * l, toLinearSrgb[3 + c] * l,
                toLinearSrgb[c] * l, 0.0f } };
        }
    }
}

namespace {

    // For each movemask of a pair of pixels (four lanes each), bit 0 for the low pixel and bit 4
    // for the high one.
    struct PairMasks
    {
        std::uint8_t bits[256] {};
        constexpr PairMasks()
        {
            for (int m = 0; m < 256; ++m)
                bits[m] = static_cast<std::uint8_t>(((m & 0x0F) != 0) | (((m & 0xF0) != 0) << 4));
        }
    };
    constexpr PairMasks kPairMasks;

    QUILLMERE_AVX2 inline __m128 Share(const float *table, std::uint32_t offset)
    {
        return _mm_load_ps(reinterpret_cast<const float *>(
            reinterpret_cast<const unsigned char *>(table) + offset));
    }

    // Eight pixels, taken as pairs (a, a + 4) so that packing leaves them in order; returns bit k
    // set when pixel k was clipped.
    QUILLMERE_AVX2 inline std::uint32_t ConvertEight(const float *shareRed, const float *shareGreen,
        const float *shareBlue, const Encoder &encoder, const std::uint32_t *in, std::uint32_t *out)
    {
        const auto *bytes = reinterpret_cast<const unsigned char *>(in);
        const auto offset = [bytes](int at) { return static_cast<std::uint32_t>(bytes[at]) << 4; };
        __m256i codes[4];
        std::uint32_t clipped = 0;
        for (int a = 0; a < 4; ++a) {
            const __m256 b
                = _mm256_insertf128_ps(_mm256_castps128_ps256(Share(shareBlue, offset(4 * a))),
                    Share(shareBlue, offset(4 * a + 16)), 1);
            const __m256 g
                = _mm256_insertf128_ps(_mm256_castps128_ps256(Share(shareGreen, offset(4 * a + 1))),
                    Share(shareGreen, offset(4 * a + 17)), 1);
            const __m256 r
                = _mm256_insertf128_ps(_mm256_castps128_ps256(Share(shareRed, offset(4 * a + 2))),
                    Share(shareRed, offset(4 * a + 18)), 1);
            int outside = 0;
            codes[a] = encoder.Codes(_mm256_add_ps(_mm256_add_ps(b, g), r), &outside);
            clipped |= static_cast<std::uint32_t>(kPairMasks.bits[outside]) << a;
        }
        const __m256i packed = _mm256_packus_epi16(
            _mm256_packs_epi32(codes[0], codes[1]), _mm256_packs_epi32(codes[2], codes[3]));
        const __m256i alpha
            = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in)),
                _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm256_or_si256(packed, alpha));
        return clipped;
    }

} // namespace

QUILLMERE_AVX2 std::uint64_t MatrixShaperKernel::Convert(
    const std::uint32_t *in, std::uint32_t *out, std::int32_t n, std::uint32_t *clippedFlags)
{
    const Encoder encoder;
    const float *red = shares[0][0].lanes;
    const float *green = shares[1][0].lanes;
    const float *blue = shares[2][0].lanes;
    std::uint64_t clipped = 0;
    std::int32_t i = 0;
    const auto note = [&](std::uint32_t flags, int count, std::int32_t at) {
        flags &= (1u << count) - 1;
        clipped += static_cast<std::uint64_t>(__builtin_popcount(flags));
        if (clippedFlags != nullptr) {
            for (int k = 0; k < count; ++k)
                clippedFlags[at + k] = (flags >> k) & 1u;
        }
    };
    if (clippedFlags == nullptr) {
        for (; i + 8 <= n; i += 8) {
            clipped += static_cast<std::uint64_t>(
                __builtin_popcount(ConvertEight(red, green, blue, encoder, in + i, out + i)));
        }
    } else {
        for (; i + 8 <= n; i += 8)
            note(ConvertEight(red, green, blue, encoder, in + i, out + i), 8, i);
    }
    if (i < n) {
        const int rest = n - i;
        std::uint32_t tail[8] {};
        std::memcpy(tail, in + i, static_cast<std::size_t>(rest) * 4);
        note(ConvertEight(red, green, blue, encoder, tail, tail), rest, i);
        std::memcpy(out + i, tail, static_cast<std::size_t>(rest) * 4);
    }
    return clipped;
}

QUILLMERE_AVX2 std::uint64_t EncodeLinearSrgb(const float *red, const float *green,
    const float *blue, std::int32_t n, const std::uint32_t *alpha, std::uint32_t *out,
    std::uint32_t *clippedFlags)
{
    const Encoder encoder;
    std::uint64_t clipped = 0;
    for (std::int32_t i = 0; i < n; i += 8) {
        const int count = n - i < 8 ? static_cast<int>(n - i) : 8;
        alignas(32) float lanes[3][8] {};
        std::memcpy(lanes[0], red + i, static_cast<std::size_t>(count) * 4);
        std::memcpy(lanes[1], green + i, static_cast<std::size_t>(count) * 4);
        std::memcpy(lanes[2], blue + i, static_cast<std::size_t>(count) * 4);
        int outside[3];
        const __m256i r = encoder.Codes(_mm256_load_ps(lanes[0]), &outside[0]);
        const __m256i g = encoder.Codes(_mm256_load_ps(lanes[1]), &outside[1]);
        const __m256i b = encoder.Codes(_mm256_load_ps(lanes[2]), &outside[2]);
        alignas(32) std::uint32_t codes[8];
        _mm256_store_si256(reinterpret_cast<__m256i *>(codes),
            _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(r, 16), _mm256_slli_epi32(g, 8)), b));
        const auto flags = static_cast<std::uint32_t>(outside[0] | outside[1] | outside[2])
            & ((1u << count) - 1);
        clipped += static_cast<std::uint64_t>(__builtin_popcount(flags));
        for (int k = 0; k < count; ++k) {
            out[i + k] = alpha[i + k] | codes[k];
            clippedFlags[i + k] = (flags >> k) & 1u;
        }
    }
    return clipped;
}

QUILLMERE_AVX2 std::uint32_t KernelSrgbCode(float linear)
{
    const Encoder encoder;
    int outside = 0;
    return static_cast<std::uint32_t>(
        _mm256_cvtsi256_si32(encoder.Codes(_mm256_set1_ps(linear), &outside)));
}

#else

bool MatrixShaperKernel::Available() { return false; }

MatrixShaperKernel::MatrixShaperKernel(
    const std::array<std::array<float, 256>, 3> &, const std::array<float, 9> &)
{
}

std::uint64_t MatrixShaperKernel::Convert(
    const std::uint32_t *, std::uint32_t *, std::int32_t, std::uint32_t *)
{
    std::abort(); // callers ask Available() first
}

std::uint64_t EncodeLinearSrgb(const float *, const float *, const float *, std::int32_t,
    const std::uint32_t *, std::uint32_t *, std::uint32_t *)
{
    std::abort();
}

std::uint32_t KernelSrgbCode(float) { std::abort(); }

#endif

} // namespace imaging::colour
