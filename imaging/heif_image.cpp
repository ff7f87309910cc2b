// HEIC/HEIF through libheif: the primary image, decoded to 8-bit RGB(A) by the library and
// composed into the raster row by row.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/file_bytes.h"
#include "imaging/raster_memory.h"

#include <algorithm>
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

    LoadFailure FailureOf(const heif_error &error)
    {
        switch (error.code) {
        case heif_error_Ok:
            return LoadFailure::None;
        case heif_error_Memory_allocation_error:
            return LoadFailure::OutOfMemory;
        case heif_error_Unsupported_filetype:
        case heif_error_Unsupported_feature:
            return LoadFailure::Unsupported;
        default:
            break;
        }
        if (error.subcode == heif_suberror_End_of_data)
            return LoadFailure::CutShort;
        if (error.subcode == heif_suberror_Security_limit_exceeded)
            return LoadFailure::TooLarge;
        return LoadFailure::Damaged;
    }

    std::uint64_t ReadBe(const unsigned char *bytes, int n)
    {
        std::uint64_t value = 0;
        for (int i = 0; i < n; ++i)
            value = (value << 8) | bytes[i];
        return value;
    }

    // Whether the file's top-level boxes reach past its end. libheif calls a cut file invalid
    // data like any other damage; the box sizes tell the two apart.
    // The boxes inside [begin, end) of bytes, each handed to visit(type, body, end) until it
    // returns true; whether one did.
    template <class Visit>
    bool ForEachBox(const std::vector<unsigned char> &bytes, std::size_t begin, std::size_t end,
        const Visit &visit)
    {
        std::size_t at = begin;
        while (at + 8 <= end) {
            const std::uint64_t size = ReadBe(bytes.data() + at, 4);
            if (size < 8 || size > end - at)
                return false; // large and to-the-end boxes never hold what is looked for here
            const auto boxEnd = static_cast<std::size_t>(at + size);
            if (visit(bytes.data() + at + 4, at + 8, boxEnd))
                return true;
            at = boxEnd;
        }
        return false;
    }

    // Whether the meta box's iref says the item is coded predictively ('pred') from another:
    // libheif 1.15 decodes such an item alone, which gives a flat grey frame.
    bool IsPredicted(const std::vector<unsigned char> &bytes, std::uint32_t item)
    {
        const auto is = [](const unsigned char *type, const char *name) {
            return std::memcmp(type, name, 4) == 0;
        };
        const auto inIref = [&](std::size_t body, std::size_t end) {
            const bool wide = bytes[body] != 0; // version 1: 32-bit item numbers
            const int idBytes = wide ? 4 : 2;
            return ForEachBox(bytes, body + 4, end,
                [&](const unsigned char *type, std::size_t refBody, std::size_t refEnd) {
                    return is(type, "pred") && refBody + idBytes <= refEnd
                        && ReadBe(bytes.data() + refBody, idBytes) == item;
                });
        };
        const auto inMeta = [&](std::size_t body, std::size_t end) {
            return ForEachBox(bytes, body + 4, end,
                [&](const unsigned char *type, std::size_t childBody, std::size_t childEnd) {
                    return is(type, "iref") && childBody + 4 <= childEnd
                        && inIref(childBody, childEnd);
                });
        };
        return ForEachBox(bytes, 0, bytes.size(),
            [&](const unsigned char *type, std::size_t body, std::size_t end) {
                return is(type, "meta") && body + 4 <= end && inMeta(body, end);
            });
    }

    bool BoxesRunPastTheEnd(const std::vector<unsigned char> &bytes)
    {
        std::uint64_t at = 0;
        while (at + 8 <= bytes.size()) {
            std::uint64_t size = ReadBe(bytes.data() + at, 4);
            if (size == 1) {
                if (at + 16 > bytes.size())
                    return true;
                size = ReadBe(bytes.data() + at + 8, 8);
            } else if (size == 0) {
                return false; // the last box, up to the end
            }
            if (size < 8)
                return false; // damaged rather than cut
            if (size > bytes.size() - at)
                return true;
            at += size;
        }
        return at < bytes.size(); // a box header cut in two
    }

    // Code points as the file gives them, with "unspecified" (2) primaries and transfer read as
    // sRGB's, as a file without any says nothing but sRGB.
    Cicp CicpOf(int primaries, int transfer, int matrix, bool fullRange)
    {
        constexpr int kUnspecified = 2;
        return { static_cast<std::uint8_t>(primaries == kUnspecified ? 1 : primaries),
            static_cast<std::uint8_t>(transfer == kUnspecified ? 13 : transfer),
            static_cast<std::uint8_t>(matrix), fullRange };
    }

    class HeifImage final : public DecodedImage
    {
    public:
        explicit HeifImage(FilePtr source)
            : file(std::move(source))
        {
        }

        [[nodiscard]] LoadFailure ReadHeader();
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override;

    private:
        [[nodiscard]] LoadFailure DrawDeepRows(const std::uint8_t *plane, int stride, int bits,
            bool premultiplied, Raster &raster, QRgb background);
        void ReadColourProfile();

        // FailureOf, with damage at the end of a file that was cut told as such.
        [[nodiscard]] LoadFailure Failure(const heif_error &error) const
        {
            const LoadFailure failure = FailureOf(error);
            return failure == LoadFailure::Damaged && BoxesRunPastTheEnd(bytes)
                ? LoadFailure::CutShort
                : failure;
        }

        FilePtr file; // until its bytes are read
        // The context reads from these bytes without a copy, so they outlive it: members are
        // destroyed in reverse order.
        std::vector<unsigned char> bytes;
        HeifPtr<heif_context> context;
        HeifPtr<heif_image_handle> primary;
        bool hasAlpha = false;
    };

    LoadFailure HeifImage::ReadHeader()
    {
        const LoadFailure read = ReadRemainingBytes(file.get(), bytes);
        file.reset();
        if (read != LoadFailure::None)
            return read;
        context.reset(heif_context_alloc());
        if (!context)
            return LoadFailure::OutOfMemory;
        heif_context_set_maximum_image_size_limit(context.get(), kMaxRasterSide);
        if (const LoadFailure failure = Failure(heif_context_read_from_memory_without_copy(
                context.get(), bytes.data(), bytes.size(), nullptr));
            failure != LoadFailure::None)
            return failure;
        heif_image_handle *handle = nullptr;
        if (const LoadFailure failure
            = Failure(heif_context_get_primary_image_handle(context.get(), &handle));
            failure != LoadFailure::None)
            return failure;
        primary.reset(handle);
        // Decoding it without its reference would average a frame that was never the picture.
        heif_item_id primaryId = 0;
        if (heif_context_get_primary_image_ID(context.get(), &primaryId).code == heif_error_Ok
            && IsPredicted(bytes, primaryId))
            return LoadFailure::Unsupported;
        // The handle's size is the displayed one, after the file's rotation and cropping.
        const int width = heif_image_handle_get_width(primary.get());
        const int height = heif_image_handle_get_height(primary.get());
        if (!IsAllowedRasterSize(width, height))
            return SizeFailure(width, height);
        size = QSize(width, height);
        hasAlpha = heif_image_handle_has_alpha_channel(primary.get()) != 0;
        ReadColourProfile();
        return LoadFailure::None;
    }

    // The primary image's colr box. libheif names the ICC profile when the file has both an ICC
    // and code points; the code points still steer its own YUV to RGB conversion.
    void HeifImage::ReadColourProfile()
    {
        const heif_color_profile_type type
            = heif_image_handle_get_color_profile_type(primary.get());
        if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
            const std::size_t length = heif_image_handle_get_raw_color_profile_size(primary.get());
            colour.icc.resize(length);
            if (length == 0
                || heif_image_handle_get_raw_color_profile(primary.get(), colour.icc.data()).code
                    != heif_error_Ok) {
                colour.icc.clear();
                colour.damaged = true;
                return;
            }
            colour.kind = ColourDescription::Kind::Icc;
        } else if (type == heif_color_profile_type_nclx) {
            heif_color_profile_nclx *nclx = nullptr;
            if (heif_image_handle_get_nclx_color_profile(primary.get(), &nclx).code != heif_error_Ok
                || !nclx) {
                colour.damaged = true;
                return;
            }
            colour.kind = ColourDescription::Kind::Cicp;
            colour.cicp = CicpOf(nclx->color_primaries, nclx->transfer_characteristics,
                nclx->matrix_coefficients, nclx->full_range_flag != 0);
            heif_nclx_color_profile_free(nclx);
        }
    }

    LoadFailure HeifImage::DrawOver(Raster &raster, QRgb background)
    {
        if (raster.Size() != size)
            return LoadFailure::OutOfMemory;
        HeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
        if (!options)
            return LoadFailure::OutOfMemory;
        // 10- and 12-bit samples are taken whole: libheif's own cut to 8 bits drops the low bits
        // instead of rounding, and a conversion wants the full precision anyway.
        const bool deep = heif_image_handle_get_luma_bits_per_pixel(primary.get()) > 8;
        options->convert_hdr_to_8bit = deep ? 0 : 1;
        const heif_chroma chroma = deep
            ? (hasAlpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
            : (hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
        heif_image *decoded = nullptr;
        if (const LoadFailure failure = Failure(heif_decode_image(
                primary.get(), &decoded, heif_colorspace_RGB, chroma, options.get()));
            failure != LoadFailure::None)
            return failure;
        const HeifPtr<heif_image> image(decoded);
        int stride = 0;
        const std::uint8_t *plane
            = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
        const int bits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
        if (!plane || heif_image_get_width(image.get(), heif_channel_interleaved) != size.width()
            || heif_image_get_height(image.get(), heif_channel_interleaved) != size.height()
            || (deep ? bits <= 8 || bits > 16 : bits != 8))
            return LoadFailure::Unsupported;
        const bool premultiplied = hasAlpha && heif_image_is_premultiplied_alpha(image.get());
        if (deep)
            return DrawDeepRows(plane, stride, bits, premultiplied, raster, background);
        const int width = size.width();
        for (int y = 0; y < size.height(); ++y) {
            const std::uint8_t *in = plane + static_cast<std::ptrdiff_t>(stride) * y;
            auto *out = raster.Row(y);
            if (!hasAlpha) {
                ConvertRgbRow(in, out, width);
                ConvertColours(out, width);
            } else if (!ConvertsColours() && !premultiplied) {
                ComposeRgbaRow(in, out, width, background);
            } else {
                for (int x = 0; x < width; ++x, in += 4)
                    out[x] = qRgba(in[0], in[1], in[2], in[3]);
                if (!ConvertsColours()) {
                    ComposePremultipliedRowOver(out, width, background);
                    continue;
                }
                // The conversion needs the colour itself; the straight pixels compose as usual.
                if (premultiplied)
                    UnpremultiplyRow(out, width);
                ConvertColours(out, width);
                ComposeRowOver(out, width, background);
            }
        }
        return LoadFailure::None;
    }

    LoadFailure HeifImage::DrawDeepRows(const std::uint8_t *plane, int stride, int bits,
        bool premultiplied, Raster &raster, QRgb background)
    {
        const int width = size.width();
        const int channels = hasAlpha ? 4 : 3;
        const std::uint32_t top = (1u << bits) - 1;
        std::vector<std::uint16_t> samples(static_cast<std::size_t>(width) * 4);
        for (int y = 0; y < size.height(); ++y) {
            const std::uint8_t *in = plane + static_cast<std::ptrdiff_t>(stride) * y;
            for (int x = 0; x < width; ++x) {
                std::uint32_t c[4] = { 0, 0, 0, top };
                for (int i = 0; i < channels; ++i, in += 2)
                    c[i] = std::min<std::uint32_t>(in[0] | (std::uint32_t { in[1] } << 8), top);
                for (int i = 0; i < 3 && premultiplied && c[3] != 0; ++i)
                    c[i] = (std::min(c[3], c[i]) * top + c[3] / 2) / c[3];
                // Straight to 8 bits, rounded once, unless the samples are converted.
                const std::uint32_t scale = ConvertsColours() ? 65535 : 255;
                for (int i = 0; i < 4; ++i)
                    samples[static_cast<std::size_t>(x) * 4 + i]
                        = static_cast<std::uint16_t>((c[i] * scale + top / 2) / top);
            }
            if (ConvertsColours()) {
                converter.ConvertRow16(samples.data(), raster.Row(y), width);
            } else {
                std::uint32_t *out = raster.Row(y);
                for (int x = 0; x < width; ++x) {
                    const std::uint16_t *p = samples.data() + static_cast<std::size_t>(x) * 4;
                    out[x] = (std::uint32_t { p[3] } << 24) | (std::uint32_t { p[0] } << 16)
                        | (std::uint32_t { p[1] } << 8) | p[2];
                }
            }
            if (hasAlpha)
                ComposeRowOver(raster.Row(y), width, background);
        }
        return LoadFailure::None;
    }

} // namespace

OpenedImage OpenHeif(FilePtr file) { return Open<HeifImage>(std::move(file)); }

} // namespace imaging
