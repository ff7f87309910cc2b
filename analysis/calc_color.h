#pragma once

#include "analysis/colour_math.h"

#include <chrono>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <functional>

namespace analysis {

// Anything the scan can read: a size in pixels (rounded half to even by the scan) and a pixel
// read returning 0x00BBGGRR, or 0xFFFFFFFF for a point outside the raster. The read is called
// once per pixel, so it must be an inline accessor, never a virtual call.
template <typename S>
concept PixelSource = requires(const S &source, int x, int y)
{
    {
        source.Width()
        } -> std::convertible_to<double>;
    {
        source.Height()
        } -> std::convertible_to<double>;
    {
        source.ReadPixel(x, y)
        } -> std::convertible_to<ColourValue>;
};

// A source that can also say a stretch of a row lies inside its raster, and then read those
// pixels without a bounds test per pixel, which lets the compiler vectorise the scan.
template <typename S>
concept CheckedRowPixelSource = PixelSource<S> && requires(const S &source, int x, int y)
{
    {
        source.RowInside(y, x)
        } -> std::convertible_to<bool>;
    {
        source.ReadPixelInside(x, y)
        } -> std::convertible_to<ColourValue>;
};

// Pictures of at least this many pixels show progress and can be stopped.
inline constexpr std::int64_t kProgressThreshold = 1'000'000;

// Channel sums of the pixels read so far; 64-bit, so no picture can overflow them.
struct ScanTotals
{
    std::uint64_t sumR = 0;
    std::uint64_t sumG = 0;
    std::uint64_t sumB = 0;
    std::uint64_t count = 0;
};

// A source that may hold the channel sums of its rows already, taken as they were decoded: the
// scan adds a row's sums instead of reading its pixels wherever AddRowSums says it did, which it
// may only do for a row of exactly W pixels, all inside the raster as it is now.
template <typename S>
concept RowSummedPixelSource = PixelSource<S> && requires(
    const S &source, std::int32_t y, std::int32_t W, ScanTotals &totals)
{
    {
        source.AddRowSums(y, W, totals)
        } -> std::same_as<bool>;
};

// What a finished (or stopped) scan found: truncated channel means 0..255, the swatch colour
// 0x00BBGGRR made of them, and their HSL values.
struct ColourSummary
{
    std::int16_t avgR = 0;
    std::int16_t avgG = 0;
    std::int16_t avgB = 0;
    ColourValue swatch = 0;
    HSLValue hsl;
};

// Where the results go: the start of a scan, its progress as the rows done of all rows
// (pictures of kProgressThreshold pixels or more only), and the finished scan's numbers. Each
// output writes its own texts from these.
template <typename O>
concept ColourOutputs
    = requires(O &outputs, std::int32_t rowsDone, std::int32_t rows, const ColourSummary &summary)
{
    outputs.ScanStarted();
    outputs.ScanProgress(rowsDone, rows);
    outputs.ScanFinished(summary);
};

// Truncated channel means of the totals (0 for an empty scan), with their swatch and HSL values.
[[nodiscard]] ColourSummary Summarise(const ScanTotals &totals);

// Size of a pixel source rounded half to even into 32 bits (saturating at the int32 range).
[[nodiscard]] std::int32_t RoundPaneSize(double pixels);

// Runs average-colour scans and owns their running flag. One per window: the stop gesture and
// every scan the window starts go through the same object.
class ColourScanner
{
public:
    // A monotonic clock in nanoseconds; the scan reads it once per row.
    using Clock = std::function<std::chrono::nanoseconds()>;

    // Reads every pixel of the source row by row and writes the means to outputs. It calls yield
    // after the first row, then after the first row that ends at least the yield interval after
    // the previous yield returned. Pictures of 1,000,000 pixels or more show, at each yield, the
    // progress of the last even row read, and stop after the row whose yield delivered the stop
    // gesture. A scan started from inside another scan's yield wins: the outer one stops after
    // that yield and writes nothing more.
    template <PixelSource Source, std::invocable Yield, ColourOutputs Outputs>
    void CalcColor(const Source &source, Yield &&yield, Outputs &outputs);

    // The double-click on the info text: stops a running progress scan after its current row.
    void StopGesture() { bCalculating = false; }

    [[nodiscard]] bool IsCalculating() const { return bCalculating; }

    // Zero yields after every row. The default keeps a window repainting about 60 times a second
    // while yielding rarely enough that the event loop costs little beside the scan itself.
    void SetYieldInterval(std::chrono::nanoseconds interval) { yieldInterval = interval; }
    void SetClock(Clock newClock) { clock = std::move(newClock); }

private:
    template <PixelSource Source>
    static void ScanRow(const Source &source, std::int32_t y, std::int32_t W, ScanTotals &totals);

    bool bCalculating = false;
    std::uint64_t newestRun = 0;
    std::chrono::nanoseconds yieldInterval = std::chrono::milliseconds(16);
    Clock clock = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    };
};

template <PixelSource Source>
inline void ColourScanner::ScanRow(
    const Source &source, std::int32_t y, std::int32_t W, ScanTotals &totals)
{
    if constexpr (RowSummedPixelSource<Source>) {
        if (source.AddRowSums(y, W, totals))
            return;
    }
    // 32-bit sums over chunks short enough that 255 per pixel cannot overflow them keep the
    // inner loop narrow; the source's read is inlined here.
    constexpr std::int32_t kChunk = 16'777'215 / 255 * 255;
    const auto sumRange = [&](std::int32_t x0, std::int32_t end, auto read) {
        std::uint32_t r = 0, g = 0, b = 0;
        for (std::int32_t x = x0; x < end; ++x) {
            const ColourValue c = read(x);
            r += static_cast<std::uint32_t>(GetRValue(c));
            g += static_cast<std::uint32_t>(GetGValue(c));
            b += static_cast<std::uint32_t>(GetBValue(c));
        }
        totals.sumR += r;
        totals.sumG += g;
        totals.sumB += b;
    };
    for (std::int32_t x0 = 0; x0 < W; x0 += kChunk) {
        const std::int32_t end = W - x0 > kChunk ? x0 + kChunk : W;
        if constexpr (CheckedRowPixelSource<Source>) {
            if (source.RowInside(y, end)) {
                sumRange(x0, end, [&](std::int32_t x) { return source.ReadPixelInside(x, y); });
                continue;
            }
        }
        sumRange(x0, end, [&](std::int32_t x) { return source.ReadPixel(x, y); });
    }
    if (W > 0)
        totals.count += static_cast<std::uint64_t>(W);
}

template <PixelSource Source, std::invocable Yield, ColourOutputs Outputs>
void ColourScanner::CalcColor(const Source &source, Yield &&yield, Outputs &outputs)
{
    const std::uint64_t thisRun = ++newestRun;
    bCalculating = true;
    const std::int32_t W = RoundPaneSize(static_cast<double>(source.Width()));
    const std::int32_t H = RoundPaneSize(static_cast<double>(source.Height()));
    outputs.ScanStarted();

    ScanTotals totals;
    const bool withProgress = static_cast<std::int64_t>(W) * H >= kProgressThreshold;
    // A yield costs more than a row, and nobody sees a progress text that is replaced before the
    // next yield: both happen only when the interval has passed.
    std::chrono::nanoseconds lastYield = clock();
    std::int32_t shownRow = -1;
    for (std::int32_t y = 0; y < H; ++y) {
        ScanRow(source, y, W, totals);
        if (y != 0 && clock() - lastYield < yieldInterval)
            continue;
        const std::int32_t evenRow = y - y % 2;
        if (withProgress && evenRow != shownRow) {
            outputs.ScanProgress(evenRow + 1, H);
            shownRow = evenRow;
        }
        yield();
        lastYield = clock();
        if (thisRun != newestRun)
            return; // a newer scan took over the window's results
        if (withProgress && !bCalculating)
            break;
    }

    outputs.ScanFinished(Summarise(totals));
    bCalculating = false;
}

} // namespace analysis
