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

    LoadFailure FailureOf(VP8StatusCode status)
    {
        switch (status) {
        case VP8_STATUS_OK:
            return LoadFailure::None;
        case VP8_STATUS_OUT_OF_MEMORY:
            return LoadFailure::OutOfMemory;
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            return LoadFailure::Unsupported;
        case VP8_STATUS_NOT_ENOUGH_DATA:
            return LoadFailure::CutShort;
        default:
            return LoadFailure::Damaged;
        }
    }

    class WebpImage final : public DecodedImage
    {
    public:
        explicit WebpImage(FilePtr source)
            : file(std::move(source))
        {
        }

        [[nodiscard]] LoadFailure ReadHeader();
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override;

    private:
        [[nodiscard]] LoadFailure DrawStill(Raster &raster, QRgb background);
        [[nodiscard]] LoadFailure DrawFirstFrame(Raster &raster, QRgb background);
        [[nodiscard]] LoadFailure AnimationFailure() const;
        void ReadProfile();

        FilePtr file; // until its bytes are read
        std::vector<unsigned char> bytes;
        WebPBitstreamFeatures features {};
    };

    LoadFailure WebpImage::ReadHeader()
    {
        const LoadFailure read = ReadRemainingBytes(file.get(), bytes);
        file.reset();
        if (read != LoadFailure::None)
            return read;
        if (const LoadFailure failure
            = FailureOf(WebPGetFeatures(bytes.data(), bytes.size(), &features));
            failure != LoadFailure::None)
            return failure;
        if (!IsAllowedRasterSize(features.width, features.height))
            return SizeFailure(features.width, features.height);
        size = QSize(features.width, features.height);
        ReadProfile();
        return LoadFailure::None;
    }

    // The ICCP chunk of an extended file. A container the demuxer cannot walk is left for the
    // decoder to judge; a file whose header promises a profile it does not hold is damaged.
    void WebpImage::ReadProfile()
    {
        const WebPData data { bytes.data(), bytes.size() };
        WebPDemuxer *demux = WebPDemux(&data);
        if (!demux)
            return;
        WebPChunkIterator chunk {};
        const bool promised = (WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) != 0;
        if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
            if (chunk.chunk.size > 0) {
                colour.kind = ColourDescription::Kind::Icc;
                colour.icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
            } else {
                colour.damaged = true;
            }
            WebPDemuxReleaseChunkIterator(&chunk);
        } else if (promised) {
            colour.damaged = true;
        }
        WebPDemuxDelete(demux);
    }

    LoadFailure WebpImage::DrawOver(Raster &raster, QRgb background)
    {
        if (raster.Size() != size)
            return LoadFailure::OutOfMemory;
        return features.has_animation ? DrawFirstFrame(raster, background)
                                      : DrawStill(raster, background);
    }

    LoadFailure WebpImage::DrawStill(Raster &raster, QRgb background)
    {
        WebPDecoderConfig config;
        if (!WebPInitDecoderConfig(&config))
            return LoadFailure::Unsupported; // a libwebp of another version
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
            return FailureOf(status);
        for (int y = 0; ConvertsColours() && y < size.height(); ++y)
            ConvertColours(raster.Row(y), size.width());
        if (features.has_alpha) {
            for (int y = 0; y < size.height(); ++y)
                ComposeRowOver(raster.Row(y), size.width(), background);
        }
        return LoadFailure::None;
    }

    // Frames may cover part of the canvas and blend with earlier ones; libwebp's animation decoder
    // builds the first whole canvas, which is then composed row by row.
    LoadFailure WebpImage::DrawFirstFrame(Raster &raster, QRgb background)
    {
        WebPAnimDecoderOptions options;
        if (!WebPAnimDecoderOptionsInit(&options))
            return LoadFailure::Unsupported;
        options.color_mode = MODE_RGBA;
        const WebPData data { bytes.data(), bytes.size() };
        WebPAnimDecoder *decoder = WebPAnimDecoderNew(&data, &options);
        if (!decoder)
            return AnimationFailure();
        WebPAnimInfo info {};
        std::uint8_t *canvas = nullptr;
        int timestamp = 0;
        const bool ok = WebPAnimDecoderGetInfo(decoder, &info)
            && static_cast<int>(info.canvas_width) == size.width()
            && static_cast<int>(info.canvas_height) == size.height()
            && WebPAnimDecoderGetNext(decoder, &canvas, &timestamp) && canvas;
        if (ok) {
            const std::size_t rowBytes = static_cast<std::size_t>(size.width()) * 4;
            for (int y = 0; y < size.height(); ++y) {
                const std::uint8_t *in = canvas + rowBytes * static_cast<std::size_t>(y);
                if (!ConvertsColours()) {
                    ComposeRgbaRow(in, raster.Row(y), size.width(), background);
                    continue;
                }
                UnpackRgbaRow(in, raster.Row(y), size.width());
                ConvertColours(raster.Row(y), size.width());
                ComposeRowOver(raster.Row(y), size.width(), background);
            }
        }
        WebPAnimDecoderDelete(decoder);
        return ok ? LoadFailure::None : AnimationFailure();
    }

    // The animation decoder says no more than no; a file shorter than its RIFF header says was cut.
    LoadFailure WebpImage::AnimationFailure() const
    {
        if (bytes.size() < 8)
            return LoadFailure::CutShort;
        const std::uint64_t riffSize = std::uint64_t { bytes[4] }
            | (std::uint64_t { bytes[5] } << 8) | (std::uint64_t { bytes[6] } << 16)
            | (std::uint64_t { bytes[7] } << 24);
        return bytes.size() < riffSize + 8 ? LoadFailure::CutShort : LoadFailure::Damaged;
    }

} // namespace

OpenedImage OpenWebp(FilePtr file) { return Open<WebpImage>(std::move(file)); }

} // namespace imaging
