// TIFF through libtiff's RGBA interface, which knows every photometric and bit depth: the first
// page is decoded straight into the raster and converted there in place.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/raster_memory.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <unistd.h>

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

    private:
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
    };

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
        // Its message tells why, in the words OnError knows.
        char message[1024] = {};
        if (!TIFFRGBAImageOK(tiff, message))
            return ReasonOfMessage(message);
        size = QSize(static_cast<int>(width), static_cast<int>(height));
        std::uint32_t profileBytes = 0;
        const void *profile = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileBytes, &profile) && profile
            && profileBytes > 0) {
            const auto *bytes = static_cast<const std::uint8_t *>(profile);
            colour.kind = ColourDescription::Kind::Icc;
            colour.icc.assign(bytes, bytes + profileBytes);
        }
        return LoadFailure::None;
    }

    LoadFailure TiffImage::DrawOver(Raster &raster, QRgb background)
    {
        // libtiff writes the whole picture as one block of width x height pixels.
        if (raster.Size() != size || raster.Stride() != size.width())
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

} // namespace

OpenedImage OpenTiff(FilePtr file) { return Open<TiffImage>(std::move(file)); }

} // namespace imaging
