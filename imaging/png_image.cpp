// PNG through libpng, decoded row by row into the raster and composed there.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/raster_memory.h"

#include <csetjmp>
#include <cstdint>
#include <vector>

#include <png.h>

namespace imaging {
namespace {

    [[noreturn]] void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

    // libpng's warnings are about metadata (colour profiles, text chunks); damage to the image
    // data is an error of its own.
    void OnWarning(png_structp, png_const_charp) { }

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

        [[nodiscard]] bool ReadHeader();
        [[nodiscard]] bool DrawOver(QImage &raster, QRgb background) override;

    private:
        FilePtr file;
        // State libpng's error jump may skip over lives in members, never in locals.
        png_structp png = nullptr;
        png_infop info = nullptr;
        bool hasAlpha = false;
        int passes = 1;
        // 3 or 4 for 8-bit RGB or RGBA files read as they are, 0 for libpng's transforms.
        int plainChannels = 0;
        std::vector<png_byte> plainRow;
    };

    bool PngImage::ReadHeader()
    {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
        if (!png)
            return false;
        info = png_create_info_struct(png);
        if (!info)
            return false;
        if (setjmp(png_jmpbuf(png)))
            return false;
        png_init_io(png, file.get());
        png_set_user_limits(png, kMaxRasterSide, kMaxRasterSide);
        png_read_info(png, info);

        png_uint_32 width = 0, height = 0;
        int bitDepth = 0, colourType = 0, interlace = 0;
        png_get_IHDR(
            png, info, &width, &height, &bitDepth, &colourType, &interlace, nullptr, nullptr);
        if (!IsAllowedRasterSize(width, height))
            return false;
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
            return png_get_rowbytes(png, info) == plainRow.size();
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
        return png_get_rowbytes(png, info) == static_cast<png_size_t>(width) * 4;
    }

    bool PngImage::DrawOver(QImage &raster, QRgb background)
    {
        if (raster.size() != size || raster.format() != QImage::Format_RGB32)
            return false;
        uchar *const bits = raster.bits();
        const qsizetype stride = raster.bytesPerLine();
        const int width = size.width();
        const int height = size.height();
        if (setjmp(png_jmpbuf(png)))
            return false;
        for (int y = 0; plainChannels != 0 && y < height; ++y) {
            auto *row = reinterpret_cast<std::uint32_t *>(bits + y * stride);
            png_read_row(png, plainRow.data(), nullptr);
            if (plainChannels == 3)
                ConvertRgbRow(plainRow.data(), row, width);
            else
                ComposeRgbaRow(plainRow.data(), row, width, background);
        }
        for (int pass = 0; plainChannels == 0 && pass < passes; ++pass) {
            for (int y = 0; y < height; ++y) {
                uchar *row = bits + y * stride;
                png_read_row(png, row, nullptr);
                // Rows of an interlaced file are final only after the last pass.
                if (hasAlpha && passes == 1)
                    ComposeRowOver(reinterpret_cast<std::uint32_t *>(row), width, background);
            }
        }
        if (plainChannels == 0 && hasAlpha && passes > 1) {
            for (int y = 0; y < height; ++y)
                ComposeRowOver(
                    reinterpret_cast<std::uint32_t *>(bits + y * stride), width, background);
        }
        // Reads up to IEND, so a file cut short after its image data is caught too.
        png_read_end(png, nullptr);
        return true;
    }

} // namespace

std::unique_ptr<DecodedImage> OpenPng(FilePtr file)
{
    auto image = std::make_unique<PngImage>(std::move(file));
    if (!image->ReadHeader())
        return nullptr;
    return image;
}

} // namespace imaging
