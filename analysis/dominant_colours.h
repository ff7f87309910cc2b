#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace analysis {

// Pixels counted by colour, 5 bits a channel (32,768 bins), with each bin's channel sums so its
// mean colour is exact. A fixed 1 MiB while counting, whatever the picture's size.
class ColourHistogram
{
public:
    static constexpr int kBitsPerChannel = 5;
    static constexpr std::size_t kBins = std::size_t { 1 } << (3 * kBitsPerChannel);
    static constexpr int kWays = 2; // copies of the table counted in turn

    struct Bin
    {
        std::uint64_t count = 0;
        std::uint64_t sumR = 0;
        std::uint64_t sumG = 0;
        std::uint64_t sumB = 0;
    };

    ColourHistogram();

    // Adds n pixels of 0x??RRGGBB, as the scan sums them (the top byte is ignored).
    void AddPixels(const std::uint32_t *pixels, std::int32_t n);

    // Adds another histogram's pixels, for scans split across threads.
    void Merge(const ColourHistogram &other);

    // Pixels added so far.
    [[nodiscard]] std::uint64_t Count() const { return count; }

    // Every bin's pixels and exact channel sums, in bin order (red's 5 bits highest).
    [[nodiscard]] std::vector<Bin> Bins() const;

private:
    void Spill();

    // Two words a bin while counting: the count and the red sum's low 3 bits, then green's and
    // blue's; the high 5 bits of each sum follow from the count. Two 32-bit halves fill up after
    // 2^32 / 8 pixels at the earliest, so they are spilled into `spilled` before that.
    std::vector<std::uint64_t> packed;
    std::vector<Bin> spilled;
    std::uint64_t count = 0;
    std::uint64_t sinceSpill = 0;
};

// One of a picture's main colours: the mean of its pixels (channels 0..255, rounded) and their
// share of all pixels, 0..1.
struct DominantColour
{
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    double share = 0;
};

// Up to count main colours (count >= 1; fewer when the picture has fewer colours), largest share
// first: k-means in OKLab over the histogram's bins weighted by their pixels, seeded from the
// largest bin and then each bin farthest from the seeds so far, so a picture always gives the
// same list. Empty for an empty histogram, count < 1, or when *stop turns true on the way.
[[nodiscard]] std::vector<DominantColour> DominantColours(
    const ColourHistogram &histogram, int count, const std::atomic<bool> *stop = nullptr);

} // namespace analysis
