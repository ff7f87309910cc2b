#pragma once

#include "analysis/calc_color.h"
#include "analysis/dominant_colours.h"
#include "analysis/row_sink.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace analysis {

// One channel's figures over a picture, on the 0..255 scale.
struct ChannelFigures
{
    double stddev = 0; // population standard deviation, >= 0
    std::int32_t min = 0;
    std::int32_t max = 0;
    std::int32_t median = 0; // the lower median: the value at rank (n - 1) / 2 from the smallest
};

// Everything quillmere-avg reports about one picture.
struct PictureStatistics
{
    std::int32_t width = 0;
    std::int32_t height = 0;
    // The window's sums over the same pixels: Summarise(totals) is the window's answer.
    ScanTotals totals;
    // Mean of each channel decoded from sRGB to linear light, encoded back and rounded: 0..255.
    std::int32_t linearR = 0;
    std::int32_t linearG = 0;
    std::int32_t linearB = 0;
    // The same means before encoding: linear light 0..1.
    double linearLightR = 0;
    double linearLightG = 0;
    double linearLightB = 0;
    ChannelFigures r;
    ChannelFigures g;
    ChannelFigures b;
};

// The sRGB transfer function: an 8-bit code (0..255) to linear light 0..1.
[[nodiscard]] double DecodeSrgb(std::int32_t code);

// The same for a level between codes, such as a mean of codes: 0..255 (clamped) to 0..1.
[[nodiscard]] double DecodeSrgbLevel(double level);

// Linear light 0..1 (clamped) to the nearest 8-bit sRGB code, 0..255.
[[nodiscard]] std::int32_t EncodeSrgb(double linear);

// Adds the channels of n pixels of 0x??RRGGBB (the top byte is ignored) to totals, count
// included: the one sum behind quillmere-avg's means and the window's.
void AddChannelSums(const std::uint32_t *pixels, std::int32_t n, ScanTotals &totals);

// The sink that adds each row to per-channel histograms and forgets it. Counts are 64-bit, so
// every figure is exact for any picture a decoder accepts; memory is a fixed 12 KiB plus the
// rows a decoder asks for at once.
class StatisticsSink final : public RowSink
{
public:
    // With meansOnly, only the channel sums are kept (totals; every other figure stays 0): a
    // plain sum the compiler vectorises, for output that shows the mean alone.
    // With countColours, every pixel is also counted in a colour histogram for the main colours.
    explicit StatisticsSink(bool meansOnly = false, bool countColours = false);

    [[nodiscard]] bool Start(std::int32_t width, std::int32_t height) override;
    [[nodiscard]] std::uint32_t *RowSpace(
        std::int32_t y, std::int32_t count, std::ptrdiff_t &stride) override;
    void RowsDone(std::int32_t y, std::int32_t count) override;
    [[nodiscard]] bool TakeRows(std::int32_t y, std::int32_t count, std::int32_t width,
        const std::uint32_t *pixels, std::ptrdiff_t stride) override;

    // Adds n pixels of 0x??RRGGBB (the top byte is ignored).
    void AddPixels(const std::uint32_t *pixels, std::int32_t n);

    // The figures over every pixel added so far (all zero for none).
    [[nodiscard]] PictureStatistics Statistics() const;

    // The pixels by colour, or null when the sink was not asked to count them.
    [[nodiscard]] const ColourHistogram *Colours() const { return colours.get(); }

private:
    bool meansOnly = false;
    ScanTotals sums;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // Two copies of each histogram, for even and odd pixels: runs of equal values then do not
    // wait on the previous increment of the same counter.
    // None for a means-only sink, so that many of them (a grid's cells) cost nothing to make.
    std::vector<std::array<std::uint64_t, 256>> counts;
    std::vector<std::uint32_t> space;
    std::unique_ptr<ColourHistogram> colours;
};

} // namespace analysis
