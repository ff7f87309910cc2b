#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace imaging {

// Colour code points as ITU-T H.273 numbers them (HEIF/AVIF nclx, PNG cICP, JPEG XL's enums).
struct Cicp
{
    std::uint8_t primaries = 1; // 1 BT.709/sRGB, 9 BT.2020, 12 Display P3 (P3-D65), ...
    std::uint8_t transfer = 13; // 13 sRGB, 1/6/14/15 BT.709, 16 PQ, 18 HLG, 8 linear, 4/5 gamma
    std::uint8_t matrix = 0; // 0 identity (RGB), 1 BT.709, 5/6 BT.601, 9 BT.2020 non-constant
    bool fullRange = true;

    friend bool operator==(const Cicp &, const Cicp &) = default;
};

// What a picture says about the colours its numbers stand for, read before any pixel. A picture
// that says nothing is sRGB.
struct ColourDescription
{
    enum class Kind : std::uint8_t {
        Unspecified, // nothing said: sRGB
        Srgb, // said to be sRGB outright (PNG sRGB chunk)
        Icc, // an embedded ICC profile, in icc
        Cicp, // code points, in cicp
        GammaChromaticities, // PNG gAMA (and cHRM where present), in gamma and chromaticities
        // CIE L*a*b* (D50) pixels, not RGB (TIFF photometric 8 and 9): 16-bit samples carry
        // L * 65535 / 100 and (a + 128) * 257, (b + 128) * 257; 8-bit ones L * 255 / 100, a + 128,
        // b + 128.
        Lab,
    };

    Kind kind = Kind::Unspecified;
    std::vector<std::uint8_t> icc;
    Cicp cicp;
    // The file's encoding exponent (PNG gAMA / 100000, 0.45455 for the usual 1/2.2).
    double gamma = 0;
    // White, red, green, blue as CIE xy pairs; all zero when no cHRM was there (then the sRGB
    // primaries and D65 white).
    std::array<double, 8> chromaticities {};
    // A colour chunk or profile was there but could not be read; the picture is taken as sRGB.
    bool damaged = false;
};

} // namespace imaging
