#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace analysis {

// Where a decoder delivers its picture, top to bottom, as finished rows of opaque 0xFFRRGGBB
// pixels (alpha already composed over the background). The sink hands out the space the rows
// are written in, so a sink that keeps the picture has them decoded in place with no copy, and
// one that only sums them can reuse a few rows' worth of memory.
class RowSink
{
public:
    virtual ~RowSink() = default;

    // Called once before any row with the picture's size (each side >= 1); false refuses the
    // picture, and the decoder then stops.
    [[nodiscard]] virtual bool Start(std::int32_t width, std::int32_t height) = 0;

    // Writable space for rows y .. y + count - 1 (1 <= count <= height - y); row i starts at
    // result + i * stride pixels. Null when the memory cannot be had. The space stays valid
    // until the matching RowsDone.
    [[nodiscard]] virtual std::uint32_t *RowSpace(
        std::int32_t y, std::int32_t count, std::ptrdiff_t &stride)
        = 0;

    // Rows y .. y + count - 1 of the last RowSpace now hold their final pixels.
    virtual void RowsDone(std::int32_t y, std::int32_t count) = 0;

    // Finished rows of width pixels that the decoder holds in its own memory (stride in pixels).
    // The default copies them into RowSpace; sinks that can read them where they are do so.
    // False when RowSpace had no memory.
    [[nodiscard]] virtual bool TakeRows(std::int32_t y, std::int32_t count, std::int32_t width,
        const std::uint32_t *pixels, std::ptrdiff_t stride);
};

// RowSpace for sinks that read rows once and forget them: count rows of width pixels in space,
// grown as needed and reused from call to call; null when the memory cannot be had.
[[nodiscard]] std::uint32_t *ReusedRowSpace(std::vector<std::uint32_t> &space, std::int32_t width,
    std::int32_t count, std::ptrdiff_t &stride);

} // namespace analysis
