// JPEG through libjpeg-turbo, decoded up to 16 rows at a time straight into the sink's space in
// its 32-bit layout.
#include "imaging/decoded_image.h"
#include "imaging/parallel_conversion.h"

#include "imaging/raster_memory.h"

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

#include <jpeglib.h>

// After jpeglib.h: jerror.h lists some messages only when jconfig.h's settings are known.
#include <jerror.h>

namespace imaging {
namespace {

    // Real encoders write at most a few dozen scans; a hostile progressive file can declare a huge
    // picture and then hundreds of tiny scans, each of which walks every block of the picture.
    constexpr int kMaxScans = 200;
    // libjpeg's own working memory (whole-image coefficient buffers of progressive files).
    constexpr long kMaxDecoderMemory = static_cast<long>(kMaxRasterPixels * 8 + (16 << 20));

    // The warnings after which the pixels are not what the file should hold: libjpeg patches
    // missing or corrupt data (with grey, or with the coefficients it has) and carries on. Every
    // other warning is about markers or metadata and leaves the picture intact; the commonest,
    // a few junk bytes between two markers, comes from many cameras and editors.
    struct FatalWarning
    {
        int code;
        LoadFailure failure; // what the file's data lacks
    };
    constexpr FatalWarning kFatalWarnings[] = {
        // The file ends before the picture does.
        { JWRN_JPEG_EOF, LoadFailure::CutShort },
        // A marker cut the entropy-coded data short.
        { JWRN_HIT_MARKER, LoadFailure::Damaged },
        { JWRN_HUFF_BAD_CODE, LoadFailure::Damaged },
        { JWRN_ARITH_BAD_CODE, LoadFailure::Damaged },
        // A restart marker is missing, so data was skipped.
        { JWRN_MUST_RESYNC, LoadFailure::Damaged },
        // Progressive scans refine coefficients never sent.
        { JWRN_BOGUS_PROGRESSION, LoadFailure::Damaged },
    };

    LoadFailure FatalWarningFailure(int code)
    {
        const auto *found = std::find_if(std::begin(kFatalWarnings), std::end(kFatalWarnings),
            [code](const FatalWarning &warning) { return warning.code == code; });
        return found != std::end(kFatalWarnings) ? found->failure : LoadFailure::None;
    }

    // libjpeg's errors by what they say about the file.
    LoadFailure ErrorFailure(int code)
    {
        switch (code) {
        case JERR_INPUT_EOF:
        case JERR_INPUT_EMPTY:
        case JERR_NO_IMAGE:
            return LoadFailure::CutShort;
        case JERR_OUT_OF_MEMORY:
            return LoadFailure::OutOfMemory;
        case JERR_IMAGE_TOO_BIG:
        case JERR_WIDTH_OVERFLOW:
            return LoadFailure::TooLarge;
        case JERR_NOTIMPL:
        case JERR_NOT_COMPILED:
        case JERR_ARITH_NOTIMPL:
        case JERR_CONVERSION_NOTIMPL:
        case JERR_BAD_PRECISION:
        case JERR_CCIR601_NOTIMPL:
        case JERR_SOF_UNSUPPORTED:
            return LoadFailure::Unsupported;
        default:
            return LoadFailure::Damaged;
        }
    }

    struct JpegErrors : jpeg_error_mgr
    {
        std::jmp_buf jump;
        // The reason of the first fatal warning, or of the error that jumped back.
        LoadFailure failure = LoadFailure::None;
    };

    [[noreturn]] void OnError(j_common_ptr cinfo)
    {
        auto *errors = static_cast<JpegErrors *>(cinfo->err);
        // A fake end of image after the file's end comes first, and the error after it (no
        // image, say) is its consequence.
        if (errors->failure == LoadFailure::None)
            errors->failure = ErrorFailure(errors->msg_code);
        std::longjmp(errors->jump, 1);
    }

    void OnMessage(j_common_ptr cinfo, int level)
    {
        if (level >= 0)
            return; // trace messages
        auto *errors = static_cast<JpegErrors *>(cinfo->err);
        ++errors->num_warnings;
        if (errors->failure == LoadFailure::None)
            errors->failure = FatalWarningFailure(errors->msg_code);
    }

    void OnProgress(j_common_ptr cinfo)
    {
        if (cinfo->is_decompressor
            && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
            static_cast<JpegErrors *>(cinfo->err)->failure = LoadFailure::TooLarge;
            cinfo->err->msg_code = JERR_NOTIMPL;
            cinfo->err->error_exit(cinfo);
        }
    }

    // Reads a stream in big chunks for the marker walk below.
    class ChunkReader
    {
    public:
        explicit ChunkReader(std::FILE *source)
            : file(source)
        {
        }

        // The next byte, or -1 at the end of the file.
        int Next()
        {
            if (at == end && !Refill())
                return -1;
            return buffer[at++];
        }

        // Skips to the next 0xFF byte and past it; false at the end of the file.
        bool SkipPastFF()
        {
            for (;;) {
                const auto *found = static_cast<const unsigned char *>(
                    std::memchr(buffer.data() + at, 0xFF, end - at));
                if (found) {
                    at = static_cast<std::size_t>(found - buffer.data()) + 1;
                    return true;
                }
                if (!Refill())
                    return false;
            }
        }

        bool Skip(long count)
        {
            const auto buffered = static_cast<long>(end - at);
            if (count <= buffered) {
                at += static_cast<std::size_t>(count);
                return true;
            }
            at = end;
            return std::fseek(file, count - buffered, SEEK_CUR) == 0;
        }

    private:
        bool Refill()
        {
            at = 0;
            end = std::fread(buffer.data(), 1, buffer.size(), file);
            return end > 0;
        }

        std::FILE *file;
        std::array<unsigned char, 64 * 1024> buffer {};
        std::size_t at = 0;
        std::size_t end = 0;
    };

    // Whether the file holds at most kMaxScans scans. Walks the markers without decoding, so a
    // file with too many is refused before libjpeg spends any time on it; a sequential file is
    // settled at its frame header. Damage is left for libjpeg to find.
    bool ScanCountWithinLimit(std::FILE *file)
    {
        ChunkReader reader(file);
        int scans = 0;
        while (reader.SkipPastFF()) {
            int marker = reader.Next();
            while (marker == 0xFF) // fill bytes
                marker = reader.Next();
            if (marker < 0 || marker == 0xD9) // end of file or of image
                break;
            // Stuffed zeros and restart markers inside entropy-coded data, and the start of image.
            if (marker == 0x00 || (marker >= 0xD0 && marker <= 0xD8) || marker == 0x01)
                continue;
            const int high = reader.Next();
            const int low = reader.Next();
            if (low < 0)
                break;
            const long length = (high << 8) | low;
            if (length < 2 || !reader.Skip(length - 2))
                break;
            const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8
                && marker != 0xCC;
            // SOF2, SOF6, SOF10 and SOF14 are the progressive frames.
            if (frame && (marker & 0x03) != 0x02)
                return true;
            if (marker == 0xDA && ++scans > kMaxScans)
                return false;
        }
        return true;
    }

    // An ICC profile's APP2 segments: "ICC_PROFILE\0", the segment's number (from 1), the count.
    constexpr unsigned char kIccTag[] = "ICC_PROFILE";
    constexpr std::size_t kIccHeader = sizeof(kIccTag) + 2;

    // The profile split over the saved APP2 markers, joined in the order of their numbers
    // whatever order they come in. Unspecified without one; damaged where a number is missing,
    // repeated or out of range, or the segments disagree on their count.
    ColourDescription ReadIccSegments(const jpeg_decompress_struct &cinfo)
    {
        ColourDescription colour;
        std::vector<const jpeg_marker_struct *> segments;
        int count = 0;
        for (const jpeg_marker_struct *marker = cinfo.marker_list; marker; marker = marker->next) {
            if (marker->marker != JPEG_APP0 + 2 || marker->data_length < kIccHeader
                || std::memcmp(marker->data, kIccTag, sizeof(kIccTag)) != 0)
                continue;
            const int number = marker->data[sizeof(kIccTag)];
            const int total = marker->data[sizeof(kIccTag) + 1];
            if (segments.empty()) {
                count = total;
                segments.assign(static_cast<std::size_t>(count), nullptr);
            }
            if (total != count || number < 1 || number > count || segments[number - 1]) {
                colour.damaged = true;
                return colour;
            }
            segments[number - 1] = marker;
        }
        if (segments.empty())
            return colour;
        for (const jpeg_marker_struct *segment : segments) {
            if (!segment) {
                colour.damaged = true;
                colour.icc.clear();
                return colour;
            }
            colour.icc.insert(
                colour.icc.end(), segment->data + kIccHeader, segment->data + segment->data_length);
        }
        if (colour.icc.empty()) {
            colour.damaged = true;
            return colour;
        }
        colour.kind = ColourDescription::Kind::Icc;
        return colour;
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

        [[nodiscard]] LoadFailure ReadHeader();
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override
        {
            return DrawOverThroughRows(raster, background);
        }
        [[nodiscard]] LoadFailure DrawRows(analysis::RowSink &sink, QRgb background) override;
        // The rows to sink, converted here when convert is set.
        [[nodiscard]] LoadFailure DecodeRows(analysis::RowSink &sink, bool convert);

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

    LoadFailure JpegImage::ReadHeader()
    {
        if (!ScanCountWithinLimit(file.get()))
            return LoadFailure::TooLarge;
        if (std::fseek(file.get(), 0, SEEK_SET) != 0)
            return LoadFailure::ReadError;
        cinfo.err = jpeg_std_error(&errors);
        errors.error_exit = OnError;
        errors.emit_message = OnMessage;
        if (setjmp(errors.jump))
            return errors.failure;
        jpeg_create_decompress(&cinfo);
        cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
        progress.progress_monitor = OnProgress;
        cinfo.progress = &progress;
        jpeg_stdio_src(&cinfo, file.get());
        jpeg_save_markers(&cinfo, JPEG_APP0 + 2, 0xFFFF);
        jpeg_read_header(&cinfo, TRUE);
        if (errors.failure != LoadFailure::None)
            return errors.failure;
        if (!IsAllowedStreamSize(cinfo.image_width, cinfo.image_height))
            return SizeFailure(cinfo.image_width, cinfo.image_height);
        // A progressive file is held whole as coefficients before its first row is final, so it
        // keeps the raster's limit.
        if (jpeg_has_multiple_scans(&cinfo)
            && !IsAllowedRasterSize(cinfo.image_width, cinfo.image_height))
            return LoadFailure::TooLarge;
        size = QSize(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height));
        colour = ReadIccSegments(cinfo);
        cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        if (cmyk) {
            cinfo.out_color_space = JCS_CMYK;
            // Adobe's files, by far the most common CMYK JPEGs, store the inks inverted.
            invertedCmyk = cinfo.saw_Adobe_marker;
            cmykRow.resize(static_cast<std::size_t>(cinfo.image_width) * 4);
        } else {
            cinfo.out_color_space = JCS_EXT_BGRX;
        }
        return LoadFailure::None;
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

    LoadFailure JpegImage::DrawRows(analysis::RowSink &sink, QRgb)
    {
        if (!ConvertsColours()
            || !ConvertsInParallel(std::int64_t { size.width() } * size.height()))
            return DecodeRows(sink, true);
        ParallelConversion parallel(
            sink, [this](std::uint32_t *row, std::int32_t n) { ConvertColours(row, n); });
        const LoadFailure failure = DecodeRows(parallel, false);
        const bool delivered = parallel.Finish();
        if (failure != LoadFailure::None)
            return failure;
        return delivered ? LoadFailure::None : LoadFailure::OutOfMemory;
    }

    LoadFailure JpegImage::DecodeRows(analysis::RowSink &sink, bool convert)
    {
        if (!sink.Start(size.width(), size.height()))
            return kSinkRefused;
        if (setjmp(errors.jump))
            return errors.failure;
        jpeg_start_decompress(&cinfo);
        if (static_cast<int>(cinfo.output_width) != size.width()
            || static_cast<int>(cinfo.output_height) != size.height()
            || cinfo.output_components != 4)
            return LoadFailure::Unsupported;
        while (cinfo.output_scanline < cinfo.output_height) {
            const auto y = static_cast<std::int32_t>(cinfo.output_scanline);
            // Several rows a call let libjpeg-turbo write whole row groups in one go.
            const std::int32_t n = cmyk ? 1 : std::min<std::int32_t>(16, size.height() - y);
            std::ptrdiff_t stride = 0;
            std::uint32_t *space = sink.RowSpace(y, n, stride);
            if (!space)
                return LoadFailure::OutOfMemory;
            JDIMENSION done = 0;
            if (cmyk) {
                JSAMPROW row = cmykRow.data();
                done = jpeg_read_scanlines(&cinfo, &row, 1);
                if (done == 1)
                    ConvertCmykRow(row, space);
            } else {
                JSAMPROW rows[16];
                for (std::int32_t i = 0; i < n; ++i)
                    rows[i] = reinterpret_cast<JSAMPROW>(space + i * stride);
                // A call may give fewer rows than asked (one row group); the sink gets all it
                // asked space for at once, which keeps a converting thread's hand-overs few.
                while (done < static_cast<JDIMENSION>(n) && errors.failure == LoadFailure::None) {
                    const JDIMENSION got = jpeg_read_scanlines(
                        &cinfo, rows + done, static_cast<JDIMENSION>(n) - done);
                    if (got == 0)
                        break;
                    done += got;
                }
            }
            // libjpeg-turbo fills the X byte with 0xFF, so the rows are opaque pixels already.
            for (JDIMENSION i = 0; convert && ConvertsColours() && i < done; ++i)
                ConvertColours(space + static_cast<std::ptrdiff_t>(i) * stride, size.width());
            if (done == 0)
                return LoadFailure::CutShort; // only a suspending source gives no rows
            sink.RowsDone(y, static_cast<std::int32_t>(done));
            // Damage is final: a file cut short would otherwise be decoded to its declared end
            // in grey, which for a hostile header is billions of pixels.
            if (errors.failure != LoadFailure::None)
                return errors.failure;
        }
        jpeg_finish_decompress(&cinfo);
        return errors.failure;
    }

} // namespace

OpenedImage OpenJpeg(FilePtr file) { return Open<JpegImage>(std::move(file)); }

} // namespace imaging
