// JPEG XL through libjxl: the first frame, composed into the raster by the decoder's row callback
// on all cores.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/file_bytes.h"
#include "imaging/raster_memory.h"

#include <cmath>
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

    // The converting draw's state: one converter per decoder thread, since a converter serves one
    // thread, and the 16-bit samples go to them whole.
    struct ConvertingTarget
    {
        Target target;
        const ColourDescription *colour = nullptr;
        bool hasAlpha = false;
        std::vector<ColourConverter> converters;
        std::uint64_t clipped = 0;
    };

    void *StartConverters(void *opaque, std::size_t threads, std::size_t)
    {
        auto *converting = static_cast<ConvertingTarget *>(opaque);
        converting->converters.clear();
        for (std::size_t i = 0; i < threads; ++i)
            converting->converters.push_back(ColourConverter::For(*converting->colour));
        return converting;
    }

    void ConvertPixels(void *opaque, std::size_t thread, std::size_t x, std::size_t y,
        std::size_t n, const void *pixels)
    {
        auto *converting = static_cast<ConvertingTarget *>(opaque);
        const Target &target = converting->target;
        std::uint32_t *row = target.bits + target.stride * static_cast<std::ptrdiff_t>(y)
            + static_cast<std::ptrdiff_t>(x);
        converting->converters[thread].ConvertRow16(
            static_cast<const std::uint16_t *>(pixels), row, static_cast<int>(n));
        if (converting->hasAlpha)
            ComposeRowOver(row, static_cast<int>(n), target.background);
    }

    void StopConverters(void *opaque)
    {
        auto *converting = static_cast<ConvertingTarget *>(opaque);
        for (const ColourConverter &converter : converting->converters)
            converting->clipped += converter.ClippedPixels();
        converting->converters.clear();
    }

    // The code points of an exact colour encoding, where H.273 has them: JPEG XL's transfer
    // numbers are H.273's, its primaries nearly so. False for custom primaries or white points,
    // other gammas, XYB and unknown spaces.
    bool CicpOfEncoding(const JxlColorEncoding &encoding, Cicp &cicp)
    {
        if (encoding.color_space != JXL_COLOR_SPACE_RGB
            && encoding.color_space != JXL_COLOR_SPACE_GRAY)
            return false;
        cicp = {};
        if (encoding.color_space == JXL_COLOR_SPACE_GRAY) {
            if (encoding.white_point != JXL_WHITE_POINT_D65)
                return false;
            cicp.primaries = 1; // grey has no primaries; only the white and the curve count
        } else if (encoding.primaries == JXL_PRIMARIES_SRGB
            && encoding.white_point == JXL_WHITE_POINT_D65) {
            cicp.primaries = 1;
        } else if (encoding.primaries == JXL_PRIMARIES_2100
            && encoding.white_point == JXL_WHITE_POINT_D65) {
            cicp.primaries = 9;
        } else if (encoding.primaries == JXL_PRIMARIES_P3
            && encoding.white_point == JXL_WHITE_POINT_D65) {
            cicp.primaries = 12; // Display P3
        } else if (encoding.primaries == JXL_PRIMARIES_P3
            && encoding.white_point == JXL_WHITE_POINT_DCI) {
            cicp.primaries = 11; // DCI-P3
        } else {
            return false;
        }
        switch (encoding.transfer_function) {
        case JXL_TRANSFER_FUNCTION_709:
        case JXL_TRANSFER_FUNCTION_LINEAR:
        case JXL_TRANSFER_FUNCTION_SRGB:
        case JXL_TRANSFER_FUNCTION_PQ:
        case JXL_TRANSFER_FUNCTION_DCI:
        case JXL_TRANSFER_FUNCTION_HLG:
            cicp.transfer = static_cast<std::uint8_t>(encoding.transfer_function);
            return true;
        case JXL_TRANSFER_FUNCTION_GAMMA:
            // The encoding exponent: 1/2.2 is H.273's 4, 1/2.8 its 5, 1 is linear.
            if (std::abs(encoding.gamma - 1 / 2.2) < 1e-4)
                cicp.transfer = 4;
            else if (std::abs(encoding.gamma - 1 / 2.8) < 1e-4)
                cicp.transfer = 5;
            else if (std::abs(encoding.gamma - 1) < 1e-6)
                cicp.transfer = 8;
            else
                return false;
            return true;
        default:
            return false;
        }
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
        // Where the decoder stopped before the colour encoding: DrawOver's answer, without
        // going on.
        LoadFailure headerFailure = LoadFailure::None;

        void ReadColourEncoding();
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
            || JxlDecoderSubscribeEvents(
                   decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE)
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
        // A file that ends or breaks before its colour encoding opens as before and fails as
        // before when drawn.
        if (const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
            status != JXL_DEC_COLOR_ENCODING) {
            headerFailure = FailureOf(status);
            colour.damaged = true;
            return LoadFailure::None;
        }
        ReadColourEncoding();
        return LoadFailure::None;
    }

    // The colours of the pixels the decoder hands out (the data target): for files stored as
    // they came, the original's; for XYB files, what libjxl converts them to. The exact encoding
    // where H.273 names it, else the ICC profile (the file's own, or libjxl's rendering of its
    // encoding).
    void JxlImage::ReadColourEncoding()
    {
        JxlColorEncoding encoding {};
        if (JxlDecoderGetColorAsEncodedProfile(
                decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &encoding)
                == JXL_DEC_SUCCESS
            && CicpOfEncoding(encoding, colour.cicp)) {
            colour.kind = ColourDescription::Kind::Cicp;
            return;
        }
        colour.cicp = {};
        std::size_t length = 0;
        if (JxlDecoderGetICCProfileSize(
                decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &length)
                != JXL_DEC_SUCCESS
            || length == 0) {
            colour.damaged = true;
            return;
        }
        colour.icc.resize(length);
        if (JxlDecoderGetColorAsICCProfile(decoder.get(), nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                colour.icc.data(), colour.icc.size())
            != JXL_DEC_SUCCESS) {
            colour.icc.clear();
            colour.damaged = true;
            return;
        }
        colour.kind = ColourDescription::Kind::Icc;
    }

    LoadFailure JxlImage::DrawOver(Raster &raster, QRgb background)
    {
        if (raster.Size() != size)
            return LoadFailure::OutOfMemory;
        if (headerFailure != LoadFailure::None)
            return headerFailure;
        Target target { raster.Bits(), raster.Stride(), background };
        const JxlPixelFormat format { hasAlpha ? 4u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0 };
        // Converted pictures are asked for 16 bits, so the conversion (and libjxl's own rendering
        // of XYB files, linear where no exact encoding fits) keeps its precision; alpha comes
        // out opaque for pictures without it.
        ConvertingTarget converting { target, &colour, hasAlpha, {}, 0 };
        const JxlPixelFormat deepFormat { 4u, JXL_TYPE_UINT16, JXL_NATIVE_ENDIAN, 0 };
        for (;;) {
            switch (const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                // Rows arrive from several threads at once, each its own span of pixels.
                if (ConvertsColours()) {
                    if (JxlDecoderSetMultithreadedImageOutCallback(decoder.get(), &deepFormat,
                            StartConverters, ConvertPixels, StopConverters, &converting)
                        != JXL_DEC_SUCCESS)
                        return LoadFailure::Unsupported;
                } else if (JxlDecoderSetImageOutCallback(decoder.get(), &format,
                               hasAlpha ? ComposePixels : WriteOpaquePixels, &target)
                    != JXL_DEC_SUCCESS) {
                    return LoadFailure::Unsupported;
                }
                break;
            case JXL_DEC_FULL_IMAGE:
                // The first frame (with later ones merged into it by the decoder when they are
                // only parts of one picture) is all that is drawn.
                otherClippedPixels += converting.clipped;
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
