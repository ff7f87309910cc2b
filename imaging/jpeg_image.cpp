// JPEG through libjpeg-turbo, decoded straight into the raster in its 32-bit layout.
#include "imaging/decoded_image.h"

#include "imaging/raster_memory.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace imaging {
namespace {

    // Progressive files with thousands of tiny scans decode for minutes; real ones have about ten.
    constexpr int kMaxScans = 500;
    // libjpeg's own working memory (whole-image coefficient buffers of progressive files).
    constexpr long kMaxDecoderMemory = static_cast<long>(kMaxRasterPixels * 8 + (16 << 20));

    struct JpegErrors : jpeg_error_mgr
    {
        std::jmp_buf jump;
        // Warnings that mean the pixels are not what the file should hold: libjpeg patches
        // truncated or corrupt data with grey and carries on.
        int damage = 0;
    };

    [[noreturn]] void OnError(j_common_ptr cinfo)
    {
        std::longjmp(static_cast<JpegErrors *>(cinfo->err)->jump, 1);
    }

    void OnMessage(j_common_ptr cinfo, int level)
    {
        if (level >= 0)
            return; // trace messages
        auto *errors = static_cast<JpegErrors *>(cinfo->err);
        ++errors->num_warnings;
        // An unknown JFIF revision says nothing about the pixels.
        if (errors->msg_code != JWRN_JFIF_MAJOR)
            ++errors->damage;
    }

    void OnProgress(j_common_ptr cinfo)
    {
        if (cinfo->is_decompressor
            && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
            cinfo->err->msg_code = JERR_NOTIMPL;
            cinfo->err->error_exit(cinfo);
        }
    }

    // (a * b) / 255 rounded, for 8-bit a and b.
    std::uint32_t Scale(std::uint32_t a, std::uint32_t b)
    {
        const std::uint32_t t = a * b + 128;
        return (t + (t >> 8)) >> 8;
    }

    class JpegImage final : public DecodedImage
    {
    public:
        explicit JpegImage(FilePtr source)
            : file(std::move(source))
        {
        }
        ~JpegImage() override { jpeg_destroy_decompress(&cinfo); }
        JpegImage(const JpegImage &) = delete;
        JpegImage &operator=(const JpegImage &) = delete;

        [[nodiscard]] bool ReadHeader();
        [[nodiscard]] bool DrawOver(QImage &raster, QRgb background) override;

    private:
        void ConvertCmykRow(const JSAMPLE *in, std::uint32_t *out) const;

        FilePtr file;
        // Everything libjpeg touches lives in members: locals would be indeterminate after its
        // error handler jumps back.
        jpeg_decompress_struct cinfo {};
        JpegErrors errors {};
        jpeg_progress_mgr progress {};
        bool cmyk = false;
        bool invertedCmyk = false;
        std::vector<JSAMPLE> cmykRow;
    };

    bool JpegImage::ReadHeader()
    {
        cinfo.err = jpeg_std_error(&errors);
        errors.error_exit = OnError;
        errors.emit_message = OnMessage;
        if (setjmp(errors.jump))
            return false;
        jpeg_create_decompress(&cinfo);
        cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
        progress.progress_monitor = OnProgress;
        cinfo.progress = &progress;
        jpeg_stdio_src(&cinfo, file.get());
        jpeg_read_header(&cinfo, TRUE);
        if (errors.damage != 0 || !IsAllowedRasterSize(cinfo.image_width, cinfo.image_height))
            return false;
        size = QSize(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height));
        cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        if (cmyk) {
            cinfo.out_color_space = JCS_CMYK;
            // Adobe's files, by far the most common CMYK JPEGs, store the inks inverted.
            invertedCmyk = cinfo.saw_Adobe_marker;
            cmykRow.resize(static_cast<std::size_t>(cinfo.image_width) * 4);
        } else {
            cinfo.out_color_space = JCS_EXT_BGRX;
        }
        return true;
    }

    void JpegImage::ConvertCmykRow(const JSAMPLE *in, std::uint32_t *out) const
    {
        for (int x = 0; x < size.width(); ++x, in += 4) {
            std::uint32_t c = in[0], m = in[1], y = in[2], k = in[3];
            if (!invertedCmyk) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            out[x] = 0xFF000000u | (Scale(c, k) << 16) | (Scale(m, k) << 8) | Scale(y, k);
        }
    }

    bool JpegImage::DrawOver(QImage &raster, QRgb)
    {
        if (raster.size() != size || raster.format() != QImage::Format_RGB32)
            return false;
        uchar *const bits = raster.bits();
        const qsizetype stride = raster.bytesPerLine();
        if (setjmp(errors.jump))
            return false;
        jpeg_start_decompress(&cinfo);
        if (static_cast<int>(cinfo.output_width) != size.width()
            || static_cast<int>(cinfo.output_height) != size.height()
            || cinfo.output_components != 4)
            return false;
        while (cinfo.output_scanline < cinfo.output_height) {
            const JDIMENSION y = cinfo.output_scanline;
            if (cmyk) {
                JSAMPROW row = cmykRow.data();
                if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
                    return false;
                ConvertCmykRow(row, reinterpret_cast<std::uint32_t *>(bits + y * stride));
                continue;
            }
            // Several rows a call let libjpeg-turbo write whole row groups in one go.
            JSAMPROW rows[16];
            const JDIMENSION n = std::min<JDIMENSION>(16, cinfo.output_height - y);
            for (JDIMENSION i = 0; i < n; ++i)
                rows[i] = bits + (y + i) * stride;
            if (jpeg_read_scanlines(&cinfo, rows, n) == 0)
                return false;
        }
        jpeg_finish_decompress(&cinfo);
        return errors.damage == 0;
    }

} // namespace

std::unique_ptr<DecodedImage> OpenJpeg(FilePtr file)
{
    auto image = std::make_unique<JpegImage>(std::move(file));
    if (!image->ReadHeader())
        return nullptr;
    return image;
}

} // namespace imaging
