// AVIF through libavif: decoded by dav1d on every core and converted straight into the raster by
// libyuv. libheif reads AVIF too, but took three times as long on big pictures and got the
// colours of lossless files wrong.
#include "imaging/decoded_image.h"

#include "imaging/colour_transfer.h"
#include "imaging/compose.h"
#include "imaging/file_bytes.h"
#include "imaging/raster_memory.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <avif/avif.h>

namespace imaging {
namespace {

    struct AvifDeleter
    {
        void operator()(avifDecoder *decoder) const { avifDecoderDestroy(decoder); }
    };

    LoadFailure FailureOf(avifResult result)
    {
        switch (result) {
        case AVIF_RESULT_OK:
            return LoadFailure::None;
        case AVIF_RESULT_TRUNCATED_DATA:
        case AVIF_RESULT_NO_IMAGES_REMAINING:
            return LoadFailure::CutShort;
        case AVIF_RESULT_UNSUPPORTED_DEPTH:
        case AVIF_RESULT_NO_CODEC_AVAILABLE:
        case AVIF_RESULT_NOT_IMPLEMENTED:
            return LoadFailure::Unsupported;
        case AVIF_RESULT_OUT_OF_MEMORY:
            return LoadFailure::OutOfMemory;
        default:
            return LoadFailure::Damaged;
        }
    }

    // The ICC profile where there is one (the code points still decide libavif's YUV to RGB),
    // else the code points. libavif reports a file without a colr box, whose AV1 data says
    // nothing either, as "unspecified" (2) throughout: that is Unspecified here. Unspecified
    // primaries or transfer beside values that are given are sRGB's.
    ColourDescription DescriptionOf(const avifImage &image)
    {
        ColourDescription colour;
        if (image.icc.size > 0) {
            colour.kind = ColourDescription::Kind::Icc;
            colour.icc.assign(image.icc.data, image.icc.data + image.icc.size);
            return colour;
        }
        if (image.colorPrimaries == AVIF_COLOR_PRIMARIES_UNSPECIFIED
            && image.transferCharacteristics == AVIF_TRANSFER_CHARACTERISTICS_UNSPECIFIED
            && image.matrixCoefficients == AVIF_MATRIX_COEFFICIENTS_UNSPECIFIED)
            return colour;
        const int primaries = image.colorPrimaries, transfer = image.transferCharacteristics;
        colour.kind = ColourDescription::Kind::Cicp;
        colour.cicp.primaries = static_cast<std::uint8_t>(primaries == 2 ? 1 : primaries);
        colour.cicp.transfer = static_cast<std::uint8_t>(transfer == 2 ? 13 : transfer);
        colour.cicp.matrix = static_cast<std::uint8_t>(image.matrixCoefficients);
        colour.cicp.fullRange = image.yuvRange == AVIF_RANGE_FULL;
        return colour;
    }

    // The clean aperture's rectangle by the box's own rule: centred at (size - 1) / 2 plus the
    // offset, its width and height rounded down, a corner between two pixels rounded down too;
    // the whole picture where that leaves it.
    avifCropRect CropOfCleanAperture(
        const avifCleanApertureBox &clap, std::uint32_t width, std::uint32_t height)
    {
        const avifCropRect whole { 0, 0, width, height };
        const auto side = [](std::uint32_t n, std::uint32_t d) {
            return d == 0 ? 0.0 : std::floor(static_cast<double>(n) / d);
        };
        const auto offset = [](std::uint32_t n, std::uint32_t d) {
            return d == 0
                ? 0.0
                : static_cast<double>(static_cast<std::int32_t>(n)) / static_cast<std::int32_t>(d);
        };
        const double cropWidth = side(clap.widthN, clap.widthD);
        const double cropHeight = side(clap.heightN, clap.heightD);
        const double left
            = std::floor(offset(clap.horizOffN, clap.horizOffD) + (width - cropWidth) / 2);
        const double top
            = std::floor(offset(clap.vertOffN, clap.vertOffD) + (height - cropHeight) / 2);
        if (!(cropWidth >= 1 && cropHeight >= 1 && left >= 0 && top >= 0
                && left + cropWidth <= width && top + cropHeight <= height))
            return whole;
        return { static_cast<std::uint32_t>(left), static_cast<std::uint32_t>(top),
            static_cast<std::uint32_t>(cropWidth), static_cast<std::uint32_t>(cropHeight) };
    }

    // 16-bit R, G, B, A rounded to 8-bit 0xAARRGGBB.
    void RoundRow16(const std::uint16_t *rgba, std::uint32_t *out, int n)
    {
        const auto to8 = [](std::uint32_t v) { return (v * 255 + 32767) / 65535; };
        for (int x = 0; x < n; ++x, rgba += 4)
            out[x]
                = (to8(rgba[3]) << 24) | (to8(rgba[0]) << 16) | (to8(rgba[1]) << 8) | to8(rgba[2]);
    }

    // One stored sample of a plane, 8 bits or wider.
    std::uint32_t PlaneSample(const std::uint8_t *plane, std::uint32_t rowBytes, int depth,
        std::uint32_t x, std::uint32_t y)
    {
        const std::uint8_t *row = plane + static_cast<std::size_t>(rowBytes) * y;
        if (depth == 8)
            return row[x];
        std::uint16_t sample = 0;
        std::memcpy(&sample, row + 2 * static_cast<std::size_t>(x), 2);
        return sample;
    }

    // Y' 0..1 and Cb, Cr -0.5..0.5 of one pixel; chroma from the sample covering it.
    std::array<double, 3> NormalisedYuv(const avifImage &image, std::uint32_t x, std::uint32_t y)
    {
        const int depth = static_cast<int>(image.depth);
        const double top = (1u << depth) - 1, scale = (1u << depth) / 256.0, half = 128 * scale;
        const bool full = image.yuvRange == AVIF_RANGE_FULL;
        const double luma = PlaneSample(
            image.yuvPlanes[AVIF_CHAN_Y], image.yuvRowBytes[AVIF_CHAN_Y], depth, x, y);
        avifPixelFormatInfo format;
        avifGetPixelFormatInfo(image.yuvFormat, &format);
        double cb = half, cr = half;
        if (!format.monochrome && image.yuvPlanes[AVIF_CHAN_U] && image.yuvPlanes[AVIF_CHAN_V]) {
            const std::uint32_t cx = x >> format.chromaShiftX, cy = y >> format.chromaShiftY;
            cb = PlaneSample(
                image.yuvPlanes[AVIF_CHAN_U], image.yuvRowBytes[AVIF_CHAN_U], depth, cx, cy);
            cr = PlaneSample(
                image.yuvPlanes[AVIF_CHAN_V], image.yuvRowBytes[AVIF_CHAN_V], depth, cx, cy);
        }
        if (full)
            return { luma / top, (cb - half) / top, (cr - half) / top };
        return { (luma - 16 * scale) / (219 * scale), (cb - half) / (224 * scale),
            (cr - half) / (224 * scale) };
    }

    // 16-bit R, G, B, A of a picture coded with BT.2020's constant luminance, which libavif
    // does not convert.
    void ConstantLuminanceToRgba16(const avifImage &image, std::uint16_t *rgba)
    {
        const int depth = static_cast<int>(image.depth);
        const double alphaScale = 65535.0 / ((1u << depth) - 1);
        for (std::uint32_t y = 0; y < image.height; ++y) {
            for (std::uint32_t x = 0; x < image.width; ++x, rgba += 4) {
                const std::array<double, 3> yuv = NormalisedYuv(image, x, y);
                const colour::NonLinearRgb rgb
                    = colour::ConstantLuminanceToRgb(yuv[0], yuv[1], yuv[2]);
                rgba[0] = static_cast<std::uint16_t>(std::lround(rgb.r * 65535));
                rgba[1] = static_cast<std::uint16_t>(std::lround(rgb.g * 65535));
                rgba[2] = static_cast<std::uint16_t>(std::lround(rgb.b * 65535));
                rgba[3] = image.alphaPlane ? static_cast<std::uint16_t>(std::lround(
                              PlaneSample(image.alphaPlane, image.alphaRowBytes, depth, x, y)
                              * alphaScale))
                                           : 65535;
            }
        }
    }

    class AvifImage final : public DecodedImage
    {
    public:
        explicit AvifImage(FilePtr source)
            : file(std::move(source))
        {
        }

        [[nodiscard]] LoadFailure ReadHeader();
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override;

    private:
        [[nodiscard]] LoadFailure DecodeInto(Raster &raster, QRgb background);
        [[nodiscard]] LoadFailure DecodeDeepInto(Raster &raster, QRgb background);
        void CopyTransformed(const Raster &whole, Raster &raster) const;

        FilePtr file; // until its bytes are read
        // The decoder reads these bytes in place, so they outlive it.
        std::vector<unsigned char> bytes;
        std::unique_ptr<avifDecoder, AvifDeleter> decoder;
        // The file's own instructions for showing the picture, applied in this order: the crop
        // rectangle, the turn (quarter turns anticlockwise), the mirror (none, top-bottom or
        // left-right).
        bool transformed = false;
        QSize coded;
        avifCropRect crop {};
        int quarterTurns = 0;
        enum class Mirror { None, TopBottom, LeftRight } mirror = Mirror::None;
    };

    LoadFailure AvifImage::ReadHeader()
    {
        const LoadFailure read = ReadRemainingBytes(file.get(), bytes);
        file.reset();
        if (read != LoadFailure::None)
            return read;
        decoder.reset(avifDecoderCreate());
        if (!decoder)
            return LoadFailure::OutOfMemory;
        decoder->maxThreads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        decoder->imageSizeLimit = static_cast<std::uint32_t>(kMaxRasterPixels);
        decoder->imageDimensionLimit = kMaxRasterSide;
        // Files other readers open without complaint (a missing pixel information property,
        // say) open here too.
        decoder->strictFlags = AVIF_STRICT_DISABLED;
        decoder->ignoreExif = AVIF_TRUE;
        decoder->ignoreXMP = AVIF_TRUE;
        if (const LoadFailure failure
            = FailureOf(avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size()));
            failure != LoadFailure::None)
            return failure;
        if (const LoadFailure failure = FailureOf(avifDecoderParse(decoder.get()));
            failure != LoadFailure::None) {
            // Sizes past the decoder's limits fail the parse as bad data would; only the
            // diagnostic tells them apart ("... too large", "Exceeded ... limit").
            if (std::strstr(decoder->diag.error, "too large") != nullptr
                || std::strstr(decoder->diag.error, "limit") != nullptr)
                return LoadFailure::TooLarge;
            return failure;
        }
        const avifImage *image = decoder->image;
        if (!IsAllowedRasterSize(image->width, image->height))
            return SizeFailure(image->width, image->height);
        colour = DescriptionOf(*image);
        coded = QSize(static_cast<int>(image->width), static_cast<int>(image->height));
        crop = { 0, 0, image->width, image->height };
        // libavif refuses odd corners under 4:2:0, which the format's readers still crop at;
        // a rectangle outside the picture is left out: the whole picture is still one.
        if ((image->transformFlags & AVIF_TRANSFORM_CLAP)
            && !avifCropRectConvertCleanApertureBox(
                &crop, &image->clap, image->width, image->height, image->yuvFormat, &decoder->diag))
            crop = CropOfCleanAperture(image->clap, image->width, image->height);
        if (image->transformFlags & AVIF_TRANSFORM_IROT)
            quarterTurns = image->irot.angle & 3;
        if (image->transformFlags & AVIF_TRANSFORM_IMIR)
            mirror = image->imir.mode == 0 ? Mirror::TopBottom : Mirror::LeftRight;
        const int width = static_cast<int>(crop.width), height = static_cast<int>(crop.height);
        size = quarterTurns % 2 ? QSize(height, width) : QSize(width, height);
        transformed = size != coded || crop.x != 0 || crop.y != 0 || quarterTurns != 0
            || mirror != Mirror::None;
        if (!IsAllowedRasterSize(size.width(), size.height()))
            return SizeFailure(size.width(), size.height());
        return LoadFailure::None;
    }

    LoadFailure AvifImage::DrawOver(Raster &raster, QRgb background)
    {
        if (raster.Size() != size)
            return LoadFailure::OutOfMemory;
        if (const LoadFailure failure = FailureOf(avifDecoderNextImage(decoder.get()));
            failure != LoadFailure::None)
            return failure;
        if (!transformed)
            return DecodeInto(raster, background);
        // A turned or cropped picture is decoded whole first; such files are rare.
        Raster whole = AllocateRaster(coded);
        if (whole.IsNull())
            return LoadFailure::OutOfMemory;
        if (const LoadFailure failure = DecodeInto(whole, background); failure != LoadFailure::None)
            return failure;
        CopyTransformed(whole, raster);
        return LoadFailure::None;
    }

    LoadFailure AvifImage::DecodeInto(Raster &raster, QRgb background)
    {
        const avifImage *image = decoder->image;
        if (static_cast<int>(image->width) != raster.Width()
            || static_cast<int>(image->height) != raster.Height())
            return LoadFailure::Damaged;
        if ((ConvertsColours() && image->depth > 8)
            || image->matrixCoefficients == AVIF_MATRIX_COEFFICIENTS_BT2020_CL)
            return DecodeDeepInto(raster, background);
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, image);
        // B, G, R, A bytes at 8 bits are the raster's own layout; alpha comes out straight (not
        // premultiplied) whatever the file stores, and 255 when it has none.
        rgb.format = AVIF_RGB_FORMAT_BGRA;
        rgb.depth = 8;
        rgb.alphaPremultiplied = AVIF_FALSE;
        // libyuv brings 10 and 12 bits to 8 with up to 2.4 levels lost; libavif's own conversion
        // works from the full samples and rounds once.
        rgb.avoidLibYUV = image->depth > 8 ? AVIF_TRUE : AVIF_FALSE;
        rgb.pixels = reinterpret_cast<std::uint8_t *>(raster.Bits());
        rgb.rowBytes = static_cast<std::uint32_t>(raster.Stride() * 4);
        if (const LoadFailure failure = FailureOf(avifImageYUVToRGB(image, &rgb));
            failure != LoadFailure::None)
            return failure;
        for (int y = 0; ConvertsColours() && y < raster.Height(); ++y)
            ConvertColours(raster.Row(y), raster.Width());
        if (decoder->alphaPresent) {
            for (int y = 0; y < raster.Height(); ++y)
                ComposeRowOver(raster.Row(y), raster.Width(), background);
        }
        return LoadFailure::None;
    }

    LoadFailure AvifImage::DecodeDeepInto(Raster &raster, QRgb background)
    {
        // 10- and 12-bit samples go to the conversion whole: PQ and HLG pictures band at 8 bits.
        // libavif scales them to 16 bits and keeps the transfer as stored; constant luminance,
        // which it refuses, is worked out here at the same 16 bits.
        const avifImage *image = decoder->image;
        std::vector<std::uint16_t> samples;
        samples.resize(static_cast<std::size_t>(raster.Width()) * raster.Height() * 4);
        if (image->matrixCoefficients == AVIF_MATRIX_COEFFICIENTS_BT2020_CL) {
            ConstantLuminanceToRgba16(*image, samples.data());
        } else {
            avifRGBImage rgb;
            avifRGBImageSetDefaults(&rgb, image);
            rgb.format = AVIF_RGB_FORMAT_RGBA;
            rgb.depth = 16;
            rgb.alphaPremultiplied = AVIF_FALSE;
            rgb.pixels = reinterpret_cast<std::uint8_t *>(samples.data());
            rgb.rowBytes = static_cast<std::uint32_t>(raster.Width()) * 8;
            if (const LoadFailure failure = FailureOf(avifImageYUVToRGB(image, &rgb));
                failure != LoadFailure::None)
                return failure;
        }
        for (int y = 0; y < raster.Height(); ++y) {
            const std::uint16_t *row
                = samples.data() + static_cast<std::size_t>(y) * raster.Width() * 4;
            if (ConvertsColours())
                converter.ConvertRow16(row, raster.Row(y), raster.Width());
            else
                RoundRow16(row, raster.Row(y), raster.Width());
            if (decoder->alphaPresent)
                ComposeRowOver(raster.Row(y), raster.Width(), background);
        }
        return LoadFailure::None;
    }

    // Walks the shown picture and fetches each pixel from the decoded one: undoes the mirror,
    // then the turn, then adds the crop's corner.
    void AvifImage::CopyTransformed(const Raster &whole, Raster &raster) const
    {
        const int width = size.width(), height = size.height();
        const int cropWidth = static_cast<int>(crop.width);
        const int cropHeight = static_cast<int>(crop.height);
        for (int y = 0; y < height; ++y) {
            auto *out = raster.Row(y);
            for (int x = 0; x < width; ++x) {
                int tx = mirror == Mirror::LeftRight ? width - 1 - x : x;
                int ty = mirror == Mirror::TopBottom ? height - 1 - y : y;
                int cx = tx, cy = ty;
                switch (quarterTurns) {
                case 1:
                    cx = cropWidth - 1 - ty;
                    cy = tx;
                    break;
                case 2:
                    cx = cropWidth - 1 - tx;
                    cy = cropHeight - 1 - ty;
                    break;
                case 3:
                    cx = ty;
                    cy = cropHeight - 1 - tx;
                    break;
                default:
                    break;
                }
                out[x] = whole.Row(cy + static_cast<int>(crop.y))[cx + static_cast<int>(crop.x)];
            }
        }
    }

} // namespace

OpenedImage OpenAvif(FilePtr file) { return Open<AvifImage>(std::move(file)); }

} // namespace imaging
