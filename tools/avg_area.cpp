#include "tools/avg_area.h"

#include "tools/avg_colour_count.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace tools {
namespace {

    // A whole number of digits only, without sign, up to limit.
    std::optional<std::int64_t> WholeNumber(std::string_view text, std::int64_t limit)
    {
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || text[0] == '-' || text[0] == '+' || error != std::errc {}
            || end != text.data() + text.size() || value > limit)
            return std::nullopt;
        return value;
    }

    // "12", or "12.5%" with percent set (0..100).
    std::optional<double> RegionValue(std::string_view text, bool &percent)
    {
        percent = text.ends_with('%');
        if (!percent) {
            const auto pixels = WholeNumber(text, std::numeric_limits<std::int32_t>::max());
            return pixels ? std::optional<double>(static_cast<double>(*pixels)) : std::nullopt;
        }
        text.remove_suffix(1);
        double value = 0;
        const auto [end, error] = std::from_chars(
            text.data(), text.data() + text.size(), value, std::chars_format::fixed);
        if (text.empty() || text[0] == '-' || text[0] == '+' || error != std::errc {}
            || end != text.data() + text.size() || !(value >= 0 && value <= 100))
            return std::nullopt;
        return value;
    }

    std::string SizeText(std::int32_t width, std::int32_t height)
    {
        return std::to_string(width) + "x" + std::to_string(height);
    }

    // A start and a length along a side of `side` pixels, as the region gives them.
    std::pair<std::int64_t, std::int64_t> Span(const AreaRequest &request, int start, double side)
    {
        const double from = request.region[static_cast<std::size_t>(start)];
        const double length = request.region[static_cast<std::size_t>(start + 2)];
        const bool fromPercent = request.percent[static_cast<std::size_t>(start)];
        const bool lengthPercent = request.percent[static_cast<std::size_t>(start + 2)];
        const double begin = fromPercent ? std::nearbyint(from * side / 100) : from;
        // A percentage length ends where the percentage of the far edge rounds to, so regions of
        // 0..50% and 50..100% meet without a gap.
        const double end = lengthPercent
            ? std::nearbyint(((fromPercent ? from : from * 100 / side) + length) * side / 100)
            : begin + length;
        return { static_cast<std::int64_t>(begin), static_cast<std::int64_t>(end - begin) };
    }

    std::optional<std::vector<Cell>> RegionCell(
        const AreaRequest &request, std::int32_t width, std::int32_t height, std::string &problem)
    {
        const auto [x, w] = Span(request, 0, width);
        const auto [y, h] = Span(request, 1, height);
        const std::string named = "region " + std::to_string(x) + "," + std::to_string(y) + ","
            + std::to_string(w) + "," + std::to_string(h);
        if (w < 1 || h < 1) {
            problem = named + " holds no pixels";
            return std::nullopt;
        }
        if (x + w > width || y + h > height) {
            problem = named + " reaches past the picture (" + SizeText(width, height) + ")";
            return std::nullopt;
        }
        return std::vector<Cell> { Cell { "", static_cast<std::int32_t>(x),
            static_cast<std::int32_t>(y), static_cast<std::int32_t>(w),
            static_cast<std::int32_t>(h) } };
    }

    std::optional<std::vector<Cell>> GridCells(
        const AreaRequest &request, std::int32_t width, std::int32_t height, std::string &problem)
    {
        if (request.columns > width || request.rows > height) {
            problem = "a grid of " + SizeText(request.columns, request.rows)
                + " cells does not fit the picture (" + SizeText(width, height) + ")";
            return std::nullopt;
        }
        const std::int32_t cellWidth = width / request.columns;
        const std::int32_t cellHeight = height / request.rows;
        std::vector<Cell> cells;
        for (int r = 0; r < request.rows; ++r) {
            for (int c = 0; c < request.columns; ++c) {
                Cell cell { "cell " + std::to_string(c + 1) + "," + std::to_string(r + 1),
                    c * cellWidth, r * cellHeight, cellWidth, cellHeight };
                if (c == request.columns - 1)
                    cell.width = width - cell.x;
                if (r == request.rows - 1)
                    cell.height = height - cell.y;
                cells.push_back(std::move(cell));
            }
        }
        return cells;
    }

    std::optional<std::vector<Cell>> EdgeCells(
        const AreaRequest &request, std::int32_t width, std::int32_t height, std::string &problem)
    {
        const std::int32_t n = request.strip;
        if (n > width || n > height) {
            problem = "edges " + std::to_string(n) + " pixels wide do not fit the picture ("
                + SizeText(width, height) + ")";
            return std::nullopt;
        }
        return std::vector<Cell> {
            { "top", 0, 0, width, n },
            { "right", width - n, 0, n, height },
            { "bottom", 0, height - n, width, n },
            { "left", 0, 0, n, height },
        };
    }

} // namespace

std::optional<AreaRequest> ParseRegion(std::string_view text, std::string &problem)
{
    AreaRequest request;
    request.kind = AreaRequest::Kind::Region;
    std::size_t at = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t comma = i < 3 ? text.find(',', at) : text.size();
        std::optional<double> value;
        if (comma != std::string_view::npos)
            value = RegionValue(text.substr(at, comma - at), request.percent[i]);
        if (!value || (i == 3 && text.find(',', at) != std::string_view::npos)) {
            problem = "bad region '" + std::string(text)
                + "', expected X,Y,W,H in pixels or percent (10,20,300,200 or 0,0,50%,50%)";
            return std::nullopt;
        }
        request.region[i] = *value;
        at = comma + 1;
    }
    return request;
}

std::optional<AreaRequest> ParseGrid(std::string_view text, std::string &problem)
{
    const std::size_t cross = text.find('x');
    std::optional<std::int64_t> columns, rows;
    if (cross != std::string_view::npos) {
        columns = WholeNumber(text.substr(0, cross), kMostCells);
        rows = WholeNumber(text.substr(cross + 1), kMostCells);
    }
    if (!columns || !rows || *columns < 1 || *rows < 1 || *columns * *rows > kMostCells) {
        problem = "bad grid '" + std::string(text) + "', expected CxR with at most "
            + std::to_string(kMostCells) + " cells (such as 3x2)";
        return std::nullopt;
    }
    AreaRequest request;
    request.kind = AreaRequest::Kind::Grid;
    request.columns = static_cast<int>(*columns);
    request.rows = static_cast<int>(*rows);
    return request;
}

std::optional<AreaRequest> ParseEdges(std::string_view text, std::string &problem)
{
    const auto strip = WholeNumber(text, std::numeric_limits<std::int32_t>::max());
    if (!strip || *strip < 1) {
        problem = "bad edge width '" + std::string(text) + "', expected a number of pixels >= 1";
        return std::nullopt;
    }
    AreaRequest request;
    request.kind = AreaRequest::Kind::Edges;
    request.strip = static_cast<int>(*strip);
    return request;
}

std::optional<std::vector<Cell>> CellsFor(
    const AreaRequest &request, std::int32_t width, std::int32_t height, std::string &problem)
{
    switch (request.kind) {
    case AreaRequest::Kind::Whole:
        break;
    case AreaRequest::Kind::Region:
        return RegionCell(request, width, height, problem);
    case AreaRequest::Kind::Grid:
        return GridCells(request, width, height, problem);
    case AreaRequest::Kind::Edges:
        return EdgeCells(request, width, height, problem);
    }
    return std::vector<Cell> { Cell { "", 0, 0, width, height } };
}

CellsSink::CellsSink(const AreaRequest &request, bool meansOnly, bool countColours)
    : request(request)
    , meansOnly(meansOnly)
    , countColours(countColours)
{
}

bool CellsSink::Start(std::int32_t w, std::int32_t h)
{
    width = w;
    height = h;
    std::optional<std::vector<Cell>> found = CellsFor(request, w, h, problem);
    if (!found)
        return false;
    cells = std::move(*found);
    for (const Cell &cell : cells) {
        sums.push_back(std::make_unique<analysis::StatisticsSink>(meansOnly));
        (void)sums.back()->Start(cell.width, cell.height);
    }
    if (countColours && cells.size() <= kMostCellsWithColours)
        counting = std::make_unique<ColourCount>(cells, w);
    return true;
}

CellsSink::~CellsSink() = default;

const analysis::ColourHistogram *CellsSink::Colours(std::size_t cell)
{
    return counting ? &counting->Colours(cell) : nullptr;
}

std::uint32_t *CellsSink::RowSpace(std::int32_t, std::int32_t count, std::ptrdiff_t &stride)
{
    return analysis::ReusedRowSpace(space, width, count, stride);
}

void CellsSink::RowsDone(std::int32_t y, std::int32_t count)
{
    for (std::int32_t i = 0; i < count; ++i)
        AddRow(y + i, space.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(width));
    if (counting)
        counting->AddRows(y, count, space.data(), width);
}

bool CellsSink::TakeRows(std::int32_t y, std::int32_t count, std::int32_t,
    const std::uint32_t *pixels, std::ptrdiff_t stride)
{
    for (std::int32_t i = 0; i < count; ++i)
        AddRow(y + i, pixels + i * stride);
    if (counting)
        counting->AddRows(y, count, pixels, stride);
    return true;
}

void CellsSink::FindActive(std::int32_t y)
{
    // The set only changes where a cell starts or ends, so it is looked for at those rows alone.
    active.clear();
    activeFrom = y;
    activeUntil = height;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const Cell &cell = cells[i];
        const std::int32_t end = cell.y + cell.height;
        if (y >= cell.y && y < end) {
            active.push_back(i);
            activeUntil = std::min(activeUntil, end);
        } else if (cell.y > y) {
            activeUntil = std::min(activeUntil, cell.y);
        }
    }
}

void CellsSink::AddRow(std::int32_t y, const std::uint32_t *row)
{
    if (y < activeFrom || y >= activeUntil)
        FindActive(y);
    for (const std::size_t i : active)
        sums[i]->AddPixels(row + cells[i].x, cells[i].width);
}

} // namespace tools
