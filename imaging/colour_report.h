#pragma once

#include <cstdint>
#include <string>

namespace imaging {

// How a draw treats the picture's colours.
struct ColourOptions
{
    bool raw = false; // raw: average the stored numbers, no conversion
};

// What a draw did to the picture's colours.
struct ColourReport
{
    std::string sourceName = "sRGB"; // ColourConverter::SourceName(): the colours it came in
    bool converted = false; // pixels were converted to sRGB (false for sRGB and raw)
    bool unusable = false; // a description was there but could not be used: read as sRGB
    bool raw = false; // the stored numbers were averaged on request
    std::uint64_t clippedPixels = 0; // pixels with a channel outside sRGB, clipped
};

} // namespace imaging
