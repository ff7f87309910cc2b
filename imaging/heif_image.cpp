// HEIC/HEIF through libheif: the primary image, decoded to 8-bit RGB(A) by the library and
// composed into the raster row by row.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/file_bytes.h"
#include "imaging/raster_memory.h"

#include <cstdint>
#include <memory>
#include <vector>

#include <libheif/heif.h>

namespace imaging {
namespace {

    struct HeifDeleter
    {
        void operator()(heif_context *context) const { heif_context_free(context); }
        void operator()(heif_image_handle *handle) const { heif_image_handle_release(handle); }
        void operator()(heif_image *image) const { heif_image_release(image); }
        void operator()(heif_decoding_options *options) const
        {
            heif_decoding_options_free(options);
        }
    };
    template <class T> using HeifPtr = std::unique_ptr<T, HeifDeleter>;

    class HeifImage final : public DecodedImage
    {
    public:
        [[nodiscard]] bool ReadHeader(std::FILE *file);
        [[nodiscard]] bool DrawOver(Raster &raster, QRgb background) override;

    private:
        // The context reads from these bytes without a copy, so they outlive it: members are
        // destroyed in reverse order.
        std::vector<unsigned char> bytes;
        HeifPtr<heif_context> context;
        HeifPtr<heif_image_handle> primary;
        bool hasAlpha = false;
    };

    bool HeifImage::ReadHeader(std::FILE *file)
    {
        if (!ReadRemainingBytes(file, bytes))
            return false;
        context.reset(heif_context_alloc());
        if (!context)
            return false;
        heif_context_set_maximum_image_size_limit(context.get(), kMaxRasterSide);
        if (heif_context_read_from_memory_without_copy(
                context.get(), bytes.data(), bytes.size(), nullptr)
                .code
            != heif_error_Ok)
            return false;
        heif_image_handle *handle = nullptr;
        if (heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok)
            return false;
        primary.reset(handle);
        // The handle's size is the displayed one, after the file's rotation and cropping.
        const int width = heif_image_handle_get_width(primary.get());
        const int height = heif_image_handle_get_height(primary.get());
        if (!IsAllowedRasterSize(width, height))
            return false;
        size = QSize(width, height);
        hasAlpha = heif_image_handle_has_alpha_channel(primary.get()) != 0;
        return true;
    }

    bool HeifImage::DrawOver(Raster &raster, QRgb background)
    {
        if (raster.Size() != size)
            return false;
        HeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
        if (!options)
            return false;
        // 10- and 12-bit files come out as 8 bits like every other source of the raster.
        options->convert_hdr_to_8bit = 1;
        heif_image *decoded = nullptr;
        if (heif_decode_image(primary.get(), &decoded, heif_colorspace_RGB,
                hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                options.get())
                .code
            != heif_error_Ok)
            return false;
        const HeifPtr<heif_image> image(decoded);
        int stride = 0;
        const std::uint8_t *plane
            = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
        if (!plane || heif_image_get_width(image.get(), heif_channel_interleaved) != size.width()
            || heif_image_get_height(image.get(), heif_channel_interleaved) != size.height()
            || heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
            return false;
        const bool premultiplied = hasAlpha && heif_image_is_premultiplied_alpha(image.get());
        const int width = size.width();
        for (int y = 0; y < size.height(); ++y) {
            const std::uint8_t *in = plane + static_cast<std::ptrdiff_t>(stride) * y;
            auto *out = raster.Row(y);
            if (!hasAlpha) {
                ConvertRgbRow(in, out, width);
            } else if (!premultiplied) {
                ComposeRgbaRow(in, out, width, background);
            } else {
                for (int x = 0; x < width; ++x, in += 4)
                    out[x] = qRgba(in[0], in[1], in[2], in[3]);
                ComposePremultipliedRowOver(out, width, background);
            }
        }
        return true;
    }

} // namespace

std::unique_ptr<DecodedImage> OpenHeif(FilePtr file)
{
    auto image = std::make_unique<HeifImage>();
    if (!image->ReadHeader(file.get()))
        return nullptr;
    return image;
}

} // namespace imaging
