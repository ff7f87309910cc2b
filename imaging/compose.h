#pragma once

#include "analysis/colour_math.h"

#include <QRgb>

#include <algorithm>
#include <cstdint>

namespace imaging {

// The decoders' pixel for a colour given as 0x00BBGGRR (the background of a load).
[[nodiscard]] constexpr QRgb ToQRgb(analysis::ColourValue colour)
{
    return qRgb(
        analysis::GetRValue(colour), analysis::GetGValue(colour), analysis::GetBValue(colour));
}

// a * c + (255 - a) * b over 255, rounded to nearest; exact for every 8-bit a, c, b.
[[nodiscard]] inline std::uint32_t BlendChannel(std::uint32_t c, std::uint32_t b, std::uint32_t a)
{
    const std::uint32_t t = c * a + b * (255 - a) + 128;
    return (t + (t >> 8)) >> 8;
}

// Composes n non-premultiplied 0xAARRGGBB pixels source-over an opaque background, in place:
// afterwards each pixel is opaque (alpha 0xFF).
inline void ComposeRowOver(std::uint32_t *row, std::int32_t n, QRgb background)
{
    const std::uint32_t bgR = qRed(background), bgG = qGreen(background), bgB = qBlue(background);
    const std::uint32_t opaqueBackground = background | 0xFF000000u;
    for (std::int32_t x = 0; x < n; ++x) {
        const std::uint32_t p = row[x];
        const std::uint32_t a = p >> 24;
        if (a == 255)
            continue;
        if (a == 0) {
            row[x] = opaqueBackground;
            continue;
        }
        row[x] = 0xFF000000u | (BlendChannel((p >> 16) & 0xFFu, bgR, a) << 16)
            | (BlendChannel((p >> 8) & 0xFFu, bgG, a) << 8) | BlendChannel(p & 0xFFu, bgB, a);
    }
}

// Composes n premultiplied 0xAARRGGBB pixels source-over an opaque background, in place: each
// channel becomes c + b * (255 - a) / 255, rounded, with c above a taken as a (damaged data).
inline void ComposePremultipliedRowOver(std::uint32_t *row, std::int32_t n, QRgb background)
{
    const std::uint32_t bg[3] = { static_cast<std::uint32_t>(qBlue(background)),
        static_cast<std::uint32_t>(qGreen(background)),
        static_cast<std::uint32_t>(qRed(background)) };
    const std::uint32_t opaqueBackground = background | 0xFF000000u;
    for (std::int32_t x = 0; x < n; ++x) {
        const std::uint32_t p = row[x];
        const std::uint32_t a = p >> 24;
        if (a == 255)
            continue;
        if (a == 0) {
            row[x] = opaqueBackground;
            continue;
        }
        std::uint32_t out = 0xFF000000u;
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t c = std::min((p >> (8 * i)) & 0xFFu, a);
            const std::uint32_t t = c * 255 + bg[i] * (255 - a) + 128;
            out |= ((t + (t >> 8)) >> 8) << (8 * i);
        }
        row[x] = out;
    }
}

// Undoes the premultiplication of n 0xAARRGGBB pixels in place, rounded to nearest, for a
// conversion that needs the colour itself; a channel above its alpha (damaged data) becomes 255.
inline void UnpremultiplyRow(std::uint32_t *row, std::int32_t n)
{
    for (std::int32_t x = 0; x < n; ++x) {
        const std::uint32_t p = row[x];
        const std::uint32_t a = p >> 24;
        if (a == 255 || a == 0)
            continue;
        std::uint32_t out = p & 0xFF000000u;
        for (int i = 0; i < 3; ++i) {
            const std::uint32_t c = std::min((p >> (8 * i)) & 0xFFu, a);
            out |= ((c * 255 + a / 2) / a) << (8 * i);
        }
        row[x] = out;
    }
}

// Converts n pixels of R, G, B bytes to opaque 0xFFRRGGBB.
inline void ConvertRgbRow(const std::uint8_t *in, std::uint32_t *out, std::int32_t n)
{
    for (std::int32_t x = 0; x < n; ++x, in += 3)
        out[x] = 0xFF000000u | (std::uint32_t { in[0] } << 16) | (std::uint32_t { in[1] } << 8)
            | in[2];
}

// Converts n pixels of non-premultiplied R, G, B, A bytes to 0xAARRGGBB, alpha kept.
inline void UnpackRgbaRow(const std::uint8_t *in, std::uint32_t *out, std::int32_t n)
{
    for (std::int32_t x = 0; x < n; ++x, in += 4)
        out[x] = (std::uint32_t { in[3] } << 24) | (std::uint32_t { in[0] } << 16)
            | (std::uint32_t { in[1] } << 8) | in[2];
}

// Composes n pixels of non-premultiplied R, G, B, A bytes source-over an opaque background into
// opaque 0xFFRRGGBB.
inline void ComposeRgbaRow(
    const std::uint8_t *in, std::uint32_t *out, std::int32_t n, QRgb background)
{
    const std::uint32_t bgR = qRed(background), bgG = qGreen(background), bgB = qBlue(background);
    for (std::int32_t x = 0; x < n; ++x, in += 4) {
        const std::uint32_t a = in[3];
        out[x] = 0xFF000000u | (BlendChannel(in[0], bgR, a) << 16)
            | (BlendChannel(in[1], bgG, a) << 8) | BlendChannel(in[2], bgB, a);
    }
}

// Sets the alpha byte of n pixels to 0xFF, for decoders whose opaque output leaves it undefined.
inline void MakeRowOpaque(std::uint32_t *row, std::int32_t n)
{
    for (std::int32_t x = 0; x < n; ++x)
        row[x] |= 0xFF000000u;
}

} // namespace imaging
