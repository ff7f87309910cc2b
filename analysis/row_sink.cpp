#include "analysis/row_sink.h"

#include <algorithm>
#include <new>

namespace analysis {

bool RowSink::TakeRows(std::int32_t y, std::int32_t count, std::int32_t width,
    const std::uint32_t *pixels, std::ptrdiff_t stride)
{
    for (std::int32_t i = 0; i < count; ++i) {
        std::ptrdiff_t spaceStride = 0;
        std::uint32_t *row = RowSpace(y + i, 1, spaceStride);
        if (!row)
            return false;
        const std::uint32_t *from = pixels + i * stride;
        std::copy(from, from + width, row);
        RowsDone(y + i, 1);
    }
    return true;
}

std::uint32_t *ReusedRowSpace(std::vector<std::uint32_t> &space, std::int32_t width,
    std::int32_t count, std::ptrdiff_t &stride)
{
    const std::size_t needed = static_cast<std::size_t>(count) * static_cast<std::size_t>(width);
    try {
        if (space.size() < needed)
            space.resize(needed);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    stride = width;
    return space.data();
}

} // namespace analysis
