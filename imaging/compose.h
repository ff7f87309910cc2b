#pragma once

#include <QRgb>

#include <cstdint>

namespace imaging {

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

// Sets the alpha byte of n pixels to 0xFF, for decoders whose opaque output leaves it undefined.
inline void MakeRowOpaque(std::uint32_t *row, std::int32_t n)
{
    for (std::int32_t x = 0; x < n; ++x)
        row[x] |= 0xFF000000u;
}

} // namespace imaging
