// PNG through libpng, decoded row by row into the sink's space and composed there; interlaced
// files are held whole, as their rows are final only after the last pass.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/raster_memory.h"

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <vector>

#include <png.h>
#include <zlib.h>

namespace imaging {
namespace {

    bool Mentions(png_const_charp message, const char *part)
    {
        return message != nullptr && std::strstr(message, part) != nullptr;
    }

    // libpng tells its errors by message alone; these are the words of its own (pngrutil.c,
    // pngrio.c, pngerror.c).
    [[noreturn]] void OnError(png_structp png, png_const_charp message)
    {
        auto *failure = static_cast<LoadFailure *>(png_get_error_ptr(png));
        if (*failure == LoadFailure::None) {
            if (Mentions(message, "Read Error") || Mentions(message, "Not enough image data"))
                *failure = LoadFailure::CutShort;
            else if (Mentions(message, "memory") || Mentions(message, "Out of"))
                *failure = LoadFailure::OutOfMemory;
            else
                *failure = LoadFailure::Damaged;
        }
        png_longjmp(png, 1);
    }

    // The chunks that describe colours, read here rather than by libpng: its own handling keeps
    // only the first of iCCP and sRGB and drops a profile it dislikes with no more than a
    // warning, so their order of precedence could not be applied.
    constexpr png_byte kColourChunks[] = "cICP\0iCCP\0sRGB\0gAMA\0cHRM";
    constexpr int kColourChunkCount = 5;
    // A profile inflated past this is taken as damaged; real ones are a few hundred kilobytes.
    constexpr std::size_t kMaxProfileBytes = 32 << 20;

    enum class Chunk : std::uint8_t { Absent, Good, Damaged };

    // What the colour chunks before the image data held; the first of each kind counts.
    struct ColourChunks
    {
        bool beforeImage = true;
        Chunk cicp = Chunk::Absent, iccp = Chunk::Absent, srgb = Chunk::Absent;
        Chunk gama = Chunk::Absent, chrm = Chunk::Absent;
        Cicp codePoints;
        std::vector<std::uint8_t> icc;
        double gamma = 0;
        std::array<double, 8> chromaticities {};

        // The state of the chunk of that four-letter name, or null for other chunks.
        Chunk *Slot(const char *name)
        {
            Chunk *states[] = { &cicp, &iccp, &srgb, &gama, &chrm };
            for (int i = 0; i < kColourChunkCount; ++i) {
                if (std::memcmp(name, kColourChunks + 5 * i, 4) == 0)
                    return states[i];
            }
            return nullptr;
        }
    };

    std::uint32_t ReadBe32(const png_byte *bytes)
    {
        return (std::uint32_t { bytes[0] } << 24) | (std::uint32_t { bytes[1] } << 16)
            | (std::uint32_t { bytes[2] } << 8) | bytes[3];
    }

    // An iCCP chunk's profile: a name of 1 to 79 bytes and its terminator, compression method 0,
    // then the zlib stream. Empty where any part is wrong, including a profile whose header
    // gives another length than it has.
    std::vector<std::uint8_t> InflateProfile(const png_byte *data, std::size_t length)
    {
        if (length < 3)
            return {};
        const auto *end = static_cast<const png_byte *>(
            std::memchr(data, 0, std::min<std::size_t>(length, 80)));
        if (!end || end == data || static_cast<std::size_t>(end - data) + 2 > length || end[1] != 0)
            return {};
        z_stream stream {};
        if (inflateInit(&stream) != Z_OK)
            return {};
        stream.next_in = const_cast<png_byte *>(end + 2);
        stream.avail_in = static_cast<uInt>(length - static_cast<std::size_t>(end + 2 - data));
        std::vector<std::uint8_t> profile;
        int result = Z_OK;
        while (result == Z_OK && profile.size() < kMaxProfileBytes) {
            const std::size_t at = profile.size();
            profile.resize(at + 64 * 1024);
            stream.next_out = profile.data() + at;
            stream.avail_out = 64 * 1024;
            result = inflate(&stream, Z_NO_FLUSH);
            profile.resize(at + 64 * 1024 - stream.avail_out);
            if (result == Z_BUF_ERROR && stream.avail_in == 0)
                break; // the stream stops before its end
        }
        inflateEnd(&stream);
        if (result != Z_STREAM_END || profile.size() < 132
            || ReadBe32(profile.data()) != profile.size())
            return {};
        return profile;
    }

    // A colour chunk's body, judged; chunks after the image data describe nothing.
    int OnChunk(png_structp png, png_unknown_chunkp chunk)
    {
        auto *chunks = static_cast<ColourChunks *>(png_get_user_chunk_ptr(png));
        if (!chunks->beforeImage)
            return 1;
        const png_byte *data = chunk->data;
        const std::size_t length = chunk->size;
        const auto name
            = [chunk](const char *four) { return std::memcmp(chunk->name, four, 4) == 0; };
        const auto judge = [](Chunk &slot, bool good) {
            if (slot == Chunk::Absent)
                slot = good ? Chunk::Good : Chunk::Damaged;
            return slot == Chunk::Good;
        };
        if (name("cICP")) {
            // PNG pixels are RGB: only the identity matrix makes sense.
            if (chunks->cicp == Chunk::Absent
                && judge(chunks->cicp, length == 4 && data[2] == 0 && data[3] <= 1))
                chunks->codePoints = { data[0], data[1], data[2], data[3] == 1 };
        } else if (name("iCCP")) {
            if (chunks->iccp == Chunk::Absent) {
                chunks->icc = InflateProfile(data, length);
                judge(chunks->iccp, !chunks->icc.empty());
            }
        } else if (name("sRGB")) {
            judge(chunks->srgb, length == 1 && data[0] <= 3);
        } else if (name("gAMA")) {
            if (chunks->gama == Chunk::Absent
                && judge(chunks->gama, length == 4 && ReadBe32(data) != 0))
                chunks->gamma = ReadBe32(data) / 100000.0;
        } else if (name("cHRM")) {
            if (chunks->chrm == Chunk::Absent && judge(chunks->chrm, length == 32)) {
                for (int i = 0; i < 8; ++i)
                    chunks->chromaticities[i] = ReadBe32(data + 4 * i) / 100000.0;
            }
        }
        return 1;
    }

    // The description by the order of precedence: cICP, iCCP, sRGB, gAMA (with cHRM). The first
    // kind present decides; when that one is damaged the picture is taken as sRGB.
    ColourDescription DescriptionOf(ColourChunks &chunks)
    {
        using Kind = ColourDescription::Kind;
        ColourDescription colour;
        if (chunks.cicp != Chunk::Absent) {
            colour.kind = Kind::Cicp;
            colour.cicp = chunks.codePoints;
            colour.damaged = chunks.cicp == Chunk::Damaged;
        } else if (chunks.iccp != Chunk::Absent) {
            colour.kind = Kind::Icc;
            colour.icc = std::move(chunks.icc);
            colour.damaged = chunks.iccp == Chunk::Damaged;
        } else if (chunks.srgb != Chunk::Absent) {
            colour.kind = Kind::Srgb;
            colour.damaged = chunks.srgb == Chunk::Damaged;
        } else if (chunks.gama != Chunk::Absent) {
            colour.kind = Kind::GammaChromaticities;
            colour.gamma = chunks.gamma;
            if (chunks.chrm == Chunk::Good)
                colour.chromaticities = chunks.chromaticities;
            colour.damaged = chunks.gama == Chunk::Damaged || chunks.chrm == Chunk::Damaged;
        }
        if (colour.damaged) {
            colour = {};
            colour.damaged = true;
        }
        return colour;
    }

    // libpng's warnings are about metadata (colour profiles, text chunks); damage to the image
    // data is an error of its own. A size past the user limits is a warning followed by a
    // general "Invalid IHDR data" error, so the warning keeps the reason.
    void OnWarning(png_structp png, png_const_charp message)
    {
        if (Mentions(message, "exceeds user limit"))
            *static_cast<LoadFailure *>(png_get_error_ptr(png)) = LoadFailure::TooLarge;
        // A colour chunk libpng refused itself (a CRC error, one past its memory limit), before
        // or after OnChunk saw it: its warnings begin with the chunk's name.
        auto *chunks = static_cast<ColourChunks *>(png_get_user_chunk_ptr(png));
        if (chunks && chunks->beforeImage && message && std::strlen(message) > 5
            && message[4] == ':') {
            if (Chunk *slot = chunks->Slot(message))
                *slot = Chunk::Damaged;
        }
    }

    class PngImage final : public DecodedImage
    {
    public:
        explicit PngImage(FilePtr source)
            : file(std::move(source))
        {
        }
        ~PngImage() override { png_destroy_read_struct(&png, &info, nullptr); }
        PngImage(const PngImage &) = delete;
        PngImage &operator=(const PngImage &) = delete;

        [[nodiscard]] LoadFailure ReadHeader();
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override
        {
            return DrawOverThroughRows(raster, background);
        }
        [[nodiscard]] LoadFailure DrawRows(analysis::RowSink &sink, QRgb background) override;

    private:
        // The reason libpng's error handler found, Damaged where it found none.
        [[nodiscard]] LoadFailure ErrorFailure() const
        {
            return failure != LoadFailure::None ? failure : LoadFailure::Damaged;
        }

        FilePtr file;
        // Written by the error and warning handlers.
        LoadFailure failure = LoadFailure::None;
        // State libpng's error jump may skip over lives in members, never in locals.
        png_structp png = nullptr;
        png_infop info = nullptr;
        bool hasAlpha = false;
        int passes = 1;
        // 3 or 4 for 8-bit RGB or RGBA files read as they are, 0 for libpng's transforms.
        int plainChannels = 0;
        std::vector<png_byte> plainRow;
        ColourChunks colourChunks;
    };

    LoadFailure PngImage::ReadHeader()
    {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &failure, OnError, OnWarning);
        if (!png)
            return LoadFailure::OutOfMemory;
        info = png_create_info_struct(png);
        if (!info)
            return LoadFailure::OutOfMemory;
        if (setjmp(png_jmpbuf(png)))
            return ErrorFailure();
        png_init_io(png, file.get());
        png_set_user_limits(png, kMaxRasterSide, kMaxRasterSide);
        // Damage in an ancillary chunk is a warning, never the end of the picture.
        png_set_benign_errors(png, 1);
        png_set_read_user_chunk_fn(png, &colourChunks, OnChunk);
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kColourChunks, kColourChunkCount);
        png_read_info(png, info);
        colourChunks.beforeImage = false;
        colour = DescriptionOf(colourChunks);

        png_uint_32 width = 0, height = 0;
        int bitDepth = 0, colourType = 0, interlace = 0;
        png_get_IHDR(
            png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
        if (!IsAllowedStreamSize(width, height))
            return SizeFailure(width, height);
        if (interlace != PNG_INTERLACE_NONE && !IsAllowedRasterSize(width, height))
            return LoadFailure::TooLarge;
        if (interlace != PNG_INTERLACE_NONE && !MemoryAllows(std::int64_t { width } * height * 4))
            return LoadFailure::OutOfMemory;
        size = QSize(static_cast<int>(width), static_cast<int>(height));
        hasAlpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0
            || png_get_valid(png, info, PNG_INFO_tRNS) != 0;

        // The commonest files, 8-bit RGB or RGBA, are read as they are and converted here in one
        // pass per row: libpng's byte-order and filler transforms would cost a pass each.
        if (bitDepth == 8 && interlace == PNG_INTERLACE_NONE
            && (colourType == PNG_COLOR_TYPE_RGB || colourType == PNG_COLOR_TYPE_RGB_ALPHA)
            && png_get_valid(png, info, PNG_INFO_tRNS) == 0) {
            plainChannels = colourType == PNG_COLOR_TYPE_RGB ? 3 : 4;
            plainRow.resize(static_cast<std::size_t>(width) * plainChannels);
            png_read_update_info(png, info);
            return png_get_rowbytes(png, info) == plainRow.size() ? LoadFailure::None
                                                                  : LoadFailure::Unsupported;
        }

        // Every other variant becomes 8-bit B, G, R, A/X bytes: the Format_RGB32 / ARGB32 layout.
        png_set_expand(png);
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        if (!hasAlpha)
            png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
        passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
        return png_get_rowbytes(png, info) == static_cast<png_size_t>(width) * 4
            ? LoadFailure::None
            : LoadFailure::Unsupported;
    }

    LoadFailure PngImage::DrawRows(analysis::RowSink &sink, QRgb background)
    {
        const int width = size.width();
        const int height = size.height();
        if (!sink.Start(width, height))
            return kSinkRefused;
        if (setjmp(png_jmpbuf(png)))
            return ErrorFailure();
        std::ptrdiff_t stride = 0;
        if (passes == 1) {
            for (int y = 0; y < height; ++y) {
                std::uint32_t *row = sink.RowSpace(y, 1, stride);
                if (!row)
                    return LoadFailure::OutOfMemory;
                if (plainChannels == 0) {
                    png_read_row(png, reinterpret_cast<png_bytep>(row), nullptr);
                    ConvertColours(row, width);
                    if (hasAlpha)
                        ComposeRowOver(row, width, background);
                } else {
                    png_read_row(png, plainRow.data(), nullptr);
                    if (plainChannels == 3) {
                        ConvertRgbRow(plainRow.data(), row, width);
                        ConvertColours(row, width);
                    } else if (!ConvertsColours()) {
                        ComposeRgbaRow(plainRow.data(), row, width, background);
                    } else {
                        UnpackRgbaRow(plainRow.data(), row, width);
                        ConvertColours(row, width);
                        ComposeRowOver(row, width, background);
                    }
                }
                sink.RowsDone(y, 1);
            }
        } else {
            // Each pass fills in pixels of rows the earlier passes began, so all rows stay put.
            std::uint32_t *const rows = sink.RowSpace(0, height, stride);
            if (!rows)
                return LoadFailure::OutOfMemory;
            for (int pass = 0; pass < passes; ++pass) {
                for (int y = 0; y < height; ++y)
                    png_read_row(png, reinterpret_cast<png_bytep>(rows + y * stride), nullptr);
            }
            for (int y = 0; y < height; ++y) {
                ConvertColours(rows + y * stride, width);
                if (hasAlpha)
                    ComposeRowOver(rows + y * stride, width, background);
            }
            sink.RowsDone(0, height);
        }
        // Reads up to IEND, so a file cut short after its image data is caught too.
        png_read_end(png, nullptr);
        return LoadFailure::None;
    }

} // namespace

OpenedImage OpenPng(FilePtr file) { return Open<PngImage>(std::move(file)); }

} // namespace imaging
