#include "analysis/dominant_colours.h"

#include "analysis/oklab.h"
#include "analysis/pixel_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace analysis {
namespace {

    // Lloyd's iterations settle in a handful of rounds on photos; the cap bounds the worst case.
    constexpr int kMaxRounds = 40;

    struct Point
    {
        OkLab lab;
        double weight = 0; // pixels in the bin
        std::size_t bin = 0;
    };

    double Distance2(const OkLab &p, const OkLab &q)
    {
        const double dL = p.L - q.L, da = p.a - q.a, db = p.b - q.b;
        return dL * dL + da * da + db * db;
    }

    std::vector<Point> Points(const ColourHistogram &histogram)
    {
        std::vector<Point> points;
        const std::vector<ColourHistogram::Bin> bins = histogram.Bins();
        for (std::size_t i = 0; i < bins.size(); ++i) {
            const ColourHistogram::Bin &bin = bins[i];
            if (bin.count == 0)
                continue;
            const double n = static_cast<double>(bin.count);
            const OkLab lab = OkLabFromLinearSrgb(DecodeSrgbLevel(bin.sumR / n),
                DecodeSrgbLevel(bin.sumG / n), DecodeSrgbLevel(bin.sumB / n));
            points.push_back(Point { lab, n, i });
        }
        return points;
    }

    std::size_t Nearest(const OkLab &lab, const std::vector<OkLab> &centres)
    {
        std::size_t best = 0;
        double bestDistance = std::numeric_limits<double>::infinity();
        for (std::size_t c = 0; c < centres.size(); ++c) {
            const double d = Distance2(lab, centres[c]);
            if (d < bestDistance) {
                bestDistance = d;
                best = c;
            }
        }
        return best;
    }

    // The heaviest bin first, then each time the bin whose pixels lie farthest (weight times
    // squared distance) from the seeds so far; ties go to the lower bin, so seeding is fixed.
    std::vector<OkLab> Seeds(const std::vector<Point> &points, int count)
    {
        std::vector<OkLab> seeds;
        const auto heaviest = std::max_element(points.begin(), points.end(),
            [](const Point &p, const Point &q) { return p.weight < q.weight; });
        seeds.push_back(heaviest->lab);
        std::vector<double> nearest(points.size(), std::numeric_limits<double>::infinity());
        while (static_cast<int>(seeds.size()) < count) {
            double bestScore = 0;
            std::size_t best = points.size();
            for (std::size_t i = 0; i < points.size(); ++i) {
                nearest[i] = std::min(nearest[i], Distance2(points[i].lab, seeds.back()));
                const double score = points[i].weight * nearest[i];
                if (score > bestScore) {
                    bestScore = score;
                    best = i;
                }
            }
            if (best == points.size())
                break; // every bin sits on a seed: fewer colours than asked for
            seeds.push_back(points[best].lab);
        }
        return seeds;
    }

    // Moves each centre to the weighted mean of its points; false when no point changed centre.
    bool Round(const std::vector<Point> &points, std::vector<OkLab> &centres,
        std::vector<std::size_t> &owner)
    {
        bool moved = false;
        for (std::size_t i = 0; i < points.size(); ++i) {
            const std::size_t c = Nearest(points[i].lab, centres);
            moved = moved || c != owner[i];
            owner[i] = c;
        }
        std::vector<OkLab> sums(centres.size());
        std::vector<double> weights(centres.size(), 0.0);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const Point &p = points[i];
            OkLab &sum = sums[owner[i]];
            sum.L += p.weight * p.lab.L;
            sum.a += p.weight * p.lab.a;
            sum.b += p.weight * p.lab.b;
            weights[owner[i]] += p.weight;
        }
        for (std::size_t c = 0; c < centres.size(); ++c) {
            if (weights[c] > 0)
                centres[c] = OkLab { sums[c].L / weights[c], sums[c].a / weights[c],
                    sums[c].b / weights[c] };
        }
        return moved;
    }

    std::vector<DominantColour> Clusters(const ColourHistogram &histogram,
        const std::vector<Point> &points, const std::vector<std::size_t> &owner,
        std::size_t clusters)
    {
        const std::vector<ColourHistogram::Bin> bins = histogram.Bins();
        std::vector<ColourHistogram::Bin> totals(clusters);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const ColourHistogram::Bin &bin = bins[points[i].bin];
            ColourHistogram::Bin &total = totals[owner[i]];
            total.count += bin.count;
            total.sumR += bin.sumR;
            total.sumG += bin.sumG;
            total.sumB += bin.sumB;
        }
        std::vector<DominantColour> colours;
        const double all = static_cast<double>(histogram.Count());
        for (const ColourHistogram::Bin &total : totals) {
            if (total.count == 0)
                continue;
            const double n = static_cast<double>(total.count);
            const auto channel = [n](std::uint64_t sum) {
                return static_cast<std::uint8_t>(std::lround(sum / n));
            };
            colours.push_back(DominantColour {
                channel(total.sumR), channel(total.sumG), channel(total.sumB), n / all });
        }
        std::sort(colours.begin(), colours.end(), [](const auto &p, const auto &q) {
            return std::tie(q.share, p.r, p.g, p.b) < std::tie(p.share, q.r, q.g, q.b);
        });
        return colours;
    }

} // namespace

namespace {

    constexpr int kBits = ColourHistogram::kBitsPerChannel;
    constexpr int kDropped = 8 - kBits; // the low bits, summed
    constexpr std::uint32_t kBinMask = (1u << kBits) - 1;
    constexpr std::uint32_t kLowMask = (1u << kDropped) - 1;
    // Each half-word grows by less than 2^kDropped a pixel.
    constexpr std::uint64_t kSpillEvery = (std::uint64_t { 1 } << 32) >> kDropped;
    constexpr std::uint64_t kLow = 0xFFFFFFFFu;
    constexpr std::int32_t kWays = ColourHistogram::kWays;

    std::uint32_t BinOf(std::uint32_t p)
    {
        return (((p >> (16 + kDropped)) & kBinMask) << (2 * kBits))
            | (((p >> (8 + kDropped)) & kBinMask) << kBits) | ((p >> kDropped) & kBinMask);
    }

} // namespace

ColourHistogram::ColourHistogram()
    : packed(2 * kWays * kBins)
{
}

void ColourHistogram::AddPixels(const std::uint32_t *pixels, std::int32_t n)
{
    // Pixels count into kWays tables in turn: runs of neighbours in one bin, common in photos,
    // then do not wait on each other's increments.
    std::uint64_t *const tables = packed.data();
    constexpr std::size_t kTable = 2 * kBins;
    const auto add = [](std::uint64_t *table, std::uint32_t p) {
        std::uint64_t *bin = table + 2 * BinOf(p);
        bin[0] += 1 | (std::uint64_t { (p >> 16) & kLowMask } << 32);
        bin[1] += ((p >> 8) & kLowMask) | (std::uint64_t { p & kLowMask } << 32);
    };
    for (std::int32_t x0 = 0; x0 < n;) {
        if (sinceSpill >= kSpillEvery)
            Spill();
        const std::int32_t end = static_cast<std::int32_t>(
            std::min<std::uint64_t>(static_cast<std::uint64_t>(n), x0 + kSpillEvery - sinceSpill));
        std::int32_t x = x0;
        for (; x + kWays <= end; x += kWays) {
            for (std::int32_t way = 0; way < kWays; ++way)
                add(tables + static_cast<std::size_t>(way) * kTable, pixels[x + way]);
        }
        for (; x < end; ++x)
            add(tables, pixels[x]);
        sinceSpill += static_cast<std::uint64_t>(end - x0);
        count += static_cast<std::uint64_t>(end - x0);
        x0 = end;
    }
}

void ColourHistogram::Spill()
{
    spilled = Bins();
    std::fill(packed.begin(), packed.end(), 0);
    sinceSpill = 0;
}

std::vector<ColourHistogram::Bin> ColourHistogram::Bins() const
{
    std::vector<Bin> bins = spilled.empty() ? std::vector<Bin>(kBins) : spilled;
    for (std::size_t i = 0; i < kBins; ++i) {
        std::uint64_t first = 0, second = 0;
        for (std::size_t way = 0; way < kWays; ++way) {
            first += packed[2 * (way * kBins + i)];
            second += packed[2 * (way * kBins + i) + 1];
        }
        const std::uint64_t n = first & kLow;
        Bin &bin = bins[i];
        bin.count += n;
        bin.sumR += n * ((i >> (2 * kBits)) << kDropped) + (first >> 32);
        bin.sumG += n * (((i >> kBits) & kBinMask) << kDropped) + (second & kLow);
        bin.sumB += n * ((i & kBinMask) << kDropped) + (second >> 32);
    }
    return bins;
}

void ColourHistogram::Merge(const ColourHistogram &other)
{
    const std::vector<Bin> mine = Bins(), theirs = other.Bins();
    spilled.resize(kBins);
    for (std::size_t i = 0; i < kBins; ++i) {
        spilled[i].count = mine[i].count + theirs[i].count;
        spilled[i].sumR = mine[i].sumR + theirs[i].sumR;
        spilled[i].sumG = mine[i].sumG + theirs[i].sumG;
        spilled[i].sumB = mine[i].sumB + theirs[i].sumB;
    }
    std::fill(packed.begin(), packed.end(), 0);
    sinceSpill = 0;
    count += other.count;
}

std::vector<DominantColour> DominantColours(
    const ColourHistogram &histogram, int count, const std::atomic<bool> *stop)
{
    const auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    if (count < 1 || histogram.Count() == 0 || stopped())
        return {};
    const std::vector<Point> points = Points(histogram);
    std::vector<OkLab> centres = Seeds(points, count);
    std::vector<std::size_t> owner(points.size(), centres.size());
    for (int round = 0; round < kMaxRounds; ++round) {
        if (stopped())
            return {};
        if (!Round(points, centres, owner))
            break;
    }
    if (stopped())
        return {};
    return Clusters(histogram, points, owner, centres.size());
}

} // namespace analysis
