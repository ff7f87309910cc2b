// PNG read by the loader itself: the chunks walked and checked here, the image data inflated by
// ISA-L a few rows at a time (several times faster than zlib inside libpng), the filters undone
// here. What it accepts and refuses, and the rows it gives, follow libpng's reader
// (OpenPngThroughLibpng), against which it is tested.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/png_chunks.h"
#include "imaging/png_filters.h"
#include "imaging/raster_memory.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

namespace imaging {
namespace {

    constexpr std::uint8_t kSignature[8] = { 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A };
    // Compressed bytes read at a time, and inflated rows held at a time (at least one row).
    constexpr std::size_t kInputBytes = 128 * 1024;
    constexpr std::size_t kBatchBytes = 256 * 1024;
    // libpng's limit for a chunk it keeps for the caller (PNG_USER_CHUNK_MALLOC_MAX).
    constexpr std::uint32_t kMaxKeptChunk = 8000000;

    bool Named(const char *name, const char *four) { return std::memcmp(name, four, 4) == 0; }
    bool IsCritical(const char *name) { return (name[0] & 0x20) == 0; }

    // The chunk sequence of one stream: each chunk's length and name, its body read in parts,
    // its CRC checked over name and body.
    class ChunkStream
    {
    public:
        explicit ChunkStream(std::FILE *source)
            : file(source)
        {
        }

        [[nodiscard]] LoadFailure Signature()
        {
            std::uint8_t bytes[8];
            if (std::fread(bytes, 1, 8, file) != 8)
                return LoadFailure::CutShort;
            return std::memcmp(bytes, kSignature, 8) == 0 ? LoadFailure::None
                                                          : LoadFailure::Damaged;
        }

        // The next chunk's length and name; the name must be four letters.
        [[nodiscard]] LoadFailure Header()
        {
            std::uint8_t bytes[8];
            if (std::fread(bytes, 1, 8, file) != 8)
                return LoadFailure::CutShort;
            length = left = png::ReadBe32(bytes);
            std::memcpy(name, bytes + 4, 4);
            crc = crc32_gzip_refl(0, bytes + 4, 4);
            const bool letters = std::all_of(name, name + 4,
                [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
            return length <= 0x7FFFFFFFu && letters ? LoadFailure::None : LoadFailure::Damaged;
        }

        // Up to n bytes of the body (no more than are left); fewer only where the file ends.
        std::size_t Body(std::uint8_t *into, std::size_t n)
        {
            const std::size_t got = std::fread(into, 1, std::min<std::size_t>(n, left), file);
            crc = crc32_gzip_refl(crc, into, got);
            left -= static_cast<std::uint32_t>(got);
            return got;
        }

        // The rest of the body; memory grows only as the bytes arrive, so a length that the
        // file does not have costs nothing.
        [[nodiscard]] LoadFailure WholeBody(std::vector<std::uint8_t> &into)
        {
            into.clear();
            while (left > 0) {
                const std::size_t at = into.size();
                into.resize(at + std::min<std::size_t>(left, 64 * 1024));
                const std::size_t got = Body(into.data() + at, into.size() - at);
                into.resize(at + got);
                if (got == 0)
                    return LoadFailure::CutShort;
            }
            return LoadFailure::None;
        }

        // Reads what is left of the body and the CRC after it; good tells whether they agree.
        [[nodiscard]] LoadFailure Finish(bool &good)
        {
            std::uint8_t scratch[4096];
            while (left > 0) {
                if (Body(scratch, sizeof scratch) == 0)
                    return LoadFailure::CutShort;
            }
            std::uint8_t stored[4];
            if (std::fread(stored, 1, 4, file) != 4)
                return LoadFailure::CutShort;
            good = png::ReadBe32(stored) == crc;
            return LoadFailure::None;
        }

        // Finish for a critical chunk, whose CRC error is damage.
        [[nodiscard]] LoadFailure FinishCritical()
        {
            bool good = false;
            const LoadFailure failure = Finish(good);
            return failure != LoadFailure::None ? failure
                                                : (good ? LoadFailure::None : LoadFailure::Damaged);
        }

        [[nodiscard]] bool Is(const char *four) const { return Named(name, four); }

        std::uint32_t length = 0;
        std::uint32_t left = 0;
        char name[4] {};

    private:
        std::FILE *file;
        std::uint32_t crc = 0;
    };

    // The zlib stream spread over consecutive IDAT chunks, inflated on demand.
    class ImageData
    {
    public:
        // chunks stands at the first IDAT's body.
        explicit ImageData(ChunkStream &stream)
            : chunks(stream)
            , state(std::make_unique<inflate_state>())
            , input(kInputBytes)
        {
            isal_inflate_init(state.get());
            state->crc_flag = ISAL_ZLIB;
        }

        // Exactly n inflated bytes into out.
        [[nodiscard]] LoadFailure Read(std::uint8_t *out, std::size_t n)
        {
            state->next_out = out;
            state->avail_out = static_cast<std::uint32_t>(n);
            while (state->avail_out > 0) {
                if (state->block_state == ISAL_BLOCK_FINISH)
                    return LoadFailure::CutShort; // the stream ends before the picture
                if (const LoadFailure failure = Step(); failure != LoadFailure::None)
                    return failure;
            }
            return LoadFailure::None;
        }

        // The stream's end with its checksum, nothing inflated past the picture and nothing after
        // the stream in its chunk, whose CRC is then checked.
        [[nodiscard]] LoadFailure Finish()
        {
            std::uint8_t beyond = 0;
            while (state->block_state != ISAL_BLOCK_FINISH) {
                state->next_out = &beyond;
                state->avail_out = 1;
                if (const LoadFailure failure = Step(); failure != LoadFailure::None)
                    return failure;
                if (state->avail_out == 0)
                    return LoadFailure::Damaged;
            }
            if (state->avail_in > 0 || chunks.left > 0)
                return LoadFailure::Damaged;
            return chunks.FinishCritical();
        }

    private:
        // One call of the inflater. Without input it first gives out what it holds already (the
        // stream's last bytes may all be inside it), and only then is more input fetched.
        [[nodiscard]] LoadFailure Step()
        {
            if (state->avail_in == 0) {
                if (const LoadFailure failure = Inflate(); failure != LoadFailure::None)
                    return failure;
                if (progressed)
                    return LoadFailure::None;
                if (const LoadFailure failure = Refill(); failure != LoadFailure::None)
                    return failure;
            }
            if (const LoadFailure failure = Inflate(); failure != LoadFailure::None)
                return failure;
            return progressed || state->avail_in == 0 ? LoadFailure::None : LoadFailure::Damaged;
        }

        [[nodiscard]] LoadFailure Inflate()
        {
            const std::uint32_t inBefore = state->avail_in, outBefore = state->avail_out;
            const int result = isal_inflate(state.get());
            if (result < 0 || result == ISAL_NEED_DICT)
                return LoadFailure::Damaged;
            progressed = state->avail_in != inBefore || state->avail_out != outBefore
                || state->block_state == ISAL_BLOCK_FINISH;
            return LoadFailure::None;
        }

        // More compressed bytes from this IDAT or the next; the data ends at any other chunk.
        [[nodiscard]] LoadFailure Refill()
        {
            while (chunks.left == 0) {
                if (const LoadFailure failure = chunks.FinishCritical();
                    failure != LoadFailure::None)
                    return failure;
                if (const LoadFailure failure = chunks.Header(); failure != LoadFailure::None)
                    return failure;
                if (!chunks.Is("IDAT"))
                    return LoadFailure::CutShort;
            }
            const std::size_t got = chunks.Body(input.data(), input.size());
            if (got == 0)
                return LoadFailure::CutShort;
            state->next_in = input.data();
            state->avail_in = static_cast<std::uint32_t>(got);
            return LoadFailure::None;
        }

        ChunkStream &chunks;
        std::unique_ptr<inflate_state> state;
        std::vector<std::uint8_t> input;
        bool progressed = false;
    };

    // What IHDR, PLTE and tRNS say about the pixels.
    struct PixelLayout
    {
        std::uint32_t width = 0, height = 0;
        int bitDepth = 0, colourType = 0;
        bool interlaced = false;
        // Opaque RGB entries; libpng's palette has 256, black past the chunk's end.
        std::array<std::uint32_t, 256> palette {};
        std::array<std::uint8_t, 256> paletteAlpha {};
        int paletteAlphaCount = 0;
        bool hasTransparency = false;
        // tRNS of grey (red) and RGB pictures, as stored.
        std::uint16_t transparent[3] {};

        [[nodiscard]] int Channels() const
        {
            static constexpr int kChannels[7] = { 1, 0, 3, 1, 2, 0, 4 };
            return kChannels[colourType];
        }
        [[nodiscard]] std::size_t RowBytes(std::uint32_t pixels) const
        {
            return (std::size_t { pixels } * Channels() * bitDepth + 7) / 8;
        }
        [[nodiscard]] int PixelBytes() const { return std::max(1, Channels() * bitDepth / 8); }
        [[nodiscard]] bool HasAlpha() const { return (colourType & 4) != 0 || hasTransparency; }
    };

    // libpng's IHDR rules: TooLarge for a side past the limit, else Damaged for any other flaw.
    LoadFailure CheckHeader(const std::uint8_t *body, PixelLayout &layout)
    {
        layout.width = png::ReadBe32(body);
        layout.height = png::ReadBe32(body + 4);
        layout.bitDepth = body[8];
        layout.colourType = body[9];
        layout.interlaced = body[12] == 1;
        if (layout.width > 0x7FFFFFFFu || layout.height > 0x7FFFFFFFu)
            return LoadFailure::Damaged;
        if (layout.width > kMaxRasterSide || layout.height > kMaxRasterSide)
            return LoadFailure::TooLarge;
        const int depth = layout.bitDepth;
        bool depthFits = false;
        switch (layout.colourType) {
        case 0:
            depthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
            break;
        case 3:
            depthFits = depth == 1 || depth == 2 || depth == 4 || depth == 8;
            break;
        case 2:
        case 4:
        case 6:
            depthFits = depth == 8 || depth == 16;
            break;
        default:
            break;
        }
        const bool good = depthFits && layout.width > 0 && layout.height > 0 && body[10] == 0
            && body[11] == 0 && body[12] <= 1;
        return good ? LoadFailure::None : LoadFailure::Damaged;
    }

    // 16 bits to 8 as libpng's png_set_scale_16 does: x * 255 / 65535, to nearest.
    std::uint32_t Scale16(const std::uint8_t *sample)
    {
        const int high = sample[0];
        return static_cast<std::uint8_t>(high + (((sample[1] - high + 128) * 65535) >> 24));
    }

    // The sample of pixel x in a row of samples below 8 bits, scaled to 8 bits, and as stored.
    std::uint32_t SmallSample(const std::uint8_t *row, std::uint32_t x, int depth)
    {
        const std::uint32_t perByte = 8 / depth;
        const std::uint32_t shift = 8 - depth * (x % perByte + 1);
        return (row[x / perByte] >> shift) & ((1u << depth) - 1);
    }

    std::uint32_t Argb(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b)
    {
        return (a << 24) | (r << 16) | (g << 8) | b;
    }

    // Grey pictures to 0xAARRGGBB as libpng expands them: samples below 8 bits scaled up,
    // tRNS compared with the stored sample (cut to the depth, or to 8 bits at depth 8).
    void ExpandGrey(const PixelLayout &layout, const std::uint8_t *row, std::uint32_t *out)
    {
        const int depth = layout.bitDepth;
        const std::uint32_t scale[9] = { 0, 0xFF, 0x55, 0, 0x11, 0, 0, 0, 1 };
        const std::uint32_t key = layout.transparent[0];
        for (std::uint32_t x = 0; x < layout.width; ++x) {
            std::uint32_t grey = 0;
            bool clear = false;
            if (depth == 16) {
                grey = Scale16(row + 2 * x);
                clear = layout.hasTransparency
                    && ((std::uint32_t { row[2 * x] } << 8) | row[2 * x + 1]) == key;
            } else {
                const std::uint32_t stored = depth == 8 ? row[x] : SmallSample(row, x, depth);
                grey = stored * scale[depth];
                const std::uint32_t mask = depth == 8 ? 0xFFu : (1u << depth) - 1;
                clear = layout.hasTransparency && stored == (key & mask);
            }
            out[x] = Argb(clear ? 0 : 0xFF, grey, grey, grey);
        }
    }

    void ExpandRgb(const PixelLayout &layout, const std::uint8_t *row, std::uint32_t *out)
    {
        const std::uint16_t *key = layout.transparent;
        for (std::uint32_t x = 0; x < layout.width; ++x) {
            if (layout.bitDepth == 8) {
                const std::uint8_t *p = row + 3 * x;
                const bool clear = layout.hasTransparency && p[0] == (key[0] & 0xFF)
                    && p[1] == (key[1] & 0xFF) && p[2] == (key[2] & 0xFF);
                out[x] = Argb(clear ? 0 : 0xFF, p[0], p[1], p[2]);
            } else {
                const std::uint8_t *p = row + 6 * x;
                const auto stored = [p](int i) { return (p[2 * i] << 8) | p[2 * i + 1]; };
                const bool clear = layout.hasTransparency && stored(0) == key[0]
                    && stored(1) == key[1] && stored(2) == key[2];
                out[x] = Argb(clear ? 0 : 0xFF, Scale16(p), Scale16(p + 2), Scale16(p + 4));
            }
        }
    }

    void ExpandPalette(const PixelLayout &layout, const std::uint8_t *row, std::uint32_t *out)
    {
        for (std::uint32_t x = 0; x < layout.width; ++x) {
            const std::uint32_t index
                = layout.bitDepth == 8 ? row[x] : SmallSample(row, x, layout.bitDepth);
            const std::uint32_t alpha = static_cast<int>(index) < layout.paletteAlphaCount
                ? layout.paletteAlpha[index]
                : 0xFF;
            out[x] = (alpha << 24) | layout.palette[index];
        }
    }

    void ExpandWithAlpha(const PixelLayout &layout, const std::uint8_t *row, std::uint32_t *out)
    {
        const bool grey = layout.colourType == 4;
        const std::size_t step = static_cast<std::size_t>(layout.PixelBytes());
        const std::size_t sample = layout.bitDepth / 8;
        for (std::uint32_t x = 0; x < layout.width; ++x) {
            const std::uint8_t *p = row + step * x;
            const auto at = [&](int i) { return sample == 1 ? p[i] : Scale16(p + 2 * i); };
            out[x] = grey ? Argb(at(1), at(0), at(0), at(0)) : Argb(at(3), at(0), at(1), at(2));
        }
    }

    // An unfiltered row as 8-bit 0xAARRGGBB pixels, alpha from the picture or its tRNS.
    void ExpandRow(const PixelLayout &layout, const std::uint8_t *row, std::uint32_t *out)
    {
        switch (layout.colourType) {
        case 0:
            ExpandGrey(layout, row, out);
            break;
        case 2:
            ExpandRgb(layout, row, out);
            break;
        case 3:
            ExpandPalette(layout, row, out);
            break;
        default:
            ExpandWithAlpha(layout, row, out);
            break;
        }
    }

    // An unfiltered row of a 16-bit picture as R, G, B, A samples in host order, alpha 0 or
    // 65535 from tRNS where the picture has none.
    void ExpandRow16(const PixelLayout &layout, const std::uint8_t *row, std::uint16_t *out)
    {
        const int channels = layout.Channels();
        for (std::uint32_t x = 0; x < layout.width; ++x, out += 4) {
            const std::uint8_t *p = row + 2 * channels * x;
            std::uint16_t stored[4] {};
            for (int i = 0; i < channels; ++i)
                stored[i] = static_cast<std::uint16_t>((p[2 * i] << 8) | p[2 * i + 1]);
            const bool grey = channels <= 2;
            out[0] = stored[0];
            out[1] = grey ? stored[0] : stored[1];
            out[2] = grey ? stored[0] : stored[2];
            if (channels == 2 || channels == 4) {
                out[3] = stored[channels - 1];
            } else {
                const bool clear = layout.hasTransparency
                    && (grey ? stored[0] == layout.transparent[0]
                             : std::equal(stored, stored + 3, layout.transparent));
                out[3] = clear ? 0 : 0xFFFF;
            }
        }
    }

    // Adam7: where each pass starts and how far apart its pixels are, across and down.
    struct Pass
    {
        std::uint32_t x0, y0, dx, dy;
    };
    constexpr Pass kPasses[7] = { { 0, 0, 8, 8 }, { 4, 0, 8, 8 }, { 0, 4, 4, 8 }, { 2, 0, 4, 4 },
        { 0, 2, 2, 4 }, { 1, 0, 2, 2 }, { 0, 1, 1, 2 } };

    std::uint32_t PassExtent(std::uint32_t size, std::uint32_t start, std::uint32_t step)
    {
        return size > start ? (size - start + step - 1) / step : 0;
    }

    class IsalPngImage final : public DecodedImage
    {
    public:
        explicit IsalPngImage(FilePtr source)
            : file(std::move(source))
            , chunks(file.get())
        {
        }

        [[nodiscard]] LoadFailure ReadHeader();
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override
        {
            return DrawOverThroughRows(raster, background);
        }
        [[nodiscard]] LoadFailure DrawRows(analysis::RowSink &sink, QRgb background) override;

    private:
        [[nodiscard]] LoadFailure ReadChunkBeforeImage();
        [[nodiscard]] LoadFailure ReadImageHeader();
        [[nodiscard]] LoadFailure ReadPalette();
        [[nodiscard]] LoadFailure ReadTransparency();
        [[nodiscard]] LoadFailure ReadColourChunk(png::Chunk &slot);
        [[nodiscard]] LoadFailure CheckSizes();
        [[nodiscard]] LoadFailure DrawStraight(analysis::RowSink &sink, QRgb background);
        [[nodiscard]] LoadFailure DrawInterlaced(analysis::RowSink &sink, QRgb background);
        [[nodiscard]] LoadFailure DrawInterlaced16(analysis::RowSink &sink, QRgb background);
        [[nodiscard]] LoadFailure ReadEnd();
        void FinishRow(const std::uint8_t *row, std::uint32_t *out, QRgb background);

        // Calls visit(row, passLayout, y, pass) for each unfiltered row of each Adam7 pass.
        template <class Visit> [[nodiscard]] LoadFailure ReadPasses(Visit visit);

        FilePtr file;
        ChunkStream chunks;
        PixelLayout layout;
        png::ColourChunks colourChunks;
        bool haveHeader = false;
        bool havePalette = false;
        int paletteCount = 0;
        // 3 or 4 for 8-bit RGB or RGBA pictures without tRNS, whose rows are used as they are.
        int plainChannels = 0;
        // 16-bit pictures that are converted are read from their whole samples.
        bool sixteenBits = false;
        std::vector<std::uint16_t> samples;
        std::unique_ptr<ImageData> data;
    };

    LoadFailure IsalPngImage::ReadHeader()
    {
        if (const LoadFailure failure = chunks.Signature(); failure != LoadFailure::None)
            return failure;
        for (;;) {
            if (const LoadFailure failure = chunks.Header(); failure != LoadFailure::None)
                return failure;
            if (chunks.Is("IDAT"))
                break;
            if (const LoadFailure failure = ReadChunkBeforeImage(); failure != LoadFailure::None)
                return failure;
        }
        if (!haveHeader || (layout.colourType == 3 && !havePalette))
            return LoadFailure::Damaged;
        colour = png::DescriptionOf(colourChunks);
        if (const LoadFailure failure = CheckSizes(); failure != LoadFailure::None)
            return failure;
        sixteenBits = layout.bitDepth == 16;
        if (layout.bitDepth == 8 && !layout.interlaced && !layout.hasTransparency
            && (layout.colourType == 2 || layout.colourType == 6))
            plainChannels = layout.colourType == 2 ? 3 : 4;
        data = std::make_unique<ImageData>(chunks);
        return LoadFailure::None;
    }

    LoadFailure IsalPngImage::CheckSizes()
    {
        const std::uint32_t width = layout.width, height = layout.height;
        if (!IsAllowedStreamSize(width, height))
            return SizeFailure(width, height);
        if (layout.interlaced && !IsAllowedRasterSize(width, height))
            return LoadFailure::TooLarge;
        if (layout.interlaced && !MemoryAllows(std::int64_t { width } * height * 4))
            return LoadFailure::OutOfMemory;
        size = QSize(static_cast<int>(width), static_cast<int>(height));
        return LoadFailure::None;
    }

    // libpng's rules before the image data: the header first (only colour chunks, which are
    // judged apart, may come before it) and once; PLTE once; unknown critical chunks refused;
    // damage in ancillary ones ignored.
    LoadFailure IsalPngImage::ReadChunkBeforeImage()
    {
        const char *name = chunks.name;
        if (Named(name, "IHDR"))
            return haveHeader ? LoadFailure::Damaged : ReadImageHeader();
        if (png::Chunk *slot = colourChunks.Slot(name))
            return ReadColourChunk(*slot);
        if (!haveHeader)
            return LoadFailure::Damaged;
        if (Named(name, "PLTE"))
            return ReadPalette();
        if (Named(name, "tRNS"))
            return ReadTransparency();
        if (IsCritical(name))
            return LoadFailure::Damaged;
        bool good = false;
        return chunks.Finish(good);
    }

    LoadFailure IsalPngImage::ReadImageHeader()
    {
        if (chunks.length != 13)
            return LoadFailure::Damaged;
        std::vector<std::uint8_t> body;
        if (const LoadFailure failure = chunks.WholeBody(body); failure != LoadFailure::None)
            return failure;
        if (const LoadFailure failure = chunks.FinishCritical(); failure != LoadFailure::None)
            return failure;
        haveHeader = true;
        return CheckHeader(body.data(), layout);
    }

    LoadFailure IsalPngImage::ReadPalette()
    {
        if (havePalette)
            return LoadFailure::Damaged;
        havePalette = true;
        std::vector<std::uint8_t> body;
        if (const LoadFailure failure = chunks.WholeBody(body); failure != LoadFailure::None)
            return failure;
        if (const LoadFailure failure = chunks.FinishCritical(); failure != LoadFailure::None)
            return failure;
        // Grey pictures ignore a palette; RGB ones only use a sound one as a suggestion.
        if ((layout.colourType & 2) == 0)
            return LoadFailure::None;
        if (body.size() % 3 != 0 || body.size() > 768)
            return layout.colourType == 3 ? LoadFailure::Damaged : LoadFailure::None;
        if (body.empty())
            return LoadFailure::Damaged;
        paletteCount = static_cast<int>(body.size() / 3);
        if (layout.colourType == 3)
            paletteCount = std::min(paletteCount, 1 << layout.bitDepth);
        for (int i = 0; i < paletteCount; ++i)
            layout.palette[i] = Argb(0, body[3 * i], body[3 * i + 1], body[3 * i + 2]);
        return LoadFailure::None;
    }

    LoadFailure IsalPngImage::ReadTransparency()
    {
        std::vector<std::uint8_t> body;
        if (const LoadFailure failure = chunks.WholeBody(body); failure != LoadFailure::None)
            return failure;
        bool good = false;
        if (const LoadFailure failure = chunks.Finish(good); failure != LoadFailure::None)
            return failure;
        if (!good || layout.hasTransparency)
            return LoadFailure::None;
        const std::size_t length = body.size();
        if ((layout.colourType == 0 && length == 2) || (layout.colourType == 2 && length == 6)) {
            for (std::size_t i = 0; i < length / 2; ++i)
                layout.transparent[i]
                    = static_cast<std::uint16_t>((body[2 * i] << 8) | body[2 * i + 1]);
            layout.hasTransparency = true;
        } else if (layout.colourType == 3 && havePalette && length > 0
            && length <= static_cast<std::size_t>(paletteCount)) {
            std::copy(body.begin(), body.end(), layout.paletteAlpha.begin());
            layout.paletteAlphaCount = static_cast<int>(length);
            layout.hasTransparency = true;
        }
        return LoadFailure::None;
    }

    // A colour chunk with a CRC error, or one too big for libpng to keep, leaves its kind damaged
    // even where an earlier one was sound.
    LoadFailure IsalPngImage::ReadColourChunk(png::Chunk &slot)
    {
        std::vector<std::uint8_t> body;
        if (chunks.length < kMaxKeptChunk) {
            if (const LoadFailure failure = chunks.WholeBody(body); failure != LoadFailure::None)
                return failure;
        }
        bool good = false;
        if (const LoadFailure failure = chunks.Finish(good); failure != LoadFailure::None)
            return failure;
        if (!good || chunks.length >= kMaxKeptChunk)
            slot = png::Chunk::Damaged;
        else
            colourChunks.Read(chunks.name, body.data(), body.size());
        return LoadFailure::None;
    }

    void IsalPngImage::FinishRow(const std::uint8_t *row, std::uint32_t *out, QRgb background)
    {
        const int width = size.width();
        if (plainChannels == 3) {
            ConvertRgbRow(row, out, width);
            ConvertColours(out, width);
            return;
        }
        if (plainChannels == 4 && !ConvertsColours()) {
            ComposeRgbaRow(row, out, width, background);
            return;
        }
        if (plainChannels == 4)
            UnpackRgbaRow(row, out, width);
        else if (sixteenBits && ConvertsColours())
            ExpandRow16(layout, row, samples.data());
        else
            ExpandRow(layout, row, out);
        if (sixteenBits && ConvertsColours())
            converter.ConvertRow16(samples.data(), out, width);
        else
            ConvertColours(out, width);
        if (layout.HasAlpha())
            ComposeRowOver(out, width, background);
    }

    LoadFailure IsalPngImage::DrawStraight(analysis::RowSink &sink, QRgb background)
    {
        const std::size_t rowBytes = layout.RowBytes(layout.width), stored = rowBytes + 1;
        const int height = size.height();
        const int batch = static_cast<int>(
            std::clamp<std::size_t>(kBatchBytes / stored, 1, static_cast<std::size_t>(height)));
        std::vector<std::uint8_t> filtered(batch * stored), previous(rowBytes, 0);
        if (sixteenBits && ConvertsColours())
            samples.resize(std::size_t { layout.width } * 4);
        for (int y = 0, count = 0; y < height; y += count) {
            count = std::min(batch, height - y);
            if (const LoadFailure failure = data->Read(filtered.data(), count * stored);
                failure != LoadFailure::None)
                return failure;
            std::ptrdiff_t stride = 0;
            std::uint32_t *rows = sink.RowSpace(y, count, stride);
            if (!rows)
                return LoadFailure::OutOfMemory;
            const std::uint8_t *above = previous.data();
            for (int i = 0; i < count; ++i) {
                std::uint8_t *row = filtered.data() + i * stored;
                if (!png::Unfilter(row[0], row + 1, above, rowBytes, layout.PixelBytes()))
                    return LoadFailure::Damaged;
                FinishRow(row + 1, rows + i * stride, background);
                above = row + 1;
            }
            std::memcpy(previous.data(), above, rowBytes);
            sink.RowsDone(y, count);
        }
        return LoadFailure::None;
    }

    template <class Visit> LoadFailure IsalPngImage::ReadPasses(Visit visit)
    {
        for (const Pass &pass : kPasses) {
            PixelLayout passLayout = layout;
            passLayout.width = PassExtent(layout.width, pass.x0, pass.dx);
            const std::uint32_t passHeight = PassExtent(layout.height, pass.y0, pass.dy);
            if (passLayout.width == 0 || passHeight == 0)
                continue; // an empty pass has no rows in the data, not even filter bytes
            const std::size_t rowBytes = passLayout.RowBytes(passLayout.width);
            std::vector<std::uint8_t> above(rowBytes + 1, 0), current(rowBytes + 1);
            for (std::uint32_t j = 0; j < passHeight; ++j) {
                if (const LoadFailure failure = data->Read(current.data(), rowBytes + 1);
                    failure != LoadFailure::None)
                    return failure;
                if (!png::Unfilter(current[0], current.data() + 1, above.data() + 1, rowBytes,
                        layout.PixelBytes()))
                    return LoadFailure::Damaged;
                visit(current.data() + 1, passLayout, pass.y0 + j * pass.dy, pass);
                std::swap(above, current);
            }
        }
        return LoadFailure::None;
    }

    // Each pass fills in pixels of rows the earlier passes began, so the rows are final only
    // after the last pass.
    LoadFailure IsalPngImage::DrawInterlaced(analysis::RowSink &sink, QRgb background)
    {
        const int width = size.width(), height = size.height();
        std::ptrdiff_t stride = 0;
        std::uint32_t *const rows = sink.RowSpace(0, height, stride);
        if (!rows)
            return LoadFailure::OutOfMemory;
        std::vector<std::uint32_t> passPixels(layout.width);
        const LoadFailure failure
            = ReadPasses([&](const std::uint8_t *row, const PixelLayout &passLayout,
                             std::uint32_t y, const Pass &pass) {
                  ExpandRow(passLayout, row, passPixels.data());
                  std::uint32_t *target = rows + static_cast<std::ptrdiff_t>(y) * stride;
                  for (std::uint32_t i = 0; i < passLayout.width; ++i)
                      target[pass.x0 + i * pass.dx] = passPixels[i];
              });
        if (failure != LoadFailure::None)
            return failure;
        for (int y = 0; y < height; ++y) {
            ConvertColours(rows + y * stride, width);
            if (layout.HasAlpha())
                ComposeRowOver(rows + y * stride, width, background);
        }
        sink.RowsDone(0, height);
        return LoadFailure::None;
    }

    LoadFailure IsalPngImage::DrawInterlaced16(analysis::RowSink &sink, QRgb background)
    {
        const int width = size.width(), height = size.height();
        const std::size_t rowSamples = static_cast<std::size_t>(width) * 4;
        if (!MemoryAllows(std::int64_t { width } * height * 8))
            return LoadFailure::OutOfMemory;
        samples.resize(rowSamples * height);
        std::vector<std::uint16_t> passSamples(rowSamples);
        const LoadFailure failure = ReadPasses([&](const std::uint8_t *row,
                                                   const PixelLayout &passLayout, std::uint32_t y,
                                                   const Pass &pass) {
            ExpandRow16(passLayout, row, passSamples.data());
            std::uint16_t *target = samples.data() + rowSamples * y;
            for (std::uint32_t i = 0; i < passLayout.width; ++i)
                std::memcpy(target + 4 * (pass.x0 + i * pass.dx), passSamples.data() + 4 * i, 8);
        });
        if (failure != LoadFailure::None)
            return failure;
        std::ptrdiff_t stride = 0;
        std::uint32_t *const rows = sink.RowSpace(0, height, stride);
        if (!rows)
            return LoadFailure::OutOfMemory;
        for (int y = 0; y < height; ++y) {
            converter.ConvertRow16(samples.data() + rowSamples * y, rows + y * stride, width);
            if (layout.HasAlpha())
                ComposeRowOver(rows + y * stride, width, background);
        }
        sink.RowsDone(0, height);
        return LoadFailure::None;
    }

    // The chunks after the image data up to IEND, as libpng reads them: mostly only their CRCs
    // count (a palette there is ignored), but a header or an unknown critical chunk there is
    // damage, and so are IDAT chunks after other chunks.
    LoadFailure IsalPngImage::ReadEnd()
    {
        bool afterOtherChunk = false;
        for (;;) {
            if (const LoadFailure failure = chunks.Header(); failure != LoadFailure::None)
                return failure;
            if (chunks.Is("IEND"))
                return chunks.FinishCritical();
            const bool idat = chunks.Is("IDAT");
            if (chunks.Is("IHDR") || (idat && afterOtherChunk))
                return LoadFailure::Damaged;
            afterOtherChunk = afterOtherChunk || !idat;
            if (idat || chunks.Is("PLTE")) {
                if (const LoadFailure failure = chunks.FinishCritical();
                    failure != LoadFailure::None)
                    return failure;
                continue;
            }
            if (IsCritical(chunks.name))
                return LoadFailure::Damaged;
            bool good = false;
            if (const LoadFailure failure = chunks.Finish(good); failure != LoadFailure::None)
                return failure;
        }
    }

    LoadFailure IsalPngImage::DrawRows(analysis::RowSink &sink, QRgb background)
    {
        if (!sink.Start(size.width(), size.height()))
            return kSinkRefused;
        LoadFailure failure = LoadFailure::None;
        try {
            if (!layout.interlaced)
                failure = DrawStraight(sink, background);
            else if (sixteenBits && ConvertsColours())
                failure = DrawInterlaced16(sink, background);
            else
                failure = DrawInterlaced(sink, background);
        } catch (const std::bad_alloc &) {
            return LoadFailure::OutOfMemory;
        }
        if (failure == LoadFailure::None)
            failure = data->Finish();
        return failure == LoadFailure::None ? ReadEnd() : failure;
    }

} // namespace

OpenedImage OpenPng(FilePtr file) { return Open<IsalPngImage>(std::move(file)); }

} // namespace imaging
