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

    // libtiff prints its messages on stderr unless a handler takes them; the programs print only
    // their own lines, and an error already is the load error.
    int OnError(TIFF *, void *, const char *, const char *, va_list) { return 1; }

    // A tag whose data lies past the end of the file is dropped with only a warning, and libtiff
    // carries on: a palette file cut inside its colour map would be read as gray.
    int OnWarning(TIFF *, void *damaged, const char *, const char *format, va_list)
    {
        if (std::strncmp(format, "IO error", 8) == 0)
            *static_cast<bool *>(damaged) = true;
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

        [[nodiscard]] bool ReadHeader(FilePtr file);
        [[nodiscard]] bool DrawOver(Raster &raster, QRgb background) override;

    private:
        TIFF *tiff = nullptr;
        bool damaged = false;
    };

    bool TiffImage::ReadHeader(FilePtr file)
    {
        // libtiff reads through a descriptor of its own and closes it with the handle.
        const int fd = ::dup(fileno(file.get()));
        if (fd < 0)
            return false;
        const std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(
            TIFFOpenOptionsAlloc(), TIFFOpenOptionsFree);
        if (!options) {
            ::close(fd);
            return false;
        }
        TIFFOpenOptionsSetErrorHandlerExtR(options.get(), OnError, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options.get(), OnWarning, &damaged);
        // No single buffer of libtiff's needs more than a raster's worth of 16-bit RGBA.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxRasterPixels * 8);
        tiff = TIFFFdOpenExt(fd, "picture", "r", options.get());
        if (!tiff) {
            ::close(fd);
            return false;
        }
        std::uint32_t width = 0, height = 0;
        if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width)
            || !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height)
            || !IsAllowedRasterSize(width, height))
            return false;
        char message[1024] = {};
        if (damaged || !TIFFRGBAImageOK(tiff, message))
            return false;
        size = QSize(static_cast<int>(width), static_cast<int>(height));
        return true;
    }

    bool TiffImage::DrawOver(Raster &raster, QRgb background)
    {
        // libtiff writes the whole picture as one block of width x height pixels.
        if (raster.Size() != size || raster.Stride() != size.width())
            return false;
        auto *pixels = raster.Bits();
        if (!TIFFReadRGBAImageOriented(tiff, static_cast<std::uint32_t>(size.width()),
                static_cast<std::uint32_t>(size.height()), pixels, ORIENTATION_TOPLEFT, 1)
            || damaged)
            return false;
        for (int y = 0; y < size.height(); ++y) {
            std::uint32_t *row = pixels + static_cast<std::size_t>(y) * size.width();
            ConvertRgbaRow(row, size.width());
            // Opaque files come with alpha 0xFF, which the composition passes through.
            ComposePremultipliedRowOver(row, size.width(), background);
        }
        return true;
    }

} // namespace

std::unique_ptr<DecodedImage> OpenTiff(FilePtr file)
{
    auto image = std::make_unique<TiffImage>();
    if (!image->ReadHeader(std::move(file)))
        return nullptr;
    return image;
}

} // namespace imaging
