// WebP through libwebp: stills decoded straight into the raster, animations by their first frame.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/file_bytes.h"
#include "imaging/raster_memory.h"

#include <cstdint>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

namespace imaging {
namespace {

    class WebpImage final : public DecodedImage
    {
    public:
        [[nodiscard]] bool ReadHeader(std::FILE *file);
        [[nodiscard]] bool DrawOver(Raster &raster, QRgb background) override;

    private:
        [[nodiscard]] bool DrawStill(Raster &raster, QRgb background);
        [[nodiscard]] bool DrawFirstFrame(Raster &raster, QRgb background);

        std::vector<unsigned char> bytes;
        WebPBitstreamFeatures features {};
    };

    bool WebpImage::ReadHeader(std::FILE *file)
    {
        if (!ReadRemainingBytes(file, bytes)
            || WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK
            || !IsAllowedRasterSize(features.width, features.height))
            return false;
        size = QSize(features.width, features.height);
        return true;
    }

    bool WebpImage::DrawOver(Raster &raster, QRgb background)
    {
        if (raster.Size() != size)
            return false;
        return features.has_animation ? DrawFirstFrame(raster, background)
                                      : DrawStill(raster, background);
    }

    bool WebpImage::DrawStill(Raster &raster, QRgb background)
    {
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config))
            return false;
        // B, G, R, A bytes are the raster's own layout, so libwebp writes the final rows itself
        // and only translucent files need a second pass.
        config.output.colorspace = MODE_BGRA;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = reinterpret_cast<std::uint8_t *>(raster.Bits());
        config.output.u.RGBA.stride = static_cast<int>(raster.Stride() * 4);
        config.output.u.RGBA.size = raster.ByteCount();
        const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
        WebPFreeDecBuffer(&config.output);
        if (status != VP8_STATUS_OK)
            return false;
        if (features.has_alpha) {
            for (int y = 0; y < size.height(); ++y)
                ComposeRowOver(raster.Row(y), size.width(), background);
        }
        return true;
    }

    // Frames may cover part of the canvas and blend with earlier ones; libwebp's animation decoder
    // builds the first whole canvas, which is then composed row by row.
    bool WebpImage::DrawFirstFrame(Raster &raster, QRgb background)
    {
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options))
            return false;
        options.color_mode = MODE_RGBA;
        const WebPData data { bytes.data(), bytes.size() };
        WebPAnimDecoder *decoder = WebPAnimDecoderNew(&data, &options);
        if (!decoder)
            return false;
        WebPAnimInfo info {};
        std::uint8_t *canvas = nullptr;
        int timestamp = 0;
        const bool ok = WebPAnimDecoderGetInfo(decoder, &info)
            && static_cast<int>(info.canvas_width) == size.width()
            && static_cast<int>(info.canvas_height) == size.height()
            && WebPAnimDecoderGetNext(decoder, &canvas, &timestamp) && canvas;
        if (ok) {
            const std::size_t rowBytes = static_cast<std::size_t>(size.width()) * 4;
            for (int y = 0; y < size.height(); ++y)
                ComposeRgbaRow(canvas + rowBytes * static_cast<std::size_t>(y), raster.Row(y),
                    size.width(), background);
        }
        WebPAnimDecoderDelete(decoder);
        return ok;
    }

} // namespace

std::unique_ptr<DecodedImage> OpenWebp(FilePtr file)
{
    auto image = std::make_unique<WebpImage>();
    if (!image->ReadHeader(file.get()))
        return nullptr;
    return image;
}

} // namespace imaging
