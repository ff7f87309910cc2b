// TIFF: the first page. Pictures of more than 8 bits a sample, floating point, CIELab and CMYK
// with alpha are read from their samples (tiff_samples.h); the others through libtiff's RGBA
// interface, which knows every other photometric and depth and is decoded straight into the
// raster and converted there in place.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/raster_memory.h"
#include "imaging/tiff_samples.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <optional>
#include <unistd.h>
#include <vector>

#include <tiffio.h>

namespace imaging {
namespace {

    // What libtiff's messages told about the file: the first error's reason, and whether a
    // warning said the data was cut.
    struct TiffMessages
    {
        LoadFailure error = LoadFailure::None;
        bool cut = false;
    };

    bool Mentions(const char *text, const char *part) { return std::strstr(text, part) != nullptr; }

    // libtiff's messages are its only account of a failure; the words below are those its own
    // messages use (tif_read.c, tif_dirread.c, tif_getimage.c, tif_open.c).
    LoadFailure ReasonOfMessage(const char *format)
    {
        if (Mentions(format, "Read error") || Mentions(format, "Cannot read")
            || Mentions(format, "Can not read") || Mentions(format, "Seek error")
            || Mentions(format, "EOF") || Mentions(format, "IO error")
            || Mentions(format, "past end"))
            return LoadFailure::CutShort;
        if (Mentions(format, "Sorry") || Mentions(format, "not supported")
            || Mentions(format, "not configured") || Mentions(format, "not implemented")
            || Mentions(format, "an not handle") || Mentions(format, "annot handle"))
            return LoadFailure::Unsupported;
        if (Mentions(format, "Maximum single memory") || Mentions(format, "too large"))
            return LoadFailure::TooLarge;
        if (Mentions(format, "memory") || Mentions(format, "allocate"))
            return LoadFailure::OutOfMemory;
        return LoadFailure::Damaged;
    }

    // libtiff prints its messages on stderr unless a handler takes them; the programs print only
    // their own lines, and an error already is the load error.
    int OnError(TIFF *, void *seen, const char *, const char *format, va_list)
    {
        auto *messages = static_cast<TiffMessages *>(seen);
        if (messages->error == LoadFailure::None)
            messages->error = ReasonOfMessage(format);
        return 1;
    }

    // A tag whose data lies past the end of the file is dropped with only a warning, and libtiff
    // carries on: a palette file cut inside its colour map would be read as gray.
    int OnWarning(TIFF *, void *seen, const char *, const char *format, va_list)
    {
        if (std::strncmp(format, "IO error", 8) == 0)
            static_cast<TiffMessages *>(seen)->cut = true;
        return 1;
    }

    // libtiff's RGBA pixels are 0xAABBGGRR with the colour premultiplied by alpha.
    void ConvertRgbaRow(std::uint32_t *row, std::int32_t n)
    {
        for (std::int32_t x = 0; x < n; ++x) {
            const std::uint32_t p = row[x];
            row[x] = (p & 0xFF00FF00u) | ((p >> 16) & 0xFFu) | ((p & 0xFFu) << 16);
        }
    }

    // 0..1 to 0..max, rounded; NaN and what lies outside clipped.
    std::uint32_t Quantise(double value, double max)
    {
        if (!(value > 0))
            return 0;
        return value >= 1 ? static_cast<std::uint32_t>(max)
                          : static_cast<std::uint32_t>(std::floor(value * max + 0.5));
    }

    // Where the sample reader finds a band of rows: a strip, or a row of tiles, each piece as
    // libtiff decodes it.
    struct PieceGrid
    {
        bool tiled = false;
        std::uint32_t pieceWidth = 0;
        std::uint32_t pieceRows = 0;
        std::uint32_t across = 1;
        std::uint32_t planes = 1;
        std::size_t rowBytes = 0;
        std::size_t pieceBytes = 0;
    };

    class TiffImage final : public DecodedImage
    {
    public:
        ~TiffImage() override
        {
            if (tiff)
                TIFFClose(tiff);
        }

        explicit TiffImage(FilePtr source)
            : file(std::move(source))
        {
        }

        [[nodiscard]] LoadFailure ReadHeader();
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override;

        // CIELab pixels have no RGB numbers of their own to keep, so a raw draw converts them too.
        void SetColourOptions(ColourOptions options) override
        {
            if (colour.kind == ColourDescription::Kind::Lab)
                options.raw = false;
            DecodedImage::SetColourOptions(options);
        }

    private:
        void ReadColourDescription();
        [[nodiscard]] LoadFailure DrawThroughRgba(Raster &raster, QRgb background);
        [[nodiscard]] LoadFailure DrawSamples(Raster &raster, QRgb background);
        [[nodiscard]] std::optional<PieceGrid> GridOfPieces() const;
        [[nodiscard]] LoadFailure ReadBand(const PieceGrid &grid, std::uint32_t firstRow,
            std::vector<std::vector<std::uint8_t>> &pieces);
        void UnpackRow(const PieceGrid &grid, const std::vector<std::vector<std::uint8_t>> &pieces,
            std::uint32_t rowInBand, std::vector<double> &values) const;
        void WritePixels(const std::vector<double> &rgba, std::uint32_t *row, QRgb background);

        // The reason of a failed call: what libtiff's messages said, or `otherwise`.
        [[nodiscard]] LoadFailure Failure(LoadFailure otherwise) const
        {
            if (messages.cut)
                return LoadFailure::CutShort;
            return messages.error != LoadFailure::None ? messages.error : otherwise;
        }

        FilePtr file; // until libtiff has a descriptor of its own
        TIFF *tiff = nullptr;
        TiffMessages messages;
        // Set for pictures read from their samples.
        std::optional<tiff::SampleLayout> layout;
        std::vector<std::uint16_t> samples16;
    };

    // Group 3 one-dimensional fax data begins with an end-of-line code (eleven zero bits and a
    // one, maybe after fill bits) unless its writer left them all out; libtiff then loses every
    // row hunting for them. Such rows are the same codes as Modified Huffman's, which libtiff
    // reads without end-of-line codes when told the rows run on unaligned.
    void ReadFaxWithoutEndOfLines(TIFF *tiff)
    {
        std::uint16_t compression = COMPRESSION_NONE;
        std::uint32_t options = 0;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
        if (compression != COMPRESSION_CCITTFAX3 || TIFFNumberOfStrips(tiff) == 0
            || (TIFFGetField(tiff, TIFFTAG_GROUP3OPTIONS, &options)
                && (options & GROUP3OPT_2DENCODING)))
            return;
        unsigned char start[4] = {};
        if (TIFFReadRawStrip(tiff, 0, start, sizeof start) != static_cast<tmsize_t>(sizeof start))
            return;
        const std::uint32_t bits = (std::uint32_t { start[0] } << 24)
            | (std::uint32_t { start[1] } << 16) | (std::uint32_t { start[2] } << 8) | start[3];
        // No row's first code has more than seven leading zeros.
        if (bits == 0 || std::countl_zero(bits) >= 11)
            return;
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_CCITTRLE);
        const int aligned = (options & GROUP3OPT_FILLBITS) ? FAXMODE_BYTEALIGN : 0;
        TIFFSetField(tiff, TIFFTAG_FAXMODE, FAXMODE_NORTC | FAXMODE_NOEOL | aligned);
    }

    LoadFailure TiffImage::ReadHeader()
    {
        // libtiff reads through a descriptor of its own and closes it with the handle.
        const int fd = ::dup(fileno(file.get()));
        file.reset();
        if (fd < 0)
            return LoadFailure::OutOfMemory;
        const std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(
            TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
        if (!options) {
            ::close(fd);
            return LoadFailure::OutOfMemory;
        }
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, &messages);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &messages);
        // No single buffer of libtiff's needs more than a raster's worth of 16-bit RGBA.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxRasterPixels * 8);
        tiff = TIFFFdOpenExt(fd, "picture", "r", options.get());
        if (!tiff) {
            ::close(fd);
            return Failure(
                messages.error != LoadFailure::None ? messages.error : LoadFailure::Damaged);
        }
        std::uint32_t width = 0, height = 0;
        if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width)
            || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height))
            return Failure(LoadFailure::Damaged);
        if (!IsAllowedRasterSize(width, height))
            return SizeFailure(width, height);
        if (messages.cut)
            return LoadFailure::CutShort;
        ReadFaxWithoutEndOfLines(tiff);
        size = QSize(static_cast<int>(width), static_cast<int>(height));
        layout = tiff::SampleLayoutOf(tiff);
        if (!layout) {
            // Its message tells why, in the words OnError knows.
            char message[1024] = {};
            if (!TIFFRGBAImageOK(tiff, message))
                return ReasonOfMessage(message);
        }
        ReadColourDescription();
        return LoadFailure::None;
    }

    void TiffImage::ReadColourDescription()
    {
        if (layout
            && (layout->colours == tiff::SampleLayout::Colours::Lab
                || layout->colours == tiff::SampleLayout::Colours::IccLab)) {
            colour.kind = ColourDescription::Kind::Lab;
            return;
        }
        std::uint32_t profileBytes = 0;
        const void *profile = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileBytes, &profile) && profile
            && profileBytes > 0) {
            const auto *bytes = static_cast<const std::uint8_t *>(profile);
            colour.kind = ColourDescription::Kind::Icc;
            colour.icc.assign(bytes, bytes + profileBytes);
        }
    }

    LoadFailure TiffImage::DrawOver(Raster &raster, QRgb background)
    {
        if (raster.Size() != size)
            return LoadFailure::OutOfMemory;
        return layout ? DrawSamples(raster, background) : DrawThroughRgba(raster, background);
    }

    LoadFailure TiffImage::DrawThroughRgba(Raster &raster, QRgb background)
    {
        // libtiff writes the whole picture as one block of width x height pixels.
        if (raster.Stride() != size.width())
            return LoadFailure::OutOfMemory;
        auto *pixels = raster.Bits();
        if (!TIFFReadRGBAImageOriented(tiff, static_cast<std::uint32_t>(size.width()),
                static_cast<std::uint32_t>(size.height()), pixels, ORIENTATION_TOPLEFT, 1))
            return Failure(LoadFailure::Damaged);
        if (messages.cut)
            return LoadFailure::CutShort;
        for (int y = 0; y < size.height(); ++y) {
            std::uint32_t *row = pixels + static_cast<std::size_t>(y) * size.width();
            ConvertRgbaRow(row, size.width());
            if (ConvertsColours()) {
                // The conversion needs the colour itself, so the premultiplication is undone
                // first; opaque pixels are left as they are by that.
                UnpremultiplyRow(row, size.width());
                ConvertColours(row, size.width());
                ComposeRowOver(row, size.width(), background);
                continue;
            }
            // Opaque files come with alpha 0xFF, which the composition passes through.
            ComposePremultipliedRowOver(row, size.width(), background);
        }
        return LoadFailure::None;
    }

    std::optional<PieceGrid> TiffImage::GridOfPieces() const
    {
        PieceGrid grid;
        const auto width = static_cast<std::uint32_t>(size.width());
        const auto height = static_cast<std::uint32_t>(size.height());
        grid.tiled = TIFFIsTiled(tiff) != 0;
        std::uint64_t rowBytes = 0, pieceBytes = 0;
        if (grid.tiled) {
            if (!TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &grid.pieceWidth)
                || !TIFFGetField(tiff, TIFFTAG_TILELENGTH, &grid.pieceRows))
                return std::nullopt;
            rowBytes = TIFFTileRowSize64(tiff);
            pieceBytes = TIFFTileSize64(tiff);
        } else {
            grid.pieceWidth = width;
            TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &grid.pieceRows);
            grid.pieceRows = std::min(grid.pieceRows, height);
            rowBytes = TIFFScanlineSize64(tiff);
            pieceBytes = TIFFVStripSize64(tiff, grid.pieceRows);
        }
        if (grid.pieceWidth == 0 || grid.pieceRows == 0 || rowBytes == 0
            || pieceBytes < rowBytes * grid.pieceRows)
            return std::nullopt;
        grid.across = (width + grid.pieceWidth - 1) / grid.pieceWidth;
        grid.planes
            = layout->separatePlanes ? static_cast<std::uint32_t>(layout->samplesPerPixel) : 1;
        grid.rowBytes = static_cast<std::size_t>(rowBytes);
        grid.pieceBytes = static_cast<std::size_t>(pieceBytes);
        return grid;
    }

    LoadFailure TiffImage::ReadBand(const PieceGrid &grid, std::uint32_t firstRow,
        std::vector<std::vector<std::uint8_t>> &pieces)
    {
        const std::uint32_t rows
            = std::min(grid.pieceRows, static_cast<std::uint32_t>(size.height()) - firstRow);
        for (std::uint32_t plane = 0; plane < grid.planes; ++plane) {
            for (std::uint32_t across = 0; across < grid.across; ++across) {
                std::vector<std::uint8_t> &piece = pieces[plane * grid.across + across];
                piece.resize(grid.pieceBytes);
                const auto sample = static_cast<std::uint16_t>(plane);
                const tmsize_t read = grid.tiled
                    ? TIFFReadEncodedTile(tiff,
                        TIFFComputeTile(tiff, across * grid.pieceWidth, firstRow, 0, sample),
                        piece.data(), static_cast<tmsize_t>(piece.size()))
                    : TIFFReadEncodedStrip(tiff, TIFFComputeStrip(tiff, firstRow, sample),
                        piece.data(), static_cast<tmsize_t>(piece.size()));
                if (messages.cut)
                    return LoadFailure::CutShort;
                if (read < 0 || static_cast<std::size_t>(read) < grid.rowBytes * rows)
                    return Failure(LoadFailure::Damaged);
            }
        }
        return LoadFailure::None;
    }

    void TiffImage::UnpackRow(const PieceGrid &grid,
        const std::vector<std::vector<std::uint8_t>> &pieces, std::uint32_t rowInBand,
        std::vector<double> &values) const
    {
        const auto width = static_cast<std::uint32_t>(size.width());
        const auto samples = static_cast<std::size_t>(layout->samplesPerPixel);
        for (std::uint32_t plane = 0; plane < grid.planes; ++plane) {
            for (std::uint32_t across = 0; across < grid.across; ++across) {
                const std::uint32_t x0 = across * grid.pieceWidth;
                const std::size_t columns = std::min(grid.pieceWidth, width - x0);
                const std::uint8_t *bytes
                    = pieces[plane * grid.across + across].data() + grid.rowBytes * rowInBand;
                double *out = values.data() + x0 * samples;
                if (grid.planes > 1)
                    tiff::ExtractSamples(bytes, columns, *layout, out + plane, samples);
                else
                    tiff::ExtractSamples(bytes, columns * samples, *layout, out, 1);
            }
        }
    }

    void TiffImage::WritePixels(
        const std::vector<double> &rgba, std::uint32_t *row, QRgb background)
    {
        const int width = size.width();
        if (ConvertsColours()) {
            // Converted from their full precision, as 16-bit PNGs are.
            samples16.resize(rgba.size());
            for (std::size_t i = 0; i < rgba.size(); ++i)
                samples16[i] = static_cast<std::uint16_t>(Quantise(rgba[i], 65535));
            converter.ConvertRow16(samples16.data(), row, width);
        } else {
            for (int x = 0; x < width; ++x) {
                const double *p = rgba.data() + 4 * static_cast<std::ptrdiff_t>(x);
                row[x] = (Quantise(p[3], 255) << 24) | (Quantise(p[0], 255) << 16)
                    | (Quantise(p[1], 255) << 8) | Quantise(p[2], 255);
            }
        }
        ComposeRowOver(row, width, background);
    }

    LoadFailure TiffImage::DrawSamples(Raster &raster, QRgb background)
    {
        const std::optional<PieceGrid> grid = GridOfPieces();
        if (!grid)
            return Failure(LoadFailure::Damaged);
        if (!MemoryAllows(
                static_cast<std::int64_t>(grid->pieceBytes) * grid->across * grid->planes))
            return LoadFailure::OutOfMemory;
        std::uint16_t orientation = ORIENTATION_TOPLEFT;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
        const bool bottomUp
            = orientation == ORIENTATION_BOTLEFT || orientation == ORIENTATION_BOTRIGHT;
        const bool mirrored
            = orientation == ORIENTATION_TOPRIGHT || orientation == ORIENTATION_BOTRIGHT;
        const auto height = static_cast<std::uint32_t>(size.height());
        std::vector<std::vector<std::uint8_t>> pieces(grid->across * grid->planes);
        std::vector<double> values(
            static_cast<std::size_t>(size.width()) * layout->samplesPerPixel);
        std::vector<double> rgba(static_cast<std::size_t>(size.width()) * 4);
        for (std::uint32_t first = 0; first < height; first += grid->pieceRows) {
            if (const LoadFailure failure = ReadBand(*grid, first, pieces);
                failure != LoadFailure::None)
                return failure;
            for (std::uint32_t y = first; y < std::min(height, first + grid->pieceRows); ++y) {
                UnpackRow(*grid, pieces, y - first, values);
                tiff::MapPixels(*layout, values.data(), size.width(), rgba.data());
                std::uint32_t *row = raster.Row(static_cast<int>(bottomUp ? height - 1 - y : y));
                WritePixels(rgba, row, background);
                if (mirrored)
                    std::reverse(row, row + size.width());
            }
        }
        return LoadFailure::None;
    }

} // namespace

OpenedImage OpenTiff(FilePtr file) { return Open<TiffImage>(std::move(file)); }

} // namespace imaging
