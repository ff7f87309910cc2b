// The parts of a picture: their rectangles worked out by hand, and their sums against sums made
// here pixel by pixel on generated pictures of odd sizes.
#include "tools/avg_area.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tools {
namespace {

    std::string Text(const std::vector<Cell> &cells)
    {
        std::string text;
        for (const Cell &c : cells) {
            text += (c.label.empty() ? "-" : c.label) + " " + std::to_string(c.x) + ","
                + std::to_string(c.y) + " " + std::to_string(c.width) + "x"
                + std::to_string(c.height) + "; ";
        }
        return text;
    }

    AreaRequest Request(
        std::optional<AreaRequest> (*parse)(std::string_view, std::string &), std::string_view text)
    {
        std::string problem;
        const std::optional<AreaRequest> request = parse(text, problem);
        EXPECT_TRUE(request) << problem;
        return request.value_or(AreaRequest {});
    }

    struct CellsCase
    {
        const char *name;
        AreaRequest request;
        std::int32_t width, height;
        std::string cells; // or the problem
    };

    // 7x5 in a 3x2 grid: 7 / 3 = 2 columns of 2 and the last of 3, rows of 2 and 3. 50% of 7 is
    // 3.5, which rounds to even: 4; 25% + 50% of 5 ends at 3.75 -> 4.
    const CellsCase kCells[] = {
        { "Whole", AreaRequest {}, 7, 5, "- 0,0 7x5; " },
        { "RegionAtTheEdge", Request(ParseRegion, "4,3,3,2"), 7, 5, "- 4,3 3x2; " },
        { "RegionInPercent", Request(ParseRegion, "0%,25%,50%,50%"), 7, 5, "- 0,1 4x3; " },
        { "HalvesMeet", Request(ParseRegion, "50%,0,50%,100%"), 7, 5, "- 4,0 3x5; " },
        { "GridThatDoesNotDivide", Request(ParseGrid, "3x2"), 7, 5,
            "cell 1,1 0,0 2x2; cell 2,1 2,0 2x2; cell 3,1 4,0 3x2; "
            "cell 1,2 0,2 2x3; cell 2,2 2,2 2x3; cell 3,2 4,2 3x3; " },
        { "GridOfSinglePixels", Request(ParseGrid, "2x1"), 2, 1,
            "cell 1,1 0,0 1x1; cell 2,1 1,0 1x1; " },
        { "Edges", Request(ParseEdges, "2"), 7, 5,
            "top 0,0 7x2; right 5,0 2x5; bottom 0,3 7x2; left 0,0 2x5; " },
        { "RegionPastTheRight", Request(ParseRegion, "4,3,4,2"), 7, 5,
            "region 4,3,4,2 reaches past the picture (7x5)" },
        { "RegionPastTheBottom", Request(ParseRegion, "0,5,1,1"), 7, 5,
            "region 0,5,1,1 reaches past the picture (7x5)" },
        { "RegionOutsideEntirely", Request(ParseRegion, "100,100,10,10"), 7, 5,
            "region 100,100,10,10 reaches past the picture (7x5)" },
        { "EmptyRegion", Request(ParseRegion, "0,0,0,3"), 7, 5, "region 0,0,0,3 holds no pixels" },
        { "PercentRoundingToNothing", Request(ParseRegion, "0,0,5%,100%"), 7, 5,
            "region 0,0,0,5 holds no pixels" },
        { "GridFinerThanThePicture", Request(ParseGrid, "8x1"), 7, 5,
            "a grid of 8x1 cells does not fit the picture (7x5)" },
        { "EdgesWiderThanThePicture", Request(ParseEdges, "6"), 7, 5,
            "edges 6 pixels wide do not fit the picture (7x5)" },
    };

    void PrintTo(const CellsCase &c, std::ostream *os) { *os << c.name; }

    class CellsForTest : public testing::TestWithParam<CellsCase>
    {
    };

    TEST_P(CellsForTest, GivesTheRectanglesOrWhyNot)
    {
        const CellsCase &c = GetParam();
        std::string problem;
        const std::optional<std::vector<Cell>> cells
            = CellsFor(c.request, c.width, c.height, problem);
        EXPECT_EQ(cells ? Text(*cells) : problem, c.cells);
    }

    INSTANTIATE_TEST_SUITE_P(Parts, CellsForTest, testing::ValuesIn(kCells),
        [](const testing::TestParamInfo<CellsCase> &info) { return info.param.name; });

    TEST(ParseArea, RefusesWhatIsNotARectangleGridOrWidth)
    {
        for (const char *text : { "", "1,2,3", "1,2,3,4,", "a,2,3,4", "-1,0,2,2", "1,2,3,101%",
                 "1.5,2,3,4", "1,2,3,4%%", "+1,2,3,4", "1,,3,4" }) {
            std::string problem;
            EXPECT_FALSE(ParseRegion(text, problem)) << text;
            EXPECT_NE(problem.find("bad region"), std::string::npos) << text;
        }
        for (const char *text : { "", "x", "3x", "x3", "0x2", "2x0", "3x2x1", "3X2", "4097x1" }) {
            std::string problem;
            EXPECT_FALSE(ParseGrid(text, problem)) << text;
        }
        for (const char *text : { "", "0", "-3", "2.5", "3px", "2147483648" }) {
            std::string problem;
            EXPECT_FALSE(ParseEdges(text, problem)) << text;
        }
    }

    // Sums by the sink, fed the way a streaming decoder does (RowSpace in bands of up to three
    // rows) and the way a whole-picture one does (TakeRows), against sums over each rectangle.
    TEST(CellsSink, SumsEachPartLikeAScanOfItsRectangle)
    {
        constexpr std::int32_t kWidth = 37, kHeight = 23;
        std::mt19937 random(19);
        std::vector<std::uint32_t> picture(kWidth * kHeight);
        for (std::uint32_t &pixel : picture)
            pixel = 0xFF000000u | (random() & 0xFFFFFFu);
        const AreaRequest requests[]
            = { Request(ParseRegion, "36,0,1,23"), Request(ParseRegion, "10%,10%,80%,80%"),
                  Request(ParseGrid, "5x4"), Request(ParseEdges, "3"), AreaRequest {} };
        for (const AreaRequest &request : requests) {
            for (const bool inPlace : { false, true }) {
                CellsSink sink(request, false, false);
                ASSERT_TRUE(sink.Start(kWidth, kHeight)) << sink.Problem();
                SCOPED_TRACE(Text(sink.Cells()) + (inPlace ? " taken" : " streamed"));
                for (std::int32_t y = 0; y < kHeight; y += 3) {
                    const std::int32_t rows = std::min(3, kHeight - y);
                    const std::uint32_t *from = picture.data() + y * kWidth;
                    if (inPlace) {
                        ASSERT_TRUE(sink.TakeRows(y, rows, kWidth, from, kWidth));
                        continue;
                    }
                    std::ptrdiff_t stride = 0;
                    std::uint32_t *space = sink.RowSpace(y, rows, stride);
                    ASSERT_NE(space, nullptr);
                    for (std::int32_t r = 0; r < rows; ++r)
                        std::copy(from + r * kWidth, from + (r + 1) * kWidth, space + r * stride);
                    sink.RowsDone(y, rows);
                }
                for (std::size_t i = 0; i < sink.Cells().size(); ++i) {
                    const Cell &cell = sink.Cells()[i];
                    std::uint64_t r = 0, g = 0, b = 0, n = 0;
                    for (std::int32_t y = cell.y; y < cell.y + cell.height; ++y) {
                        for (std::int32_t x = cell.x; x < cell.x + cell.width; ++x) {
                            const std::uint32_t p = picture[y * kWidth + x];
                            r += (p >> 16) & 0xFF;
                            g += (p >> 8) & 0xFF;
                            b += p & 0xFF;
                            ++n;
                        }
                    }
                    const analysis::PictureStatistics s = sink.Sums(i).Statistics();
                    EXPECT_EQ(s.totals.sumR, r) << cell.label;
                    EXPECT_EQ(s.totals.sumG, g) << cell.label;
                    EXPECT_EQ(s.totals.sumB, b) << cell.label;
                    EXPECT_EQ(s.totals.count, n) << cell.label;
                }
            }
        }
    }

    TEST(CellsSink, RefusesAPictureTheRequestDoesNotFitAndSaysWhy)
    {
        CellsSink sink(Request(ParseRegion, "0,0,10,10"), true, false);
        EXPECT_FALSE(sink.Start(9, 10));
        EXPECT_EQ(sink.Problem(), "region 0,0,10,10 reaches past the picture (9x10)");
    }

    // The colours counted on the side thread, over several batches of rows, equal a count of
    // each part's pixels made here.
    TEST(CellsSink, CountsEachPartsColoursLikeADirectCount)
    {
        constexpr std::int32_t kWidth = 701, kHeight = 403; // about two batches and a bit
        std::mt19937 random(5);
        std::vector<std::uint32_t> picture(kWidth * kHeight);
        for (std::uint32_t &pixel : picture)
            pixel = 0xFF000000u | (random() & 0xFFFFFFu);
        CellsSink sink(Request(ParseGrid, "3x2"), false, true);
        ASSERT_TRUE(sink.Start(kWidth, kHeight));
        for (std::int32_t y = 0; y < kHeight; y += 7) {
            const std::int32_t rows = std::min(7, kHeight - y);
            ASSERT_TRUE(sink.TakeRows(y, rows, kWidth, picture.data() + y * kWidth, kWidth));
        }
        for (std::size_t i = 0; i < sink.Cells().size(); ++i) {
            const Cell &cell = sink.Cells()[i];
            analysis::ColourHistogram direct;
            for (std::int32_t y = cell.y; y < cell.y + cell.height; ++y)
                direct.AddPixels(picture.data() + y * kWidth + cell.x, cell.width);
            const analysis::ColourHistogram *counted = sink.Colours(i);
            ASSERT_NE(counted, nullptr);
            EXPECT_EQ(counted->Count(), direct.Count()) << cell.label;
            const auto a = counted->Bins(), b = direct.Bins();
            std::size_t differing = 0;
            for (std::size_t k = 0; k < a.size(); ++k) {
                differing += a[k].count != b[k].count || a[k].sumR != b[k].sumR
                    || a[k].sumG != b[k].sumG || a[k].sumB != b[k].sumB;
            }
            EXPECT_EQ(differing, 0u) << cell.label;
        }
    }

    // Main colours are counted for a few parts only: each part's counts take 1 MiB.
    TEST(CellsSink, CountsColoursForUpToSixteenParts)
    {
        for (const auto &[grid, counted] :
            { std::pair { "4x4", true }, std::pair { "17x1", false } }) {
            CellsSink sink(Request(ParseGrid, grid), false, true);
            ASSERT_TRUE(sink.Start(40, 40));
            EXPECT_EQ(sink.Colours(0) != nullptr, counted) << grid;
        }
    }

} // namespace
} // namespace tools
