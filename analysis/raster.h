#pragma once

#include "analysis/colour_math.h"

#include <cstdint>
#include <vector>

namespace analysis {

// An in-memory raster of 0x00BBGGRR values, row by row; the scan's pixel source for tools,
// tests and benchmarks.
class Raster
{
public:
    Raster() = default;
    Raster(std::int32_t width, std::int32_t height, ColourValue fill = 0);

    [[nodiscard]] std::int32_t Width() const { return width; }
    [[nodiscard]] std::int32_t Height() const { return height; }

    // 0x00BBGGRR of column x, row y; 0xFFFFFFFF outside the raster.
    [[nodiscard]] ColourValue ReadPixel(std::int32_t x, std::int32_t y) const
    {
        if (static_cast<std::uint32_t>(x) >= static_cast<std::uint32_t>(width)
            || static_cast<std::uint32_t>(y) >= static_cast<std::uint32_t>(height))
            return 0xFFFFFFFFu;
        return ReadPixelInside(x, y);
    }

    // True when pixels 0 .. end - 1 of row y lie inside the raster.
    [[nodiscard]] bool RowInside(std::int32_t y, std::int32_t end) const
    {
        return static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(height) && end <= width;
    }

    // ReadPixel for a point known to be inside (see RowInside).
    [[nodiscard]] ColourValue ReadPixelInside(std::int32_t x, std::int32_t y) const
    {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width)
            + static_cast<std::size_t>(x)];
    }

    // The first pixel; rows follow one another without padding.
    [[nodiscard]] const ColourValue *Data() const { return pixels.data(); }

    void SetPixel(std::int32_t x, std::int32_t y, ColourValue colour)
    {
        pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width)
            + static_cast<std::size_t>(x)]
            = colour;
    }

private:
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<ColourValue> pixels;
};

} // namespace analysis
