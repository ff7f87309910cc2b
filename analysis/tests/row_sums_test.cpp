// The row sums the window keeps beside its picture: each row's sums as AddChannelSums gives them,
// and nothing at all for rows that came out of order, twice or at another width.
#include "analysis/row_sums.h"

#include "analysis/pixel_statistics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace analysis {
namespace {

    // Row y of a 5-pixel-wide picture: channels that differ per row and per pixel, alpha random.
    std::vector<std::uint32_t> Row(std::int32_t y)
    {
        std::vector<std::uint32_t> row;
        for (std::uint32_t x = 0; x < 5; ++x)
            row.push_back(((x * 77u + static_cast<std::uint32_t>(y)) & 0xFFu) << 24
                | (10u * x + static_cast<std::uint32_t>(y)) << 16 | (200u - 7u * x) << 8
                | (x * 50u));
        return row;
    }

    struct DeliveryCase
    {
        const char *name;
        std::vector<std::int32_t> rows; // the order rows are handed over, one at a time
        std::int32_t width = 5; // the width they are handed over with
        bool complete;
        std::int32_t usableRows; // rows 0 .. usableRows - 1 add their sums
    };

    const DeliveryCase kDeliveries[] = {
        { "TopToBottom", { 0, 1, 2, 3 }, 5, true, 4 },
        { "TooFew", { 0, 1 }, 5, false, 2 },
        { "SkippedRow", { 0, 2, 3 }, 5, false, 0 },
        { "RepeatedRow", { 0, 1, 1, 2, 3 }, 5, false, 0 },
        { "BottomUp", { 3, 2, 1, 0 }, 5, false, 0 },
        { "OtherWidth", { 0, 1, 2, 3 }, 4, false, 0 },
    };

    void PrintTo(const DeliveryCase &c, std::ostream *os) { *os << c.name; }

    class RowSumsDelivery : public testing::TestWithParam<DeliveryCase>
    {
    };

    TEST_P(RowSumsDelivery, KeepsRowsThatCameInOrderOnly)
    {
        const DeliveryCase &c = GetParam();
        RowSums sums;
        ASSERT_TRUE(sums.Start(5, 4));
        for (const std::int32_t y : c.rows) {
            const std::vector<std::uint32_t> row = Row(y);
            EXPECT_TRUE(sums.TakeRows(y, 1, c.width, row.data(), 5));
        }
        EXPECT_EQ(sums.Complete(), c.complete);
        for (std::int32_t y = 0; y < 4; ++y) {
            SCOPED_TRACE(y);
            ScanTotals added { 1, 2, 3, 4 };
            ScanTotals expected = added;
            if (y < c.usableRows)
                AddChannelSums(Row(y).data(), 5, expected);
            EXPECT_EQ(sums.AddRow(y, added), y < c.usableRows);
            EXPECT_EQ(added.sumR, expected.sumR);
            EXPECT_EQ(added.sumG, expected.sumG);
            EXPECT_EQ(added.sumB, expected.sumB);
            EXPECT_EQ(added.count, expected.count);
        }
    }

    INSTANTIATE_TEST_SUITE_P(RowSums, RowSumsDelivery, testing::ValuesIn(kDeliveries),
        [](const auto &info) { return std::string(info.param.name); });

    // The widest row a decoder delivers, all white: 255 * 2^20 per channel, past 16 bits and
    // exact; a row too wide for 32-bit sums is refused before anything is held.
    TEST(RowSums, WidestRowsSumExactlyAndWiderOnesAreRefused)
    {
        constexpr std::int32_t kWide = 1 << 20;
        const std::vector<std::uint32_t> white(kWide, 0xFFFFFFFFu);
        RowSums sums;
        ASSERT_TRUE(sums.Start(kWide, 2));
        EXPECT_TRUE(sums.TakeRows(0, 2, kWide, white.data(), 0));
        ASSERT_TRUE(sums.Complete());
        ScanTotals totals;
        ASSERT_TRUE(sums.AddRow(0, totals));
        ASSERT_TRUE(sums.AddRow(1, totals));
        EXPECT_EQ(totals.sumR, 2u * 255u * kWide);
        EXPECT_EQ(totals.sumB, 2u * 255u * kWide);
        EXPECT_EQ(totals.count, 2u * kWide);

        RowSums tooWide;
        EXPECT_FALSE(tooWide.Start(16'843'010, 1));
        EXPECT_FALSE(tooWide.Complete());
    }

} // namespace
} // namespace analysis
