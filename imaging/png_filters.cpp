#include "imaging/png_filters.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace imaging::png {
namespace {

    std::uint8_t Paeth(int a, int b, int c)
    {
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        if (pa <= pb && pa <= pc)
            return static_cast<std::uint8_t>(a);
        return static_cast<std::uint8_t>(pb <= pc ? b : c);
    }

#if defined(__SSE2__)
    // Sub, Average and Paeth depend on the pixel to the left, so only the 3 or 4 bytes of one pixel
    // go side by side; that still halves their time against byte-wise loops.
    // The pixel's size is a template argument so that its loads and stores are plain moves. A
    // 3-byte pixel is loaded with the byte after it (never used), except at the row's end.
    template <int bpp> __m128i LoadPixel(const std::uint8_t *at, bool last)
    {
        std::uint32_t value = 0;
        if (bpp == 4 || !last)
            std::memcpy(&value, at, 4);
        else
            value = at[0] | (std::uint32_t { at[1] } << 8) | (std::uint32_t { at[2] } << 16);
        return _mm_cvtsi32_si128(static_cast<int>(value));
    }

    template <int bpp> void StorePixel(std::uint8_t *at, __m128i pixel)
    {
        const auto value = static_cast<std::uint32_t>(_mm_cvtsi128_si32(pixel));
        if (bpp == 4) {
            std::memcpy(at, &value, 4);
        } else {
            const auto low = static_cast<std::uint16_t>(value);
            std::memcpy(at, &low, 2);
            at[2] = static_cast<std::uint8_t>(value >> 16);
        }
    }

    template <int bpp> void SubPixels(std::uint8_t *row, std::size_t length)
    {
        __m128i left = _mm_setzero_si128();
        for (std::size_t x = 0; x < length; x += bpp) {
            left = _mm_add_epi8(left, LoadPixel<bpp>(row + x, x + 4 > length));
            StorePixel<bpp>(row + x, left);
        }
    }

    template <int bpp>
    void AveragePixels(std::uint8_t *row, const std::uint8_t *previous, std::size_t length)
    {
        const __m128i one = _mm_set1_epi8(1);
        __m128i left = _mm_setzero_si128();
        for (std::size_t x = 0; x < length; x += bpp) {
            const bool last = x + 4 > length;
            const __m128i up = LoadPixel<bpp>(previous + x, last);
            // _mm_avg_epu8 rounds up; the filter rounds down.
            __m128i mean = _mm_avg_epu8(left, up);
            mean = _mm_sub_epi8(mean, _mm_and_si128(_mm_xor_si128(left, up), one));
            left = _mm_add_epi8(LoadPixel<bpp>(row + x, last), mean);
            StorePixel<bpp>(row + x, left);
        }
    }

    __m128i Absolute16(__m128i value)
    {
        return _mm_max_epi16(value, _mm_sub_epi16(_mm_setzero_si128(), value));
    }

    __m128i Select(__m128i mask, __m128i yes, __m128i no)
    {
        return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
    }

    template <int bpp>
    void PaethPixels(std::uint8_t *row, const std::uint8_t *previous, std::size_t length)
    {
        const __m128i zero = _mm_setzero_si128();
        __m128i left = zero, upLeft = zero;
        for (std::size_t x = 0; x < length; x += bpp) {
            const bool last = x + 4 > length;
            const __m128i up = _mm_unpacklo_epi8(LoadPixel<bpp>(previous + x, last), zero);
            const __m128i towardsA = _mm_sub_epi16(up, upLeft);
            const __m128i towardsB = _mm_sub_epi16(left, upLeft);
            const __m128i pa = Absolute16(towardsA), pb = Absolute16(towardsB);
            const __m128i pc = Absolute16(_mm_add_epi16(towardsA, towardsB));
            const __m128i smallest = _mm_min_epi16(pc, _mm_min_epi16(pa, pb));
            const __m128i nearest = Select(_mm_cmpeq_epi16(pa, smallest), left,
                Select(_mm_cmpeq_epi16(pb, smallest), up, upLeft));
            const __m128i sum
                = _mm_add_epi16(nearest, _mm_unpacklo_epi8(LoadPixel<bpp>(row + x, last), zero));
            left = _mm_and_si128(sum, _mm_set1_epi16(0xFF));
            StorePixel<bpp>(row + x, _mm_packus_epi16(left, left));
            upLeft = up;
        }
    }
#endif

} // namespace

bool UnfilterPlain(std::uint8_t filter, std::uint8_t *row, const std::uint8_t *previous,
    std::size_t length, int bpp)
{
    const auto step = static_cast<std::size_t>(bpp);
    switch (filter) {
    case 0:
        return true;
    case 1:
        for (std::size_t x = step; x < length; ++x)
            row[x] = static_cast<std::uint8_t>(row[x] + row[x - step]);
        return true;
    case 2:
        for (std::size_t x = 0; x < length; ++x)
            row[x] = static_cast<std::uint8_t>(row[x] + previous[x]);
        return true;
    case 3:
        for (std::size_t x = 0; x < length; ++x) {
            const int left = x >= step ? row[x - step] : 0;
            row[x] = static_cast<std::uint8_t>(row[x] + ((left + previous[x]) >> 1));
        }
        return true;
    case 4:
        for (std::size_t x = 0; x < length; ++x) {
            const int left = x >= step ? row[x - step] : 0;
            const int upLeft = x >= step ? previous[x - step] : 0;
            row[x] = static_cast<std::uint8_t>(row[x] + Paeth(left, previous[x], upLeft));
        }
        return true;
    default:
        return false;
    }
}

bool Unfilter(std::uint8_t filter, std::uint8_t *row, const std::uint8_t *previous,
    std::size_t length, int bpp)
{
#if defined(__SSE2__)
    if (bpp == 3 && length % 3 == 0) {
        switch (filter) {
        case 1:
            SubPixels<3>(row, length);
            return true;
        case 3:
            AveragePixels<3>(row, previous, length);
            return true;
        case 4:
            PaethPixels<3>(row, previous, length);
            return true;
        default:
            break;
        }
    }
    if (bpp == 4 && length % 4 == 0) {
        switch (filter) {
        case 1:
            SubPixels<4>(row, length);
            return true;
        case 3:
            AveragePixels<4>(row, previous, length);
            return true;
        case 4:
            PaethPixels<4>(row, previous, length);
            return true;
        default:
            break;
        }
    }
#endif
    return UnfilterPlain(filter, row, previous, length, bpp);
}

} // namespace imaging::png
