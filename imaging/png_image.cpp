// PNG through libpng, the reference the loader's own PNG reader is held against: decoded row by row
// into the sink's space and composed there; interlaced files are held whole, as their rows are
// final only after the last pass.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/png_chunks.h"
#include "imaging/raster_memory.h"

#include <array>
#include <bit>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <vector>

#include <png.h>

namespace imaging {
namespace {

    // The shared colour chunks, and whether libpng is still before the image data.
    struct LibpngColourChunks : png::ColourChunks
    {
        bool beforeImage = true;
    };

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

    // Colour chunks, judged by the rules both PNG readers share; chunks after the image data
    // describe nothing. Other unknown chunks go back to libpng, which refuses a critical one.
    int OnChunk(png_structp png, png_unknown_chunkp chunk)
    {
        auto *chunks = static_cast<LibpngColourChunks *>(png_get_user_chunk_ptr(png));
        const char *name = reinterpret_cast<const char *>(chunk->name);
        if (!chunks->Slot(name))
            return 0;
        if (chunks->beforeImage)
            chunks->Read(name, chunk->data, chunk->size);
        return 1;
    }

    // libpng's warnings are mostly about metadata (colour profiles, text chunks). A size past the
    // user limits is a warning followed by a general "Invalid IHDR data" error, so the warning
    // keeps the reason. Image data that goes on past the picture (more rows, bytes after the
    // compressed stream, a damaged stream end, IDAT chunks after other chunks) is only a warning
    // to libpng too; it is taken as damage, so that what is refused does not depend on where
    // the rows happened to end.
    void OnWarning(png_structp png, png_const_charp message)
    {
        auto *failure = static_cast<LoadFailure *>(png_get_error_ptr(png));
        if (Mentions(message, "exceeds user limit"))
            *failure = LoadFailure::TooLarge;
        if (message
            && (std::strncmp(message, "IDAT:", 5) == 0 || Mentions(message, "Too many IDATs"))
            && *failure == LoadFailure::None)
            *failure = LoadFailure::Damaged;
        // A colour chunk libpng refused itself (a CRC error, one past its memory limit), before
        // or after OnChunk saw it: its warnings begin with the chunk's name.
        auto *chunks = static_cast<LibpngColourChunks *>(png_get_user_chunk_ptr(png));
        if (chunks && chunks->beforeImage && message && std::strlen(message) > 5
            && message[4] == ':') {
            if (png::Chunk *slot = chunks->Slot(message))
                *slot = png::Chunk::Damaged;
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
        [[nodiscard]] LoadFailure SetEightBitTransforms();
        // Reads up to IEND, so a file cut short after its image data is caught too; None, or the
        // damage a warning reported on the way.
        [[nodiscard]] LoadFailure ReadEnd()
        {
            png_read_end(png, info);
            return failure;
        }
        [[nodiscard]] LoadFailure SetSixteenBitTransforms();
        [[nodiscard]] LoadFailure DrawSixteenBitRows(analysis::RowSink &sink, QRgb background);

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
        LibpngColourChunks colourChunks;
        // 16-bit files choose their transforms when drawn: cut to 8 bits as always, or kept
        // whole for a conversion.
        bool sixteenBits = false;
        std::vector<std::uint16_t> samples;
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
        png_set_keep_unknown_chunks(
            png, PNG_HANDLE_CHUNK_ALWAYS, png::kColourChunkNames, png::kColourChunkCount);
        png_read_info(png, info);
        colourChunks.beforeImage = false;
        colour = png::DescriptionOf(colourChunks);

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

        if (bitDepth == 16) {
            sixteenBits = true;
            return LoadFailure::None;
        }
        return SetEightBitTransforms();
    }

    LoadFailure PngImage::SetEightBitTransforms()
    {
        const int width = size.width();
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

    LoadFailure PngImage::SetSixteenBitTransforms()
    {
        // R, G, B, A samples in host order for the conversion.
        png_set_expand(png);
        png_set_gray_to_rgb(png);
        if (!hasAlpha)
            png_set_filler(png, 0xFFFF, PNG_FILLER_AFTER);
        if constexpr (std::endian::native == std::endian::little)
            png_set_swap(png);
        passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
        return png_get_rowbytes(png, info) == static_cast<png_size_t>(size.width()) * 8
            ? LoadFailure::None
            : LoadFailure::Unsupported;
    }

    LoadFailure PngImage::DrawSixteenBitRows(analysis::RowSink &sink, QRgb background)
    {
        const int width = size.width();
        const int height = size.height();
        if (const LoadFailure failure = SetSixteenBitTransforms(); failure != LoadFailure::None)
            return failure;
        // Interlaced files keep every row's samples until the last pass; the others one row.
        const std::size_t rowSamples = static_cast<std::size_t>(width) * 4;
        if (passes > 1 && !MemoryAllows(std::int64_t { width } * height * 8))
            return LoadFailure::OutOfMemory;
        samples.resize(rowSamples * (passes > 1 ? height : 1));
        std::ptrdiff_t stride = 0;
        if (passes == 1) {
            for (int y = 0; y < height; ++y) {
                std::uint32_t *row = sink.RowSpace(y, 1, stride);
                if (!row)
                    return LoadFailure::OutOfMemory;
                png_read_row(png, reinterpret_cast<png_bytep>(samples.data()), nullptr);
                converter.ConvertRow16(samples.data(), row, width);
                if (hasAlpha)
                    ComposeRowOver(row, width, background);
                sink.RowsDone(y, 1);
            }
        } else {
            for (int pass = 0; pass < passes; ++pass) {
                for (int y = 0; y < height; ++y)
                    png_read_row(
                        png, reinterpret_cast<png_bytep>(samples.data() + rowSamples * y), nullptr);
            }
            std::uint32_t *const rows = sink.RowSpace(0, height, stride);
            if (!rows)
                return LoadFailure::OutOfMemory;
            for (int y = 0; y < height; ++y) {
                converter.ConvertRow16(samples.data() + rowSamples * y, rows + y * stride, width);
                if (hasAlpha)
                    ComposeRowOver(rows + y * stride, width, background);
            }
            sink.RowsDone(0, height);
        }
        return ReadEnd();
    }

    LoadFailure PngImage::DrawRows(analysis::RowSink &sink, QRgb background)
    {
        const int width = size.width();
        const int height = size.height();
        if (!sink.Start(width, height))
            return kSinkRefused;
        if (setjmp(png_jmpbuf(png)))
            return ErrorFailure();
        if (sixteenBits && ConvertsColours())
            return DrawSixteenBitRows(sink, background);
        if (sixteenBits) {
            if (const LoadFailure failure = SetEightBitTransforms(); failure != LoadFailure::None)
                return failure;
        }
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
        return ReadEnd();
    }

} // namespace

OpenedImage OpenPngThroughLibpng(FilePtr file) { return Open<PngImage>(std::move(file)); }

#ifdef QUILLMERE_PNG_THROUGH_LIBPNG
OpenedImage OpenPng(FilePtr file) { return OpenPngThroughLibpng(std::move(file)); }
#endif

} // namespace imaging
