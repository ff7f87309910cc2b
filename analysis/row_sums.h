#pragma once

#include "analysis/calc_color.h"
#include "analysis/row_sink.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace analysis {

// The channel sums of each row of a picture, taken with quillmere-avg's sum (AddChannelSums) as a
// decoder delivers the rows. A window that keeps the picture keeps these beside it, so that its
// scan of the whole picture adds up rows instead of reading every pixel a second time.
class RowSums final : public RowSink
{
public:
    // False when the rows' sums cannot be had (memory, or a row too wide for 32-bit sums).
    [[nodiscard]] bool Start(std::int32_t width, std::int32_t height) override;
    [[nodiscard]] std::uint32_t *RowSpace(
        std::int32_t y, std::int32_t count, std::ptrdiff_t &stride) override;
    void RowsDone(std::int32_t y, std::int32_t count) override;
    [[nodiscard]] bool TakeRows(std::int32_t y, std::int32_t count, std::int32_t width,
        const std::uint32_t *pixels, std::ptrdiff_t stride) override;

    [[nodiscard]] std::int32_t Width() const { return width; }
    [[nodiscard]] std::int32_t Height() const { return height; }
    // Whether rows 0 .. Height() - 1 have all been summed, in that order.
    [[nodiscard]] bool Complete() const { return height > 0 && summedRows == height; }

    // Adds row y's sums (Width() pixels) to totals; false, leaving them alone, for a row that was
    // not summed.
    bool AddRow(std::int32_t y, ScanTotals &totals) const;

private:
    void SumRow(std::int32_t y, const std::uint32_t *pixels);

    std::int32_t width = 0;
    std::int32_t height = 0;
    // Rows 0 .. summedRows - 1 arrived in order; a row out of order or of another width makes
    // the sums unusable for good.
    std::int32_t summedRows = 0;
    bool unusable = false;
    std::vector<std::array<std::uint32_t, 3>> rows;
    std::vector<std::uint32_t> space;
};

} // namespace analysis
