#pragma once

#include <array>
#include <cstdint>

// The conversion of 8-bit pixels through a matrix-and-curve source in one pass, for processors
// with AVX2 and FMA: a picture's curves and matrix folded into one table per channel, whose entry
// for a stored value is that channel's share of the linear sRGB result, so a pixel costs three
// 16-byte loads and two adds; sRGB's curve is then computed rather than looked up (a table lookup
// per channel is what AVX2 cannot do quickly), within 0.004 of a code of the exact curve.
namespace imaging::colour {

class MatrixShaperKernel
{
public:
    // Whether this processor can run the kernel.
    [[nodiscard]] static bool Available();

    // linear[c][v]: linear light of stored value v in channel c (0 red, 1 green, 2 blue), 1 =
    // white; toLinearSrgb: row-major 3x3 matrix from those channels to linear sRGB.
    MatrixShaperKernel(const std::array<std::array<float, 256>, 3> &linear,
        const std::array<float, 9> &toLinearSrgb);

    // n 0xAARRGGBB pixels from in to 8-bit sRGB in out (the two may be the same), alpha kept;
    // clippedFlags (when not null) gets 1 for each pixel that had a channel more than half a step
    // outside 0..255, else 0. Returns how many pixels were clipped.
    std::uint64_t Convert(
        const std::uint32_t *in, std::uint32_t *out, std::int32_t n, std::uint32_t *clippedFlags);

private:
    // Entry v of channel c: (blue, green, red, 0) shares, in the byte order of a stored pixel.
    struct alignas(16) Share
    {
        float lanes[4];
    };
    std::array<std::array<Share, 256>, 3> shares {};
};

// n linear sRGB pixels (channels 0..1, unclipped) to 8-bit sRGB with the given alpha bits
// (0xAA000000) in out, and 1 for each clipped pixel (else 0) in clippedFlags; returns how many were
// clipped. The kernel's encoding, for the sources that reach linear light their own way. Only where
// Available().
std::uint64_t EncodeLinearSrgb(const float *red, const float *green, const float *blue,
    std::int32_t n, const std::uint32_t *alpha, std::uint32_t *out, std::uint32_t *clippedFlags);

// The sRGB encoding the kernel computes, for one linear value (NaN and below 0 give 0, above 1
// gives 255); the exact rounding of IEC 61966-2-1 except within 0.004 of a half code. Only
// meaningful where Available().
[[nodiscard]] std::uint32_t KernelSrgbCode(float linear);

} // namespace imaging::colour
