#pragma once

#include "imaging/colour_description.h"

#include <cstdint>
#include <memory>
#include <string>

namespace imaging {

// Converts a picture's pixels from the colours its description names to sRGB, with relative
// colorimetric intent, before they are composed and summed. Colours outside sRGB are clipped per
// channel and counted. One converter serves one picture, from one thread.
class ColourConverter
{
public:
    // The identity: sRGB pictures (and raw reads) keep their numbers exactly, at no cost.
    ColourConverter();
    ~ColourConverter();
    ColourConverter(ColourConverter &&) noexcept;
    ColourConverter &operator=(ColourConverter &&) noexcept;

    // The conversion for a picture's description. Unspecified, Srgb, sRGB code points (1/13) and
    // an ICC profile that is sRGB give the identity; a damaged or unusable description gives the
    // identity with Unusable() true.
    [[nodiscard]] static ColourConverter For(const ColourDescription &description);

    [[nodiscard]] bool IsIdentity() const;

    // Whether the description was there but could not be used (the picture is read as sRGB).
    [[nodiscard]] bool Unusable() const;

    // A short name of the colours the picture came in: "sRGB", "Display P3", "Adobe RGB (1998)",
    // "ProPhoto RGB", "BT.2020", "BT.2020 PQ", "BT.2020 HLG", or an ICC profile's description.
    [[nodiscard]] const std::string &SourceName() const;

    // Converts n non-premultiplied 0xAARRGGBB pixels to sRGB in place; alpha is kept.
    void ConvertRow(std::uint32_t *row, std::int32_t n);

    // Converts n pixels of 16-bit non-premultiplied R, G, B, A samples (0..65535, host order) to
    // 8-bit sRGB 0xAARRGGBB in out, from their full precision. With the identity it rounds each
    // sample to 8 bits (x * 255 / 65535, to nearest).
    void ConvertRow16(const std::uint16_t *rgba, std::uint32_t *out, std::int32_t n);

    // Pixels so far with at least one channel outside sRGB before clipping.
    [[nodiscard]] std::uint64_t ClippedPixels() const;

private:
    struct Conversion;
    std::unique_ptr<Conversion> conversion;
    std::string sourceName = "sRGB";
    bool unusable = false;
    std::uint64_t clipped = 0;
};

} // namespace imaging
