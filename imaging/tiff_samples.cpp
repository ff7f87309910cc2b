#include "imaging/tiff_samples.h"

#include <cstring>

namespace imaging::tiff {
namespace {

    struct Tags
    {
        std::uint16_t photometric = 0;
        std::uint16_t bits = 1;
        std::uint16_t samples = 1;
        std::uint16_t format = SAMPLEFORMAT_UINT;
        std::uint16_t planar = PLANARCONFIG_CONTIG;
        std::uint16_t compression = COMPRESSION_NONE;
        std::uint16_t inkSet = INKSET_CMYK;
        std::uint16_t extraCount = 0;
        const std::uint16_t *extraTypes = nullptr;
    };

    bool ReadTags(TIFF *tiff, Tags &tags)
    {
        if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &tags.photometric))
            return false;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &tags.bits);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &tags.samples);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &tags.format);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &tags.planar);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &tags.compression);
        TIFFGetFieldDefaulted(tiff, TIFFTAG_INKSET, &tags.inkSet);
        if (!TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &tags.extraCount, &tags.extraTypes))
            tags.extraCount = 0;
        return true;
    }

    // The colour model and its number of colour samples; nothing for models left to libtiff.
    std::optional<int> ColourChannels(const Tags &tags, SampleLayout &layout)
    {
        switch (tags.photometric) {
        case PHOTOMETRIC_MINISWHITE:
            layout.minIsWhite = true;
            [[fallthrough]];
        case PHOTOMETRIC_MINISBLACK:
            layout.colours = SampleLayout::Colours::Grey;
            return 1;
        case PHOTOMETRIC_RGB:
            layout.colours = SampleLayout::Colours::Rgb;
            return 3;
        case PHOTOMETRIC_SEPARATED:
            if (tags.inkSet != INKSET_CMYK)
                return std::nullopt;
            layout.colours = SampleLayout::Colours::Cmyk;
            return 4;
        case PHOTOMETRIC_CIELAB:
            layout.colours = SampleLayout::Colours::Lab;
            return 3;
        case PHOTOMETRIC_ICCLAB:
            layout.colours = SampleLayout::Colours::IccLab;
            return 3;
        default:
            return std::nullopt;
        }
    }

    bool SupportedDepth(const Tags &tags, const SampleLayout &layout)
    {
        const bool lab = layout.colours == SampleLayout::Colours::Lab
            || layout.colours == SampleLayout::Colours::IccLab;
        if (tags.format == SAMPLEFORMAT_IEEEFP)
            return !lab && (tags.bits == 32 || tags.bits == 64);
        if (tags.format != SAMPLEFORMAT_UINT)
            return false;
        if (lab)
            return tags.bits == 8 || tags.bits == 16;
        return (tags.bits >= 8 && tags.bits <= 16) || tags.bits == 32;
    }

    // The first extra sample is alpha when it says so; four RGB samples with no word about the
    // fourth are taken as associated alpha, as libtiff's RGBA interface takes them.
    void FindAlpha(const Tags &tags, int colourChannels, SampleLayout &layout)
    {
        // A count of extra samples that leaves no room beside the colours says nothing.
        if (tags.samples <= colourChannels)
            return;
        if (tags.extraCount > 0 && tags.extraTypes
            && (tags.extraTypes[0] == EXTRASAMPLE_ASSOCALPHA
                || tags.extraTypes[0] == EXTRASAMPLE_UNASSALPHA)) {
            layout.alphaSample = colourChannels;
            layout.associatedAlpha = tags.extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
        } else if (tags.extraCount == 0 && tags.photometric == PHOTOMETRIC_RGB
            && tags.samples == 4) {
            layout.alphaSample = 3;
            layout.associatedAlpha = true;
        }
    }

    double MaxValue(const SampleLayout &layout)
    {
        if (layout.floating)
            return 1.0;
        return layout.bits == 32 ? 4294967295.0 : static_cast<double>((1u << layout.bits) - 1);
    }

    // a* or b* in the encoding of ColourDescription::Kind::Lab (divided by its maximum).
    double LabChroma(const SampleLayout &layout, double value)
    {
        double chroma = 0;
        if (layout.colours == SampleLayout::Colours::Lab) {
            const double half = layout.bits == 8 ? 128 : 32768;
            const double signedValue = value >= half ? value - 2 * half : value;
            chroma = layout.bits == 8 ? signedValue : signedValue / 256;
        } else {
            chroma = layout.bits == 8 ? value - 128 : value / 256 - 128;
        }
        return (chroma + 128) / 255;
    }

    void MapColours(const SampleLayout &layout, const double *v, double scale, double *out)
    {
        switch (layout.colours) {
        case SampleLayout::Colours::Grey: {
            const double grey = layout.minIsWhite ? 1 - v[0] * scale : v[0] * scale;
            out[0] = out[1] = out[2] = grey;
            break;
        }
        case SampleLayout::Colours::Rgb:
            for (int c = 0; c < 3; ++c)
                out[c] = v[c] * scale;
            break;
        case SampleLayout::Colours::Cmyk: {
            const double white = 1 - v[3] * scale;
            for (int c = 0; c < 3; ++c)
                out[c] = (1 - v[c] * scale) * white;
            break;
        }
        case SampleLayout::Colours::Lab:
        case SampleLayout::Colours::IccLab:
            out[0] = v[0] * scale;
            out[1] = LabChroma(layout, v[1]);
            out[2] = LabChroma(layout, v[2]);
            break;
        }
    }

} // namespace

std::optional<SampleLayout> SampleLayoutOf(TIFF *tiff)
{
    Tags tags;
    if (!ReadTags(tiff, tags))
        return std::nullopt;
    SampleLayout layout;
    const std::optional<int> colourChannels = ColourChannels(tags, layout);
    if (!colourChannels || tags.samples < *colourChannels || !SupportedDepth(tags, layout))
        return std::nullopt;
    // libtiff's JPEG codecs turn YCbCr into RGB for the RGBA interface alone.
    if (tags.compression == COMPRESSION_JPEG || tags.compression == COMPRESSION_OJPEG)
        return std::nullopt;
    if (tags.planar != PLANARCONFIG_CONTIG && tags.planar != PLANARCONFIG_SEPARATE)
        return std::nullopt;
    FindAlpha(tags, *colourChannels, layout);
    layout.bits = tags.bits;
    layout.floating = tags.format == SAMPLEFORMAT_IEEEFP;
    layout.samplesPerPixel = tags.samples;
    layout.separatePlanes = tags.planar == PLANARCONFIG_SEPARATE && tags.samples > 1;
    // Plain 8-bit pictures stay with the RGBA interface, which reads them exactly.
    const bool lab = layout.colours == SampleLayout::Colours::Lab
        || layout.colours == SampleLayout::Colours::IccLab;
    const bool cmykWithAlpha
        = layout.colours == SampleLayout::Colours::Cmyk && layout.alphaSample >= 0;
    if (tags.bits == 8 && !layout.floating && !lab && !cmykWithAlpha)
        return std::nullopt;
    return layout;
}

void ExtractSamples(const std::uint8_t *bytes, std::size_t count, const SampleLayout &layout,
    double *out, std::size_t stride)
{
    const auto each = [&](auto read) {
        for (std::size_t i = 0; i < count; ++i)
            out[i * stride] = static_cast<double>(read(i));
    };
    const auto typed = [&](auto sample) {
        each([&](std::size_t i) {
            decltype(sample) value;
            std::memcpy(&value, bytes + i * sizeof value, sizeof value);
            return value;
        });
    };
    switch (layout.bits) {
    case 8:
        each([&](std::size_t i) { return bytes[i]; });
        return;
    case 16:
        typed(std::uint16_t {});
        return;
    case 32:
        if (layout.floating)
            typed(float {});
        else
            typed(std::uint32_t {});
        return;
    case 64:
        typed(double {});
        return;
    default:
        break;
    }
    const auto bits = static_cast<std::size_t>(layout.bits);
    each([&](std::size_t i) {
        const std::size_t first = i * bits;
        // Three bytes hold any sample of up to 16 bits at any bit position.
        std::uint32_t window = 0;
        const std::size_t last = (first + bits - 1) / 8;
        for (std::size_t b = first / 8; b <= last; ++b)
            window = (window << 8) | bytes[b];
        const std::size_t unusedLow = 7 - (first + bits - 1) % 8;
        return (window >> unusedLow) & ((1u << bits) - 1);
    });
}

void MapPixels(const SampleLayout &layout, const double *values, std::int32_t n, double *rgba)
{
    const double scale = 1 / MaxValue(layout);
    const bool straight = !layout.associatedAlpha || layout.colours == SampleLayout::Colours::Cmyk
        || layout.colours == SampleLayout::Colours::Lab
        || layout.colours == SampleLayout::Colours::IccLab;
    for (std::int32_t x = 0; x < n; ++x) {
        const double *v = values + static_cast<std::ptrdiff_t>(x) * layout.samplesPerPixel;
        double *out = rgba + 4 * static_cast<std::ptrdiff_t>(x);
        MapColours(layout, v, scale, out);
        const double alpha = layout.alphaSample < 0 ? 1.0 : v[layout.alphaSample] * scale;
        out[3] = alpha;
        if (straight || alpha >= 1)
            continue;
        for (int c = 0; c < 3; ++c)
            out[c] = alpha > 0 ? out[c] / alpha : 0;
    }
}

} // namespace imaging::tiff
