#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include <tiffio.h>

// TIFF pixels read from their samples: the depths and colour models libtiff's RGBA interface
// reduces by taking the high byte (16 bits), reads roughly (CIELab, CMYK with alpha) or refuses
// (12 bits, 32-bit integers and floats, 16-bit CMYK).
namespace imaging::tiff {

struct SampleLayout
{
    enum class Colours : std::uint8_t { Grey, Rgb, Cmyk, Lab, IccLab };

    Colours colours = Colours::Rgb;
    bool minIsWhite = false;
    int bits = 8; // 1..16 packed, 32 or (floating) 64
    bool floating = false;
    int samplesPerPixel = 1;
    bool separatePlanes = false;
    int alphaSample = -1; // the sample holding alpha, -1 without one
    bool associatedAlpha = false;
};

// The layout of the directory's samples when this reader is the one to use, else nothing (the
// RGBA interface then reads the file: palettes, YCbCr, bilevel and plain 8-bit pictures).
[[nodiscard]] std::optional<SampleLayout> SampleLayoutOf(TIFF *tiff);

// Sample values of count samples packed at bits each (most significant bit first, as TIFF packs
// them; 16, 32 and 64 bits in host order, as libtiff hands them over), written to out every
// stride values.
void ExtractSamples(const std::uint8_t *bytes, std::size_t count, const SampleLayout &layout,
    double *out, std::size_t stride);

// n pixels of sample values (samplesPerPixel each) to non-premultiplied R, G, B, A from 0 to 1,
// not clipped (floating-point samples may lie outside). CIELab comes out in the encoding of
// ColourDescription::Kind::Lab divided by its maximum.
void MapPixels(const SampleLayout &layout, const double *values, std::int32_t n, double *rgba);

} // namespace imaging::tiff
