#include "analysis/summed_area_table.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace analysis {

namespace {

    // Huge pages: a fresh 100 MB table otherwise spends longer in page faults than in its build.
    constexpr std::size_t kHugePage = std::size_t { 2 } << 20;

#if defined(_WIN32)
    void *AllocateAligned(std::size_t alignment, std::size_t bytes)
    {
        return _aligned_malloc(bytes, alignment);
    }
#else
    void *AllocateAligned(std::size_t alignment, std::size_t bytes)
    {
        return std::aligned_alloc(alignment, bytes);
    }
#endif

} // namespace

void SummedAreaTable::FreeStorage::operator()(Entry *entries) const
{
#if defined(_WIN32)
    _aligned_free(entries);
#else
    std::free(entries);
#endif
}

void SummedAreaTable::Build(const std::uint32_t *rows, std::int32_t newWidth,
    std::int32_t newHeight, std::ptrdiff_t stridePixels, ChannelOrder order)
{
    constexpr std::int32_t kLargestSide = 1 << 16;
    if (rows == nullptr || newWidth < 1 || newHeight < 1 || newWidth > kLargestSide
        || newHeight > kLargestSide) {
        width = 0;
        height = 0;
        entries.reset();
        capacity = 0;
        return;
    }
    const auto span = static_cast<std::size_t>(newWidth) + 1;
    const std::size_t needed = span * (static_cast<std::size_t>(newHeight) + 1);
    if (needed > capacity) {
        // The storage is kept for later builds of the same or a smaller size.
        const std::size_t bytes = (needed * sizeof(Entry) + kHugePage - 1) / kHugePage * kHugePage;
        auto *storage = static_cast<Entry *>(AllocateAligned(kHugePage, bytes));
        if (storage == nullptr) {
            width = 0;
            height = 0;
            entries.reset();
            capacity = 0;
            return;
        }
#if defined(__linux__)
        madvise(storage, bytes, MADV_HUGEPAGE);
#endif
        entries.reset(storage);
        capacity = bytes / sizeof(Entry);
    }
    width = newWidth;
    height = newHeight;
    // Row 0 and column 0 are zero; the loop below writes every other entry.
    std::fill(entries.get(), entries.get() + span, Entry { 0, 0, 0 });

    const int redShift = order == ChannelOrder::kColourValue ? 0 : 16;
    const int blueShift = 16 - redShift;
    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint32_t *in = rows + static_cast<std::ptrdiff_t>(y) * stridePixels;
        const Entry *above = entries.get() + static_cast<std::size_t>(y) * span;
        Entry *out = entries.get() + (static_cast<std::size_t>(y) + 1) * span;
        out[0] = Entry { 0, 0, 0 };
        std::uint32_t r = 0, g = 0, b = 0;
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint32_t p = in[x];
            r += (p >> redShift) & 0xFFu;
            g += (p >> 8) & 0xFFu;
            b += (p >> blueShift) & 0xFFu;
            // Unsigned sums wrap by design; see the class comment.
            out[x + 1].r = above[x + 1].r + r;
            out[x + 1].g = above[x + 1].g + g;
            out[x + 1].b = above[x + 1].b + b;
        }
    }
}

ScanTotals SummedAreaTable::Totals(
    std::int32_t left, std::int32_t top, std::int32_t blockWidth, std::int32_t blockHeight) const
{
    ScanTotals totals;
    // 64-bit edges: left + blockWidth must not wrap for extreme arguments.
    const std::int64_t x0 = std::clamp<std::int64_t>(left, 0, width);
    const std::int64_t y0 = std::clamp<std::int64_t>(top, 0, height);
    const std::int64_t x1 = std::clamp<std::int64_t>(std::int64_t { left } + blockWidth, x0, width);
    const std::int64_t y1
        = std::clamp<std::int64_t>(std::int64_t { top } + blockHeight, y0, height);
    if (x1 == x0 || y1 == y0)
        return totals;

    const std::int64_t columns = x1 - x0;
    const std::int64_t stripRows = std::max<std::int64_t>(1, kExactPixels / columns);
    for (std::int64_t ya = y0; ya < y1; ya += stripRows) {
        const std::int64_t yb = std::min(y1, ya + stripRows);
        const Entry &a = At(static_cast<std::int32_t>(x0), static_cast<std::int32_t>(ya));
        const Entry &b = At(static_cast<std::int32_t>(x1), static_cast<std::int32_t>(ya));
        const Entry &c = At(static_cast<std::int32_t>(x0), static_cast<std::int32_t>(yb));
        const Entry &d = At(static_cast<std::int32_t>(x1), static_cast<std::int32_t>(yb));
        totals.sumR += static_cast<std::uint32_t>(d.r - b.r - c.r + a.r);
        totals.sumG += static_cast<std::uint32_t>(d.g - b.g - c.g + a.g);
        totals.sumB += static_cast<std::uint32_t>(d.b - b.b - c.b + a.b);
    }
    totals.count = static_cast<std::uint64_t>(columns) * static_cast<std::uint64_t>(y1 - y0);
    return totals;
}

} // namespace analysis
