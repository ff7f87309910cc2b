// Scan throughput over in-memory rasters; the yield does nothing, so this is the scan alone.
#include "analysis/calc_color.h"
#include "analysis/raster.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

struct DiscardedOutputs
{
    analysis::ColourValue swatch = 0;
    void ScanStarted() { }
    void ScanProgress(std::int32_t rowsDone, std::int32_t rows)
    {
        benchmark::DoNotOptimize(rowsDone);
        benchmark::DoNotOptimize(rows);
    }
    void ScanFinished(const analysis::ColourSummary &summary) { swatch = summary.swatch; }
};

analysis::Raster NoisyRaster(int width, int height)
{
    analysis::Raster raster(width, height);
    std::uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            raster.SetPixel(x, y, state >> 8);
        }
    }
    return raster;
}

void Scan(benchmark::State &state, int width, int height)
{
    const analysis::Raster raster = NoisyRaster(width, height);
    analysis::ColourScanner scanner;
    DiscardedOutputs outputs;
    for (auto _ : state) {
        scanner.CalcColor(
            raster, [] {}, outputs);
        benchmark::DoNotOptimize(outputs.swatch);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(width) * height);
}

// 24 megapixels: the progress scan, with its text on every second row.
void BM_ProgressScan24MP(benchmark::State &state) { Scan(state, 6000, 4000); }
// Just under one million pixels: the plain scan.
void BM_PlainScan999x1000(benchmark::State &state) { Scan(state, 999, 1000); }

} // namespace

BENCHMARK(BM_ProgressScan24MP)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PlainScan999x1000)->Unit(benchmark::kMillisecond)->MinTime(0.5);

BENCHMARK_MAIN();
