// JPEG XL through libjxl: the first frame, composed into the raster by the decoder's row callback
// on all cores.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/file_bytes.h"
#include "imaging/raster_memory.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

namespace imaging {
namespace {

    struct JxlDeleter
    {
        void operator()(JxlDecoder *decoder) const { JxlDecoderDestroy(decoder); }
    };

    struct RunnerDeleter
    {
        void operator()(void *runner) const { JxlThreadParallelRunnerDestroy(runner); }
    };

    // Where the callback writes: the raster and the colour under translucent pixels.
    struct Target
    {
        std::uint32_t *bits = nullptr;
        std::ptrdiff_t stride = 0; // pixels
        QRgb background = 0;
    };

    void WriteOpaquePixels(
        void *opaque, std::size_t x, std::size_t y, std::size_t n, const void *pixels)
    {
        const auto *target = static_cast<const Target *>(opaque);
        std::uint32_t *row = target->bits + target->stride * static_cast<std::ptrdiff_t>(y)
            + static_cast<std::ptrdiff_t>(x);
        ConvertRgbRow(static_cast<const std::uint8_t *>(pixels), row, static_cast<int>(n));
    }

    void ComposePixels(
        void *opaque, std::size_t x, std::size_t y, std::size_t n, const void *pixels)
    {
        const auto *target = static_cast<const Target *>(opaque);
        std::uint32_t *row = target->bits + target->stride * static_cast<std::ptrdiff_t>(y)
            + static_cast<std::ptrdiff_t>(x);
        ComposeRgbaRow(static_cast<const std::uint8_t *>(pixels), row, static_cast<int>(n),
            target->background);
    }

    class JxlImage final : public DecodedImage
    {
    public:
        explicit JxlImage(FilePtr source)
            : file(std::move(source))
        {
        }

        [[nodiscard]] LoadFailure ReadHeader();
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override;

    private:
        FilePtr file; // until its bytes are read
        // The decoder reads these bytes in place and runs its work on the runner's threads, so
        // both outlive it: members are destroyed in reverse order.
        std::vector<unsigned char> bytes;
        std::unique_ptr<void, RunnerDeleter> runner;
        std::unique_ptr<JxlDecoder, JxlDeleter> decoder;
        bool hasAlpha = false;
    };

    // The input is left open: libjxl prints a line on stderr when a closed input turns out short,
    // and asks for more input instead when it is not closed. With the whole file given, a request
    // for more is the sign of a cut file; an error is all it says of anything else.
    LoadFailure FailureOf(JxlDecoderStatus status)
    {
        return status == JXL_DEC_NEED_MORE_INPUT ? LoadFailure::CutShort : LoadFailure::Damaged;
    }

    LoadFailure JxlImage::ReadHeader()
    {
        const LoadFailure read = ReadRemainingBytes(file.get(), bytes);
        file.reset();
        if (read != LoadFailure::None)
            return read;
        runner.reset(JxlThreadParallelRunnerCreate(
            nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
        decoder.reset(JxlDecoderCreate(nullptr));
        if (!runner || !decoder)
            return LoadFailure::OutOfMemory;
        if (JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get())
                != JXL_DEC_SUCCESS
            || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE)
                != JXL_DEC_SUCCESS
            || JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS
            || JxlDecoderSetInput(decoder.get(), bytes.data(), bytes.size()) != JXL_DEC_SUCCESS)
            return LoadFailure::Unsupported; // a libjxl that lacks what is asked of it
        JxlBasicInfo info {};
        if (const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
            status != JXL_DEC_BASIC_INFO)
            return FailureOf(status);
        if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
            return LoadFailure::Damaged;
        // The sizes are those before the file's orientation, which the decoder applies; the last
        // four orientations turn the picture on its side.
        const bool sideways = info.orientation >= JXL_ORIENT_TRANSPOSE;
        const std::uint32_t width = sideways ? info.ysize : info.xsize;
        const std::uint32_t height = sideways ? info.xsize : info.ysize;
        if (!IsAllowedRasterSize(width, height))
            return SizeFailure(width, height);
        size = QSize(static_cast<int>(width), static_cast<int>(height));
        hasAlpha = info.alpha_bits > 0;
        return LoadFailure::None;
    }

    LoadFailure JxlImage::DrawOver(Raster &raster, QRgb background)
    {
        if (raster.Size() != size)
            return LoadFailure::OutOfMemory;
        Target target { raster.Bits(), raster.Stride(), background };
        const JxlPixelFormat format { hasAlpha ? 4u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0 };
        for (;;) {
            switch (const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                // Rows arrive from several threads at once, each its own span of pixels.
                if (JxlDecoderSetImageOutCallback(decoder.get(), &format,
                        hasAlpha ? ComposePixels : WriteOpaquePixels, &target)
                    != JXL_DEC_SUCCESS)
                    return LoadFailure::Unsupported;
                break;
            case JXL_DEC_FULL_IMAGE:
                // The first frame (with later ones merged into it by the decoder when they are
                // only parts of one picture) is all that is drawn.
                return LoadFailure::None;
            default:
                // An error, or more input wanted after the whole file was given: damaged or cut.
                return FailureOf(status);
            }
        }
    }

} // namespace

OpenedImage OpenJxl(FilePtr file) { return Open<JxlImage>(std::move(file)); }

} // namespace imaging
