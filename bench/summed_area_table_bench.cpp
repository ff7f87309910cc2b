// The live readout's costs on a 3840 x 2160 frozen copy: one table build per freeze, then one
// block's totals and its hex text per pointer move.
#include "analysis/calc_color.h"
#include "analysis/summed_area_table.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::int32_t kWidth = 3840;
constexpr std::int32_t kHeight = 2160;

// Rows as a 32-bit screen copy holds them (red high), in noise so no sum is predictable.
std::vector<std::uint32_t> NoisyScreen()
{
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kWidth) * kHeight);
    std::uint32_t state = 12345;
    for (std::uint32_t &p : pixels) {
        state = state * 1664525u + 1013904223u;
        p = 0xFF000000u | state >> 8;
    }
    return pixels;
}

// Rebuilds reuse the table's storage, as every freeze after the first does.
void BM_BuildTable3840x2160(benchmark::State &state)
{
    const std::vector<std::uint32_t> screen = NoisyScreen();
    analysis::SummedAreaTable table;
    table.Build(screen.data(), kWidth, kHeight, kWidth, analysis::ChannelOrder::kXrgb);
    for (auto _ : state) {
        table.Build(screen.data(), kWidth, kHeight, kWidth, analysis::ChannelOrder::kXrgb);
        benchmark::ClobberMemory();
    }
}

// The first freeze: a table of fresh memory, page faults included.
void BM_FirstBuildTable3840x2160(benchmark::State &state)
{
    const std::vector<std::uint32_t> screen = NoisyScreen();
    for (auto _ : state) {
        analysis::SummedAreaTable table;
        table.Build(screen.data(), kWidth, kHeight, kWidth, analysis::ChannelOrder::kXrgb);
        benchmark::ClobberMemory();
    }
}

// The whole screen as the band: the readout costs the same for any band.
void BM_ReadoutWholeScreen(benchmark::State &state)
{
    const std::vector<std::uint32_t> screen = NoisyScreen();
    analysis::SummedAreaTable table;
    table.Build(screen.data(), kWidth, kHeight, kWidth, analysis::ChannelOrder::kXrgb);
    std::int32_t shift = 0;
    for (auto _ : state) {
        const analysis::ScanTotals totals = table.Totals(shift, 1, kWidth - 1, kHeight - 1);
        const analysis::ColourSummary summary = analysis::Summarise(totals);
        benchmark::DoNotOptimize(summary);
        shift ^= 1;
    }
}

} // namespace

BENCHMARK(BM_BuildTable3840x2160)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(BM_FirstBuildTable3840x2160)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(BM_ReadoutWholeScreen)->Unit(benchmark::kMicrosecond)->MinTime(0.2);
