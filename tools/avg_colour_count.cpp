#include "tools/avg_colour_count.h"

#include <algorithm>

namespace tools {
namespace {

    // Batches of about 128 Ki pixels (at least a row), at most four waiting: 2 MiB in flight.
    constexpr std::size_t kBatchPixels = 128 * 1024;
    constexpr std::size_t kMostWaiting = 4;

} // namespace

ColourCount::ColourCount(std::vector<Cell> cellsToCount, std::int32_t pictureWidth)
    : cells(std::move(cellsToCount))
    , width(pictureWidth)
    , histograms(cells.size())
{
    worker = std::thread([this] { Work(); });
}

ColourCount::~ColourCount() { Finish(); }

void ColourCount::AddRows(
    std::int32_t y, std::int32_t count, const std::uint32_t *rows, std::ptrdiff_t stride)
{
    for (std::int32_t i = 0; i < count; ++i) {
        if (filling.rows == 0)
            filling.y = y + i;
        const std::uint32_t *row = rows + i * stride;
        filling.pixels.insert(filling.pixels.end(), row, row + width);
        ++filling.rows;
        if (filling.pixels.size() >= kBatchPixels)
            Push();
    }
}

void ColourCount::Push()
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return waiting.size() < kMostWaiting; });
    waiting.push_back(std::move(filling));
    filling = Batch {};
    if (!spare.empty()) {
        filling.pixels = std::move(spare.back().pixels);
        spare.pop_back();
    }
    filling.pixels.clear();
    lock.unlock();
    changed.notify_all();
}

void ColourCount::Count(const Batch &batch)
{
    for (std::size_t c = 0; c < cells.size(); ++c) {
        const Cell &cell = cells[c];
        const std::int32_t from = std::max(batch.y, cell.y);
        const std::int32_t to = std::min(batch.y + batch.rows, cell.y + cell.height);
        for (std::int32_t y = from; y < to; ++y) {
            const std::size_t row = static_cast<std::size_t>(y - batch.y);
            histograms[c].AddPixels(batch.pixels.data() + row * static_cast<std::size_t>(width)
                    + static_cast<std::size_t>(cell.x),
                cell.width);
        }
    }
}

void ColourCount::Work()
{
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return closed || !waiting.empty(); });
        if (waiting.empty())
            return;
        Batch batch = std::move(waiting.front());
        waiting.pop_front();
        lock.unlock();
        changed.notify_all();
        Count(batch);
        lock.lock();
        spare.push_back(std::move(batch));
    }
}

void ColourCount::Finish()
{
    if (finished)
        return;
    if (filling.rows > 0)
        Push();
    {
        const std::lock_guard lock(mutex);
        closed = true;
    }
    changed.notify_all();
    worker.join();
    finished = true;
}

const analysis::ColourHistogram &ColourCount::Colours(std::size_t cell)
{
    Finish();
    return histograms[cell];
}

} // namespace tools
