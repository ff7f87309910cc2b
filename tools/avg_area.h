#pragma once

#include "analysis/pixel_statistics.h"
#include "analysis/row_sink.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The parts of a picture quillmere-avg averages: the whole, one rectangle, the cells of a grid,
// or the strips along its edges, summed as the rows stream past.
namespace tools {

class ColourCount;

// What --region, --grid or --edges asked for, before the picture's size is known.
struct AreaRequest
{
    enum class Kind { Whole, Region, Grid, Edges };
    Kind kind = Kind::Whole;
    // --region X,Y,W,H: each a whole number of pixels, or a percentage of the picture's width
    // (X, W) or height (Y, H) when percent is set.
    std::array<double, 4> region {};
    std::array<bool, 4> percent {};
    int columns = 0; // --grid CxR
    int rows = 0;
    int strip = 0; // --edges N
};

// One part of a picture, in pixels.
struct Cell
{
    std::string label; // "" for the whole picture or a region, "cell C,R" or a side's name
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Grids may have at most this many cells; their figures take 12 KiB each.
inline constexpr int kMostCells = 4096;

// Cells of more than this many parts leave out the main colours (1 MiB of counts each).
inline constexpr std::size_t kMostCellsWithColours = 16;

// "X,Y,W,H" with each a whole number of pixels or a percentage ("12.5%"); the problem otherwise.
[[nodiscard]] std::optional<AreaRequest> ParseRegion(std::string_view text, std::string &problem);
// "CxR", each 1..4096 and C * R <= kMostCells.
[[nodiscard]] std::optional<AreaRequest> ParseGrid(std::string_view text, std::string &problem);
// "N", 1..2^31-1.
[[nodiscard]] std::optional<AreaRequest> ParseEdges(std::string_view text, std::string &problem);

// The cells of the request on a width x height picture, top to bottom and left to right (edges:
// top, right, bottom, left); nothing and why when a cell would reach past the picture or be
// empty. Percentages round to the nearest pixel edge, and grid cells are width / C pixels wide
// (and height / R high) with the rest of the division in the last column (and row).
[[nodiscard]] std::optional<std::vector<Cell>> CellsFor(
    const AreaRequest &request, std::int32_t width, std::int32_t height, std::string &problem);

// The sink that sums each cell's pixels as rows arrive, holding a few rows at a time. It refuses
// a picture its request does not fit (Problem says why).
class CellsSink final : public analysis::RowSink
{
public:
    // With countColours, the colours of up to kMostCellsWithColours parts are counted too.
    CellsSink(const AreaRequest &request, bool meansOnly, bool countColours);
    ~CellsSink() override;

    [[nodiscard]] bool Start(std::int32_t width, std::int32_t height) override;
    [[nodiscard]] std::uint32_t *RowSpace(
        std::int32_t y, std::int32_t count, std::ptrdiff_t &stride) override;
    void RowsDone(std::int32_t y, std::int32_t count) override;
    [[nodiscard]] bool TakeRows(std::int32_t y, std::int32_t count, std::int32_t width,
        const std::uint32_t *pixels, std::ptrdiff_t stride) override;

    [[nodiscard]] const std::vector<Cell> &Cells() const { return cells; }
    [[nodiscard]] const analysis::StatisticsSink &Sums(std::size_t cell) const
    {
        return *sums[cell];
    }
    // The part's colours once every row is in, or null when they are not counted.
    [[nodiscard]] const analysis::ColourHistogram *Colours(std::size_t cell);
    [[nodiscard]] const std::string &Problem() const { return problem; }
    [[nodiscard]] std::int32_t Width() const { return width; }
    [[nodiscard]] std::int32_t Height() const { return height; }

private:
    void AddRow(std::int32_t y, const std::uint32_t *row);
    void FindActive(std::int32_t y);

    AreaRequest request;
    bool meansOnly = false;
    bool countColours = false;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<Cell> cells;
    std::vector<std::unique_ptr<analysis::StatisticsSink>> sums;
    std::unique_ptr<ColourCount> counting;
    std::string problem;
    // The cells crossing the rows from activeFrom up to activeUntil.
    std::vector<std::size_t> active;
    std::int32_t activeFrom = 0;
    std::int32_t activeUntil = 0;
    std::vector<std::uint32_t> space;
};

} // namespace tools
