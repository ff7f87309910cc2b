#pragma once

#include "analysis/row_sink.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fixtures {

// The sink that keeps every pixel a draw hands over, row after row, for comparing draws.
class KeepingSink final : public analysis::RowSink
{
public:
    bool Start(std::int32_t w, std::int32_t h) override
    {
        width = w;
        pixels.assign(static_cast<std::size_t>(w) * h, 0);
        return true;
    }
    std::uint32_t *RowSpace(std::int32_t y, std::int32_t, std::ptrdiff_t &stride) override
    {
        stride = width;
        return pixels.data() + static_cast<std::size_t>(y) * width;
    }
    void RowsDone(std::int32_t, std::int32_t) override { }

    std::int32_t width = 0;
    std::vector<std::uint32_t> pixels;
};

} // namespace fixtures
