#pragma once

#include "analysis/dominant_colours.h"
#include "tools/avg_area.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tools {

// Counts the colours of a picture's parts on a thread of its own, from copies of the rows, so the
// count costs the decode next to nothing on a machine with a core to spare. At most a few
// batches of rows wait at once: a decoder that runs ahead waits for the count.
class ColourCount
{
public:
    // One histogram for each cell; the cells lie inside pictures `width` pixels wide.
    ColourCount(std::vector<Cell> cells, std::int32_t width);
    ~ColourCount();
    ColourCount(const ColourCount &) = delete;
    ColourCount &operator=(const ColourCount &) = delete;

    // Rows y .. y + count - 1, row i at rows + i * stride.
    void AddRows(
        std::int32_t y, std::int32_t count, const std::uint32_t *rows, std::ptrdiff_t stride);

    // Waits for every row given so far to be counted; then the cell's colours.
    [[nodiscard]] const analysis::ColourHistogram &Colours(std::size_t cell);

private:
    struct Batch
    {
        std::int32_t y = 0;
        std::int32_t rows = 0;
        std::vector<std::uint32_t> pixels;
    };

    void Push();
    void Count(const Batch &batch);
    void Work();
    void Finish();

    std::vector<Cell> cells;
    std::int32_t width = 0;
    std::vector<analysis::ColourHistogram> histograms;
    Batch filling;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Batch> waiting;
    std::vector<Batch> spare;
    bool closed = false;
    bool finished = false;
    std::thread worker;
};

} // namespace tools
