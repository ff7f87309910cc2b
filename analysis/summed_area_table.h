#pragma once

#include "analysis/calc_color.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace analysis {

// Where red sits in a 32-bit pixel: 0x00BBGGRR (ColourValue) or 0xXXRRGGBB (a 32-bit screen
// copy, as the window system hands it over).
enum class ChannelOrder {
    kColourValue,
    kXrgb,
};

// Channel sums of every rectangle of a raster in constant time: built once per raster, then any
// block's totals cost four reads per channel whatever its size.
//
// Each entry holds three 32-bit sums (12 bytes; (W + 1) x (H + 1) entries, so 99.6 MB for a
// 3840 x 2160 raster). The sums wrap modulo 2^32, which is harmless: a block's sum taken from the
// four corners is exact as long as its true value is below 2^32, that is for blocks of at most
// kExactPixels pixels (255 per channel each). Taller blocks are summed in strips that each stay
// under that bound and added in 64 bits, so no block of any raster up to 65,536 pixels a side
// can come out wrong.
class SummedAreaTable
{
public:
    // 2^32 - 1 divided by 255: the largest block whose corner sums cannot wrap past its value.
    static constexpr std::int64_t kExactPixels = 16'843'009;

    // Builds the table of `height` rows of `width` pixels, row y starting at
    // rows + y * stridePixels; sizes below 1 give an empty table. The storage is kept from one
    // build to the next, so a rebuild of the same size touches no fresh memory.
    void Build(const std::uint32_t *rows, std::int32_t width, std::int32_t height,
        std::ptrdiff_t stridePixels, ChannelOrder order);

    [[nodiscard]] std::int32_t Width() const { return width; }
    [[nodiscard]] std::int32_t Height() const { return height; }

    // Channel sums and pixel count of columns left .. left + blockWidth - 1 and rows
    // top .. top + blockHeight - 1, clipped to the raster: pixels outside it are neither summed
    // nor counted. Summarise() of the result gives exactly what the window's scan shows for the
    // same pixels.
    [[nodiscard]] ScanTotals Totals(std::int32_t left, std::int32_t top, std::int32_t blockWidth,
        std::int32_t blockHeight) const;

private:
    // No initialisers: a build writes every entry, and zeroing 100 MB first would double its
    // cost.
    struct Entry
    {
        std::uint32_t r;
        std::uint32_t g;
        std::uint32_t b;
    };

    struct FreeStorage
    {
        void operator()(Entry *entries) const;
    };

    [[nodiscard]] const Entry &At(std::int32_t x, std::int32_t y) const
    {
        return entries.get()[static_cast<std::size_t>(y) * static_cast<std::size_t>(width + 1)
            + static_cast<std::size_t>(x)];
    }

    std::int32_t width = 0;
    std::int32_t height = 0;
    std::unique_ptr<Entry[], FreeStorage> entries;
    std::size_t capacity = 0; // entries
};

} // namespace analysis
