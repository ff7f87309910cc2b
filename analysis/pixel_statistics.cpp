#include "analysis/pixel_statistics.h"

#include <algorithm>
#include <cmath>

namespace analysis {
namespace {

    __extension__ typedef unsigned __int128 Wide;

    struct ChannelTotals
    {
        std::uint64_t count = 0;
        std::uint64_t sum = 0;
        std::uint64_t sumSquares = 0;
        double linearSum = 0;
        std::int32_t min = 0;
        std::int32_t max = 0;
        std::int32_t median = 0;
    };

    std::int32_t LowerMedian(const std::array<std::uint64_t, 256> &even,
        const std::array<std::uint64_t, 256> &odd, std::uint64_t count)
    {
        const std::uint64_t rank = (count - 1) / 2;
        std::uint64_t below = 0;
        for (std::size_t v = 0; v < 256; ++v) {
            below += even[v] + odd[v];
            if (below > rank)
                return static_cast<std::int32_t>(v);
        }
        return 255;
    }

    // Sums are exact integers up to 2^40 pixels of 255 (the decoders' side limit squared); the
    // variance's n * sum of squares needs 128 bits.
    ChannelTotals AddUp(const std::array<std::uint64_t, 256> &even,
        const std::array<std::uint64_t, 256> &odd, const std::array<double, 256> &linear)
    {
        ChannelTotals t;
        bool seen = false;
        for (std::int32_t v = 0; v < 256; ++v) {
            const std::uint64_t n
                = even[static_cast<std::size_t>(v)] + odd[static_cast<std::size_t>(v)];
            if (n == 0)
                continue;
            if (!seen)
                t.min = v;
            seen = true;
            t.max = v;
            t.count += n;
            t.sum += n * static_cast<std::uint64_t>(v);
            t.sumSquares += n * static_cast<std::uint64_t>(v * v);
            t.linearSum += static_cast<double>(n) * linear[static_cast<std::size_t>(v)];
        }
        if (t.count != 0)
            t.median = LowerMedian(even, odd, t.count);
        return t;
    }

    ChannelFigures Figures(const ChannelTotals &t)
    {
        ChannelFigures f;
        if (t.count == 0)
            return f;
        const Wide n = t.count;
        const Wide spread = n * t.sumSquares - static_cast<Wide>(t.sum) * t.sum;
        const double variance = static_cast<double>(spread)
            / (static_cast<double>(t.count) * static_cast<double>(t.count));
        f.stddev = std::sqrt(variance);
        f.min = t.min;
        f.max = t.max;
        f.median = t.median;
        return f;
    }

    const std::array<double, 256> &LinearTable()
    {
        static const std::array<double, 256> table = [] {
            std::array<double, 256> values {};
            for (std::int32_t v = 0; v < 256; ++v)
                values[static_cast<std::size_t>(v)] = DecodeSrgb(v);
            return values;
        }();
        return table;
    }

} // namespace

double DecodeSrgb(std::int32_t code) { return DecodeSrgbLevel(std::clamp(code, 0, 255)); }

double DecodeSrgbLevel(double level)
{
    const double c = std::clamp(level, 0.0, 255.0) / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

std::int32_t EncodeSrgb(double linear)
{
    const double l = std::clamp(linear, 0.0, 1.0);
    const double c = l <= 0.0031308 ? l * 12.92 : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
    return static_cast<std::int32_t>(std::lround(std::clamp(c, 0.0, 1.0) * 255.0));
}

StatisticsSink::StatisticsSink(bool meansOnly, bool countColours)
    : meansOnly(meansOnly)
    , counts(meansOnly ? 0 : 6)
    , colours(countColours ? std::make_unique<ColourHistogram>() : nullptr)
{
}

bool StatisticsSink::Start(std::int32_t w, std::int32_t h)
{
    width = w;
    height = h;
    return w >= 1 && h >= 1;
}

std::uint32_t *StatisticsSink::RowSpace(std::int32_t, std::int32_t count, std::ptrdiff_t &stride)
{
    return ReusedRowSpace(space, width, count, stride);
}

void StatisticsSink::RowsDone(std::int32_t, std::int32_t count)
{
    AddPixels(space.data(), count * width);
}

bool StatisticsSink::TakeRows(std::int32_t, std::int32_t count, std::int32_t rowWidth,
    const std::uint32_t *pixels, std::ptrdiff_t stride)
{
    for (std::int32_t i = 0; i < count; ++i)
        AddPixels(pixels + i * stride, rowWidth);
    return true;
}

void AddChannelSums(const std::uint32_t *pixels, std::int32_t n, ScanTotals &totals)
{
    // 32-bit sums over chunks short enough that 255 a pixel cannot overflow them keep the loop
    // narrow enough to vectorise.
    constexpr std::int32_t kChunk = 16'843'009; // 2^32 / 255, rounded down
    for (std::int32_t x0 = 0; x0 < n; x0 += kChunk) {
        const std::int32_t end = n - x0 > kChunk ? x0 + kChunk : n;
        std::uint32_t r = 0, g = 0, b = 0;
        for (std::int32_t x = x0; x < end; ++x) {
            const std::uint32_t p = pixels[x];
            r += (p >> 16) & 0xFFu;
            g += (p >> 8) & 0xFFu;
            b += p & 0xFFu;
        }
        totals.sumR += r;
        totals.sumG += g;
        totals.sumB += b;
    }
    totals.count += static_cast<std::uint64_t>(std::max(n, 0));
}

void StatisticsSink::AddPixels(const std::uint32_t *pixels, std::int32_t n)
{
    if (colours)
        colours->AddPixels(pixels, n);
    if (meansOnly) {
        AddChannelSums(pixels, n, sums);
        return;
    }
    std::uint64_t *r0 = counts[0].data(), *g0 = counts[1].data(), *b0 = counts[2].data();
    std::uint64_t *r1 = counts[3].data(), *g1 = counts[4].data(), *b1 = counts[5].data();
    std::int32_t x = 0;
    for (; x + 1 < n; x += 2) {
        const std::uint32_t p = pixels[x], q = pixels[x + 1];
        ++r0[(p >> 16) & 0xFFu];
        ++g0[(p >> 8) & 0xFFu];
        ++b0[p & 0xFFu];
        ++r1[(q >> 16) & 0xFFu];
        ++g1[(q >> 8) & 0xFFu];
        ++b1[q & 0xFFu];
    }
    if (x < n) {
        const std::uint32_t p = pixels[x];
        ++r0[(p >> 16) & 0xFFu];
        ++g0[(p >> 8) & 0xFFu];
        ++b0[p & 0xFFu];
    }
}

PictureStatistics StatisticsSink::Statistics() const
{
    if (meansOnly) {
        PictureStatistics s;
        s.width = width;
        s.height = height;
        s.totals = sums;
        return s;
    }
    const std::array<double, 256> &linear = LinearTable();
    const ChannelTotals r = AddUp(counts[0], counts[3], linear);
    const ChannelTotals g = AddUp(counts[1], counts[4], linear);
    const ChannelTotals b = AddUp(counts[2], counts[5], linear);
    PictureStatistics s;
    s.width = width;
    s.height = height;
    s.totals = ScanTotals { r.sum, g.sum, b.sum, r.count };
    if (r.count != 0) {
        const double n = static_cast<double>(r.count);
        s.linearLightR = r.linearSum / n;
        s.linearLightG = g.linearSum / n;
        s.linearLightB = b.linearSum / n;
        s.linearR = EncodeSrgb(s.linearLightR);
        s.linearG = EncodeSrgb(s.linearLightG);
        s.linearB = EncodeSrgb(s.linearLightB);
    }
    s.r = Figures(r);
    s.g = Figures(g);
    s.b = Figures(b);
    return s;
}

} // namespace analysis
