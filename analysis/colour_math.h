#pragma once

#include <cstdint>

// Colour values are 0x00BBGGRR: red in bits 0-7, green in 8-15, blue in 16-23. Bits 24-31 are
// ignored, so 0xFFFFFFFF (an unreadable pixel) reads as white.
namespace analysis {

using ColourValue = std::uint32_t;

// Hue in whole degrees (0..360 inclusive), saturation and brightness in whole percent (0..100),
// as in the HSV model: L is the largest channel relative to 255.
struct HSLValue
{
    std::int16_t H = 0;
    std::int16_t S = 0;
    std::int16_t L = 0;

    friend bool operator==(const HSLValue &, const HSLValue &) = default;
};

// Red channel of a colour value, 0..255.
[[nodiscard]] constexpr std::int32_t GetRValue(ColourValue rgbColor)
{
    return static_cast<std::int32_t>(rgbColor & 0xFFu);
}

// Green channel, 0..255. Equal to (rgbColor AND 0xFF00) / 256 rounded, which is exact.
[[nodiscard]] constexpr std::int32_t GetGValue(ColourValue rgbColor)
{
    return static_cast<std::int32_t>((rgbColor & 0xFF00u) >> 8);
}

// Blue channel, 0..255. Equal to (rgbColor AND 0xFF0000) / 65536 rounded, which is exact.
[[nodiscard]] constexpr std::int32_t GetBValue(ColourValue rgbColor)
{
    return static_cast<std::int32_t>((rgbColor & 0xFF0000u) >> 16);
}

// Colour value from channels 0..255.
[[nodiscard]] constexpr ColourValue MakeColour(std::int32_t r, std::int32_t g, std::int32_t b)
{
    return static_cast<ColourValue>(r) | (static_cast<ColourValue>(g) << 8)
        | (static_cast<ColourValue>(b) << 16);
}

// Hue, saturation and brightness of channels 0..255. The hue factor 60 / (max - min) is kept in
// single precision, which moves some hues by one degree; every rounding is half to even.
[[nodiscard]] HSLValue RGBToHSL(std::int32_t R, std::int32_t G, std::int32_t B);

} // namespace analysis
