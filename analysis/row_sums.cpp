#include "analysis/row_sums.h"

#include "analysis/pixel_statistics.h"

#include <new>

namespace analysis {
namespace {

    // A row of 255s this wide still fits each channel's sum in 32 bits.
    constexpr std::int32_t kWidestRow = 16'843'009;

} // namespace

bool RowSums::Start(std::int32_t w, std::int32_t h)
{
    width = w;
    height = h;
    summedRows = 0;
    unusable = false;
    rows.clear();
    if (w < 1 || h < 1 || w > kWidestRow)
        return false;
    try {
        rows.resize(static_cast<std::size_t>(h));
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

std::uint32_t *RowSums::RowSpace(std::int32_t, std::int32_t count, std::ptrdiff_t &stride)
{
    return ReusedRowSpace(space, width, count, stride);
}

void RowSums::RowsDone(std::int32_t y, std::int32_t count)
{
    for (std::int32_t i = 0; i < count; ++i)
        SumRow(y + i, space.data() + static_cast<std::ptrdiff_t>(i) * width);
}

bool RowSums::TakeRows(std::int32_t y, std::int32_t count, std::int32_t rowWidth,
    const std::uint32_t *pixels, std::ptrdiff_t stride)
{
    if (rowWidth != width)
        unusable = true;
    for (std::int32_t i = 0; i < count && !unusable; ++i)
        SumRow(y + i, pixels + i * stride);
    return true;
}

void RowSums::SumRow(std::int32_t y, const std::uint32_t *pixels)
{
    if (unusable || y != summedRows || y >= height) {
        unusable = true;
        return;
    }
    ScanTotals row;
    AddChannelSums(pixels, width, row);
    rows[static_cast<std::size_t>(y)] = { static_cast<std::uint32_t>(row.sumR),
        static_cast<std::uint32_t>(row.sumG), static_cast<std::uint32_t>(row.sumB) };
    ++summedRows;
}

bool RowSums::AddRow(std::int32_t y, ScanTotals &totals) const
{
    if (unusable || y < 0 || y >= summedRows)
        return false;
    const std::array<std::uint32_t, 3> &row = rows[static_cast<std::size_t>(y)];
    totals.sumR += row[0];
    totals.sumG += row[1];
    totals.sumB += row[2];
    totals.count += static_cast<std::uint64_t>(width);
    return true;
}

} // namespace analysis
