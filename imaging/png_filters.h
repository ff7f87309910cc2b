#pragma once

#include <cstddef>
#include <cstdint>

namespace imaging::png {

// Undoes a PNG row filter in place: filter is the row's filter byte (0 None, 1 Sub, 2 Up,
// 3 Average, 4 Paeth), row its length bytes after that byte, previous the row above already
// unfiltered (zeros above the first row), bpp the bytes of one pixel rounded up to 1. False for a
// filter byte past 4, with the row left as it was.
[[nodiscard]] bool Unfilter(std::uint8_t filter, std::uint8_t *row, const std::uint8_t *previous,
    std::size_t length, int bpp);

// The same without vector instructions, the reference the vector paths are tested against.
[[nodiscard]] bool UnfilterPlain(std::uint8_t filter, std::uint8_t *row,
    const std::uint8_t *previous, std::size_t length, int bpp);

} // namespace imaging::png
