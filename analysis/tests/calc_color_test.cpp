#include "analysis/calc_color.h"
#include "analysis/raster.h"
#include "analysis/row_sums.h"
#include "analysis/tests/summary_hex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace analysis {
namespace {

    // The scan's start and its progress as the info label's writes stand for them here; the
    // window's own texts for them are its business.
    constexpr std::string_view kWaitText = "started";
    std::string ProgressText(std::int32_t rowsDone, std::int32_t rows)
    {
        return std::to_string(rowsDone) + " of " + std::to_string(rows) + " rows";
    }

    std::string Info(int r, int h, int g, int s, int b, int l)
    {
        return "means " + std::to_string(r) + " " + std::to_string(g) + " " + std::to_string(b)
            + ", hsl " + std::to_string(h) + " " + std::to_string(s) + " " + std::to_string(l);
    }

    // Records every output in order, like the three controls of the window would show them.
    struct RecordedOutputs
    {
        std::vector<std::string> infoTexts;
        std::string hexText = "#000000";
        ColourValue swatch = 0xFFFFFFu;
        int results = 0;

        void ScanStarted() { infoTexts.emplace_back(kWaitText); }
        void ScanProgress(std::int32_t rowsDone, std::int32_t rows)
        {
            infoTexts.push_back(ProgressText(rowsDone, rows));
        }
        void ScanFinished(const ColourSummary &summary)
        {
            hexText = tests::SummaryHex(summary);
            swatch = summary.swatch;
            ++results;
            infoTexts.push_back(analysis::Info(summary.avgR, summary.hsl.H, summary.avgG,
                summary.hsl.S, summary.avgB, summary.hsl.L));
        }
        [[nodiscard]] const std::string &Info() const { return infoTexts.back(); }
    };

    // A raster whose reads are counted, to check each pixel is read once and nothing past the end.
    struct CountingSource
    {
        const Raster *raster;
        mutable std::int64_t reads = 0;
        [[nodiscard]] double Width() const { return raster->Width(); }
        [[nodiscard]] double Height() const { return raster->Height(); }
        [[nodiscard]] ColourValue ReadPixel(int x, int y) const
        {
            ++reads;
            return raster->ReadPixel(x, y);
        }
    };

    // A source that reports a size without holding pixels: every read is "outside" and white.
    struct SizeOnlySource
    {
        double width;
        double height;
        [[nodiscard]] double Width() const { return width; }
        [[nodiscard]] double Height() const { return height; }
        [[nodiscard]] ColourValue ReadPixel(int, int) const { return 0xFFFFFFFFu; }
    };

    RecordedOutputs Scan(const Raster &raster)
    {
        ColourScanner scanner;
        RecordedOutputs out;
        scanner.CalcColor(
            raster, [] {}, out);
        EXPECT_FALSE(scanner.IsCalculating());
        return out;
    }

    TEST(CalcColor, SmallRastersGiveTruncatedMeansAndExactTexts)
    {
        struct Case
        {
            const char *what;
            std::vector<ColourValue> pixels;
            const char *hex;
            ColourValue swatch;
            std::string info;
        };
        const Case cases[] = {
            { "red and blue", { MakeColour(255, 0, 0), MakeColour(0, 0, 255) }, "#7F007F",
                0x007F007Fu, Info(127, 300, 0, 100, 127, 50) },
            { "black and white truncate", { 0, MakeColour(255, 255, 255) }, "#7F7F7F", 0x007F7F7Fu,
                Info(127, 0, 127, 0, 127, 50) },
            { "single (1,2,3)", { MakeColour(1, 2, 3) }, "#010203", 0x00030201u,
                Info(1, 210, 2, 67, 3, 1) },
            { "all white", { 0xFFFFFFu, 0xFFFFFFu, 0xFFFFFFu }, "#FFFFFF", 0x00FFFFFFu,
                Info(255, 0, 255, 0, 255, 100) },
            { "unreadable pixels count as white", { 0xFFFFFFFFu, 0xFFFFFFFFu }, "#FFFFFF",
                0x00FFFFFFu, Info(255, 0, 255, 0, 255, 100) },
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(c.what);
            Raster raster(static_cast<int>(c.pixels.size()), 1);
            for (std::size_t i = 0; i < c.pixels.size(); ++i)
                raster.SetPixel(static_cast<int>(i), 0, c.pixels[i]);
            const RecordedOutputs out = Scan(raster);
            EXPECT_EQ(out.hexText, c.hex);
            EXPECT_EQ(out.swatch, c.swatch);
            EXPECT_EQ(out.Info(), c.info);
            EXPECT_EQ(out.infoTexts.front(), kWaitText);
        }
    }

    TEST(CalcColor, EmptyRasterShowsBlackAndStillYieldsPerRow)
    {
        for (const auto &[w, h, yields] : { std::tuple { 0.0, 0.0, 0 }, std::tuple { 0.0, 5.0, 5 },
                 std::tuple { -3.0, 4.0, 4 }, std::tuple { 7.0, 0.0, 0 } }) {
            SCOPED_TRACE(testing::Message() << w << " x " << h);
            ColourScanner scanner;
            scanner.SetYieldInterval(std::chrono::nanoseconds(0));
            RecordedOutputs out;
            out.hexText = "#123456";
            int yieldCount = 0;
            scanner.CalcColor(
                SizeOnlySource { w, h }, [&] { ++yieldCount; }, out);
            EXPECT_EQ(yieldCount, yields);
            EXPECT_EQ(out.hexText, "#000000");
            EXPECT_EQ(out.swatch, 0u);
            EXPECT_EQ(out.Info(), Info(0, 0, 0, 0, 0, 0));
            EXPECT_FALSE(scanner.IsCalculating());
        }
    }

    TEST(CalcColor, PaneSizeIsRoundedHalfToEven)
    {
        // 2.5 x 1.5 rounds to 2 x 2: four reads, so the two reads past the raster count as white.
        Raster raster(2, 1, 0);
        struct HalfSource
        {
            const Raster *raster;
            mutable int reads = 0;
            double Width() const { return 2.5; }
            double Height() const { return 1.5; }
            ColourValue ReadPixel(int x, int y) const
            {
                ++reads;
                return raster->ReadPixel(x, y);
            }
        } source { &raster };
        ColourScanner scanner;
        RecordedOutputs out;
        scanner.CalcColor(
            source, [] {}, out);
        EXPECT_EQ(source.reads, 4);
        EXPECT_EQ(out.hexText, "#7F7F7F");
    }

    TEST(CalcColor, SumsNeverOverflowOnHugeWhitePictures)
    {
        // One pixel more than a 32-bit sum of 255s can hold; the mean must stay exactly 255.
        Raster raster(8'421'505, 1, 0xFFFFFFu);
        EXPECT_EQ(Scan(raster).hexText, "#FFFFFF");

        // A picture whose pixel count passes 2^32 is still exact (no pixels stored).
        ColourScanner scanner;
        scanner.SetYieldInterval(std::chrono::nanoseconds(0));
        RecordedOutputs out;
        int rows = 0;
        scanner.CalcColor(
            SizeOnlySource { 70'000.0, 70'000.0 }, [&] { ++rows; }, out);
        EXPECT_EQ(rows, 70'000);
        EXPECT_EQ(out.hexText, "#FFFFFF");
    }

    TEST(CalcColor, JustBelowThresholdIgnoresStopGesture)
    {
        Raster raster(999, 1001, MakeColour(10, 20, 30));
        CountingSource source { &raster };
        ColourScanner scanner;
        scanner.SetYieldInterval(std::chrono::nanoseconds(0));
        RecordedOutputs out;
        int rows = 0;
        scanner.CalcColor(
            source,
            [&] {
                if (++rows == 1) {
                    EXPECT_TRUE(scanner.IsCalculating());
                }
                scanner.StopGesture();
            },
            out);
        EXPECT_EQ(rows, 1001);
        EXPECT_EQ(source.reads, 999 * 1001);
        // No progress text in plain mode: the wait text, then the result.
        ASSERT_EQ(out.infoTexts.size(), 2u);
        EXPECT_EQ(out.infoTexts[0], kWaitText);
        EXPECT_EQ(out.Info(), Info(10, 210, 20, 67, 30, 12));
    }

    TEST(CalcColor, ProgressTextOnEvenRowsOnly)
    {
        Raster raster(1000, 1000, 0);
        ColourScanner scanner;
        scanner.SetYieldInterval(std::chrono::nanoseconds(0));
        RecordedOutputs out;
        std::vector<std::string> seenAfterRow;
        scanner.CalcColor(
            raster, [&] { seenAfterRow.push_back(out.infoTexts.back()); }, out);
        ASSERT_EQ(seenAfterRow.size(), 1000u);
        // The rows done up to the last even row read: 0.1%, 1.1% and 99.9% of the picture.
        EXPECT_EQ(seenAfterRow[0], ProgressText(1, 1000));
        EXPECT_EQ(seenAfterRow[10], ProgressText(11, 1000));
        EXPECT_EQ(seenAfterRow[998], ProgressText(999, 1000));
        // Odd rows leave the text of the row before.
        EXPECT_EQ(seenAfterRow[11], seenAfterRow[10]);
        EXPECT_EQ(seenAfterRow[999], seenAfterRow[998]);
        // Wait text, 500 progress texts, the result.
        EXPECT_EQ(out.infoTexts.size(), 502u);
        EXPECT_EQ(out.hexText, "#000000");
    }

    TEST(CalcColor, StopAfterFirstRowGivesFirstRowMeans)
    {
        // Row 0 red, the rest blue: a stop after row 0 must show pure red.
        Raster raster(1000, 1000, MakeColour(0, 0, 255));
        for (int x = 0; x < 1000; ++x)
            raster.SetPixel(x, 0, MakeColour(255, 0, 0));
        CountingSource source { &raster };
        ColourScanner scanner;
        RecordedOutputs out;
        int rows = 0;
        scanner.CalcColor(
            source,
            [&] {
                if (++rows == 1)
                    scanner.StopGesture();
            },
            out);
        EXPECT_EQ(rows, 1);
        EXPECT_EQ(source.reads, 1000);
        EXPECT_EQ(out.hexText, "#FF0000");
        EXPECT_EQ(out.Info(), Info(255, 0, 0, 100, 0, 100));
        EXPECT_FALSE(scanner.IsCalculating());
    }

    TEST(CalcColor, StopGestureOutsideARunChangesNothing)
    {
        ColourScanner scanner;
        scanner.StopGesture();
        EXPECT_FALSE(scanner.IsCalculating());
        Raster raster(1000, 1000, MakeColour(1, 2, 3));
        scanner.SetYieldInterval(std::chrono::nanoseconds(0));
        RecordedOutputs out;
        int rows = 0;
        scanner.CalcColor(
            raster, [&] { ++rows; }, out);
        EXPECT_EQ(rows, 1000); // an earlier stop does not cut the next run short
        EXPECT_EQ(out.hexText, "#010203");
    }

    TEST(CalcColor, NestedRunWinsInBothModes)
    {
        for (const int outerSize : { 10, 1000 }) {
            SCOPED_TRACE(outerSize);
            Raster outer(outerSize, outerSize, MakeColour(255, 0, 0));
            Raster inner(3, 3, MakeColour(0, 255, 0));
            ColourScanner scanner;
            RecordedOutputs out;
            int outerRows = 0;
            bool started = false;
            scanner.CalcColor(
                outer,
                [&] {
                    ++outerRows;
                    if (!started) {
                        started = true;
                        scanner.CalcColor(
                            inner, [] {}, out);
                    }
                },
                out);
            EXPECT_EQ(outerRows, 1); // the outer run stopped at its next row
            EXPECT_EQ(out.hexText, "#00FF00");
            EXPECT_EQ(out.Info(), Info(0, 120, 255, 100, 0, 100));
            EXPECT_EQ(out.results, 1); // only the inner run wrote hex and swatch
            EXPECT_FALSE(scanner.IsCalculating());
        }
    }

    // Claims a size of its own over a raster of another size, answering the row test the way a
    // pane does whose raster changed under a running scan.
    struct ResizedSource
    {
        const Raster *raster;
        double width;
        double height;
        double Width() const { return width; }
        double Height() const { return height; }
        ColourValue ReadPixel(int x, int y) const { return raster->ReadPixel(x, y); }
        bool RowInside(int y, int end) const { return raster->RowInside(y, end); }
        ColourValue ReadPixelInside(int x, int y) const { return raster->ReadPixelInside(x, y); }
    };
    static_assert(CheckedRowPixelSource<ResizedSource>);
    static_assert(CheckedRowPixelSource<Raster>);
    static_assert(!CheckedRowPixelSource<CountingSource>);

    TEST(CalcColor, RowPathAndPerPixelPathAgree)
    {
        // Odd sizes and noisy pixels: the unchecked row path must sum exactly what the
        // bounds-tested read sums, also where the claimed size runs past the raster.
        Raster raster(37, 23);
        std::uint32_t state = 99;
        for (int y = 0; y < 23; ++y) {
            for (int x = 0; x < 37; ++x) {
                state = state * 1664525u + 1013904223u;
                raster.SetPixel(x, y, state >> 8);
            }
        }
        for (const auto &[w, h] : { std::pair { 37.0, 23.0 }, std::pair { 40.0, 23.0 },
                 std::pair { 37.0, 25.0 }, std::pair { 30.0, 20.0 } }) {
            SCOPED_TRACE(testing::Message() << w << " x " << h);
            ColourScanner scanner;
            RecordedOutputs fast, checked;
            const ResizedSource resized { &raster, w, h };
            struct PerPixelOnly
            {
                const ResizedSource *inner;
                double Width() const { return inner->Width(); }
                double Height() const { return inner->Height(); }
                ColourValue ReadPixel(int x, int y) const { return inner->ReadPixel(x, y); }
            } perPixel { &resized };
            scanner.CalcColor(
                resized, [] {}, fast);
            scanner.CalcColor(
                perPixel, [] {}, checked);
            EXPECT_EQ(fast.hexText, checked.hexText);
            EXPECT_EQ(fast.Info(), checked.Info());
        }
        // Reads past the raster count as white: two black columns claimed four wide give grey.
        Raster black(2, 1, 0);
        RecordedOutputs out;
        ColourScanner scanner;
        scanner.CalcColor(
            ResizedSource { &black, 4.0, 1.0 }, [] {}, out);
        EXPECT_EQ(out.hexText, "#7F7F7F");
    }

    // A raster with the sums of its rows, as the window holds a decoded picture: rows whose sums
    // it offers are not read, the others are read pixel by pixel.
    struct SummedSource
    {
        const Raster *raster;
        const RowSums *sums;
        std::function<bool(std::int32_t)> offers; // whether row y's sums are offered
        mutable std::int64_t reads = 0;
        double Width() const { return raster->Width(); }
        double Height() const { return raster->Height(); }
        ColourValue ReadPixel(int x, int y) const
        {
            ++reads;
            return raster->ReadPixel(x, y);
        }
        bool AddRowSums(std::int32_t y, std::int32_t W, ScanTotals &totals) const
        {
            return offers(y) && W == sums->Width() && sums->AddRow(y, totals);
        }
    };
    static_assert(RowSummedPixelSource<SummedSource>);
    static_assert(!RowSummedPixelSource<Raster>);

    RowSums SumsOf(const Raster &raster)
    {
        RowSums sums;
        EXPECT_TRUE(sums.Start(raster.Width(), raster.Height()));
        std::vector<std::uint32_t> row(static_cast<std::size_t>(raster.Width()));
        for (std::int32_t y = 0; y < raster.Height(); ++y) {
            for (std::int32_t x = 0; x < raster.Width(); ++x) {
                const ColourValue c = raster.ReadPixel(x, y);
                row[static_cast<std::size_t>(x)]
                    = 0xFF000000u | GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c);
            }
            EXPECT_TRUE(sums.TakeRows(y, 1, raster.Width(), row.data(), raster.Width()));
        }
        return sums;
    }

    TEST(CalcColor, RowSumsStandForTheRowsTheyAreOfferedFor)
    {
        Raster raster(1001, 1000);
        std::uint32_t state = 7;
        for (int y = 0; y < raster.Height(); ++y)
            for (int x = 0; x < raster.Width(); ++x) {
                state = state * 1664525u + 1013904223u;
                raster.SetPixel(x, y, state >> 8);
            }
        const RowSums sums = SumsOf(raster);
        const RecordedOutputs read = Scan(raster);
        struct Case
        {
            const char *what;
            std::function<bool(std::int32_t)> offers;
            std::int64_t reads;
        };
        const Case cases[] = {
            { "every row", [](std::int32_t) { return true; }, 0 },
            { "none", [](std::int32_t) { return false; }, 1001 * 1000 },
            { "even rows only", [](std::int32_t y) { return y % 2 == 0; }, 1001 * 500 },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            const SummedSource source { &raster, &sums, c.offers };
            ColourScanner scanner;
            RecordedOutputs out;
            std::vector<std::string> progress;
            scanner.CalcColor(
                source, [&] { progress.push_back(out.infoTexts.back()); }, out);
            EXPECT_EQ(source.reads, c.reads);
            EXPECT_EQ(out.hexText, read.hexText);
            EXPECT_EQ(out.Info(), read.Info());
            // 1,001,000 pixels: the progress still counts rows, summed or read.
            EXPECT_EQ(progress.front(), ProgressText(1, 1000));
        }
    }

    // Rows that take a known time on a clock of the test's own: the scan must yield after row 0,
    // then after the first row that ends one interval after the previous yield returned, and show
    // the progress of the last even row at each yield.
    TEST(CalcColor, YieldsPacedByTheClock)
    {
        using std::chrono::milliseconds;
        struct Case
        {
            const char *what;
            int width, height;
            milliseconds rowTime, yieldTime, interval;
            std::vector<int> yieldRows; // worked out by hand from the times above
        };
        const Case cases[] = {
            { "every 16 rows of 1 ms", 10, 60, milliseconds(1), milliseconds(0), milliseconds(16),
                { 0, 16, 32, 48 } },
            { "a slow yield does not count as scanning time", 10, 60, milliseconds(1),
                milliseconds(5), milliseconds(16), { 0, 16, 32, 48 } },
            { "rows slower than the interval yield every row", 10, 5, milliseconds(20),
                milliseconds(0), milliseconds(16), { 0, 1, 2, 3, 4 } },
            { "progress at odd rows shows the even row before", 20'000, 60, milliseconds(1),
                milliseconds(0), milliseconds(15), { 0, 15, 30, 45 } },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.what);
            std::chrono::nanoseconds now { 0 };
            int rowsRead = 0;
            // Row y's first pixel read stands for the whole row's time.
            struct TimedSource
            {
                const Case *c;
                std::chrono::nanoseconds *now;
                int *rowsRead;
                double Width() const { return c->width; }
                double Height() const { return c->height; }
                ColourValue ReadPixel(int x, int) const
                {
                    if (x == 0) {
                        *now += c->rowTime;
                        ++*rowsRead;
                    }
                    return 0;
                }
            } source { &c, &now, &rowsRead };
            ColourScanner scanner;
            scanner.SetYieldInterval(c.interval);
            scanner.SetClock([&now] { return now; });
            RecordedOutputs out;
            std::vector<int> yieldRows;
            std::vector<std::string> shown;
            scanner.CalcColor(
                source,
                [&] {
                    yieldRows.push_back(rowsRead - 1);
                    shown.push_back(out.infoTexts.back());
                    now += c.yieldTime;
                },
                out);
            EXPECT_EQ(yieldRows, c.yieldRows);
            EXPECT_EQ(rowsRead, c.height);
            const bool progress = std::int64_t { c.width } * c.height >= kProgressThreshold;
            ASSERT_EQ(shown.size(), yieldRows.size());
            for (std::size_t k = 0; k < yieldRows.size(); ++k)
                EXPECT_EQ(shown[k],
                    progress ? ProgressText(yieldRows[k] - yieldRows[k] % 2 + 1, c.height)
                             : std::string(kWaitText));
            // The wait text, a progress text per yield in progress mode, the result.
            EXPECT_EQ(out.infoTexts.size(), 2 + (progress ? yieldRows.size() : 0));
        }
    }

} // namespace
} // namespace analysis
