// GIF through giflib: the first image of the file over its logical screen, decoded line by line
// straight into the sink's space; interlaced frames are held whole, as their lines come in four
// passes.
#include "imaging/decoded_image.h"

#include "imaging/raster_memory.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include <gif_lib.h>

namespace imaging {
namespace {

    // giflib reads through this rather than its own FILE*, which it would close on us.
    int ReadFromFile(GifFileType *gif, GifByteType *bytes, int n)
    {
        if (n <= 0)
            return 0;
        return static_cast<int>(std::fread(
            bytes, 1, static_cast<std::size_t>(n), static_cast<std::FILE *>(gif->UserData)));
    }

    struct GifCloser
    {
        void operator()(GifFileType *gif) const { DGifCloseFile(gif, nullptr); }
    };

    // giflib's error codes (gif_lib.h) as reasons.
    LoadFailure FailureOf(int error)
    {
        switch (error) {
        case D_GIF_ERR_READ_FAILED:
        case D_GIF_ERR_EOF_TOO_SOON:
            return LoadFailure::CutShort;
        case D_GIF_ERR_NOT_ENOUGH_MEM:
            return LoadFailure::OutOfMemory;
        default:
            return LoadFailure::Damaged;
        }
    }

    // The image data of a frame whose LZW minimum code size is 9 to 11, which giflib refuses and
    // other decoders read: its sub-blocks from the stream, decoded whole.
    class WideLzw
    {
    public:
        WideLzw(std::FILE *source, int minCodeSize)
            : file(source)
            , clearCode(1 << minCodeSize)
            , firstWidth(minCodeSize + 1)
        {
        }

        // count indices into out; None, or why the data ended too soon or makes no sense.
        [[nodiscard]] LoadFailure Decode(std::vector<std::uint16_t> &out, std::size_t count);

    private:
        // The next code of width bits, least significant first; -1 where the data ends.
        int NextCode(int width);
        // Appends the string of code (code < next) to out; returns its first index.
        std::uint16_t Emit(int code, std::vector<std::uint16_t> &out);

        std::FILE *file;
        const int clearCode;
        const int firstWidth;
        int blockLeft = 0;
        bool ended = false;
        std::uint32_t bits = 0;
        int bitCount = 0;
        std::array<std::uint16_t, 4096> prefix {};
        std::array<std::uint16_t, 4096> suffix {};
        std::vector<std::uint16_t> reversed;
    };

    int WideLzw::NextCode(int width)
    {
        while (bitCount < width) {
            if (blockLeft == 0 && !ended) {
                const int length = std::getc(file);
                ended = length <= 0;
                blockLeft = ended ? 0 : length;
            }
            if (ended)
                return -1;
            const int byte = std::getc(file);
            if (byte == EOF)
                return -1;
            --blockLeft;
            bits |= static_cast<std::uint32_t>(byte) << bitCount;
            bitCount += 8;
        }
        const int code = static_cast<int>(bits & ((1u << width) - 1));
        bits >>= width;
        bitCount -= width;
        return code;
    }

    std::uint16_t WideLzw::Emit(int code, std::vector<std::uint16_t> &out)
    {
        reversed.clear();
        while (code >= clearCode) {
            reversed.push_back(suffix[static_cast<std::size_t>(code)]);
            code = prefix[static_cast<std::size_t>(code)];
        }
        reversed.push_back(static_cast<std::uint16_t>(code));
        out.insert(out.end(), reversed.rbegin(), reversed.rend());
        return static_cast<std::uint16_t>(code);
    }

    LoadFailure WideLzw::Decode(std::vector<std::uint16_t> &out, std::size_t count)
    {
        int width = firstWidth, next = clearCode + 2, previous = -1;
        std::uint16_t previousFirst = 0;
        while (out.size() < count) {
            const int code = NextCode(width);
            if (code < 0)
                return LoadFailure::CutShort;
            if (code == clearCode) {
                width = firstWidth;
                next = clearCode + 2;
                previous = -1;
                continue;
            }
            if (code == clearCode + 1 || (code > next) || (previous < 0 && code >= clearCode))
                return LoadFailure::Damaged;
            if (previous < 0) {
                previous = code;
                previousFirst = Emit(code, out);
                continue;
            }
            // A code not yet in the table is the previous string and its own first index.
            const std::uint16_t first = code < next ? Emit(code, out) : previousFirst;
            if (code == next) {
                Emit(previous, out);
                out.push_back(first);
            }
            if (next < 4096) {
                prefix[static_cast<std::size_t>(next)] = static_cast<std::uint16_t>(previous);
                suffix[static_cast<std::size_t>(next)] = first;
                ++next;
                if (next == (1 << width) && width < 12)
                    ++width;
            }
            previous = code;
            previousFirst = first;
        }
        out.resize(count);
        return LoadFailure::None;
    }

    class GifImage final : public DecodedImage
    {
    public:
        explicit GifImage(FilePtr source)
            : file(std::move(source))
        {
        }

        [[nodiscard]] LoadFailure ReadHeader();
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override
        {
            return DrawOverThroughRows(raster, background);
        }
        [[nodiscard]] LoadFailure DrawRows(analysis::RowSink &sink, QRgb background) override;

    private:
        [[nodiscard]] LoadFailure SkipExtension();
        // After giflib refused the frame's code size: whether it is one WideLzw reads.
        [[nodiscard]] bool TakeWideCodeSize();
        // The reason of the giflib call that just failed.
        [[nodiscard]] LoadFailure GifFailure() const { return FailureOf(gif->Error); }

        FilePtr file;
        // Declared after the file so that it is closed first.
        std::unique_ptr<GifFileType, GifCloser> gif;
        int transparentIndex = NO_TRANSPARENT_COLOR;
        bool drawn = false;
        int wideCodeSize = 0;
    };

    bool GifImage::TakeWideCodeSize()
    {
        // giflib stops right after the code size byte, its last read.
        if (gif->Error != D_GIF_ERR_READ_FAILED || std::fseek(file.get(), -1, SEEK_CUR) != 0)
            return false;
        const int codeSize = std::getc(file.get());
        if (codeSize < 9 || codeSize > 11)
            return false;
        wideCodeSize = codeSize;
        return true;
    }

    // Only the graphic control block matters here; the last one before the image applies to it.
    LoadFailure GifImage::SkipExtension()
    {
        int code = 0;
        GifByteType *block = nullptr;
        if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR)
            return GifFailure();
        if (code == GRAPHICS_EXT_FUNC_CODE) {
            // A control block of the wrong length leaves the transparency unknown: damaged.
            GraphicsControlBlock control {};
            if (block == nullptr || DGifExtensionToGCB(block[0], block + 1, &control) == GIF_ERROR)
                return LoadFailure::Damaged;
            transparentIndex = control.TransparentColor;
        }
        while (block != nullptr) {
            if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR)
                return GifFailure();
        }
        return LoadFailure::None;
    }

    LoadFailure GifImage::ReadHeader()
    {
        int error = 0;
        gif.reset(DGifOpen(file.get(), ReadFromFile, &error));
        if (!gif)
            return FailureOf(error);
        for (;;) {
            GifRecordType record = UNDEFINED_RECORD_TYPE;
            if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR)
                return GifFailure();
            if (record == IMAGE_DESC_RECORD_TYPE)
                break;
            // The trailer before any image: nothing to show.
            if (record != EXTENSION_RECORD_TYPE)
                return LoadFailure::Damaged;
            if (const LoadFailure failure = SkipExtension(); failure != LoadFailure::None)
                return failure;
        }
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR && !TakeWideCodeSize())
            return GifFailure();
        const GifImageDesc &frame = gif->Image;
        // Wide codes are decoded whole before the first row.
        if (wideCodeSize != 0
            && (!IsAllowedRasterSize(frame.Width, frame.Height)
                || !MemoryAllows(std::int64_t { frame.Width } * frame.Height * 2)))
            return LoadFailure::TooLarge;
        // The frame's own size is bounded as well: all of its pixels are decoded even where the
        // screen clips them, so a tiny screen must not hide a frame of billions of pixels.
        if (!IsAllowedStreamSize(frame.Width, frame.Height))
            return SizeFailure(frame.Width, frame.Height);
        // Encoders that leave the screen size 0 mean "as big as the image".
        const std::int64_t width
            = gif->SWidth > 0 ? gif->SWidth : std::int64_t { frame.Left } + frame.Width;
        const std::int64_t height
            = gif->SHeight > 0 ? gif->SHeight : std::int64_t { frame.Top } + frame.Height;
        if (!IsAllowedStreamSize(width, height))
            return SizeFailure(width, height);
        if (frame.Interlace && !IsAllowedRasterSize(width, height))
            return LoadFailure::TooLarge;
        if (frame.Interlace && !MemoryAllows(width * height * 4))
            return LoadFailure::OutOfMemory;
        size = QSize(static_cast<int>(width), static_cast<int>(height));
        return LoadFailure::None;
    }

    LoadFailure GifImage::DrawRows(analysis::RowSink &sink, QRgb background)
    {
        if (drawn)
            return LoadFailure::ReadError; // the data was read by an earlier draw
        if (!sink.Start(size.width(), size.height()))
            return kSinkRefused;
        drawn = true; // the image data can be read only once
        const GifImageDesc &frame = gif->Image;
        const ColorMapObject *table = frame.ColorMap ? frame.ColorMap : gif->SColorMap;

        // Indices past the table show black, as most readers show them; without any table index
        // i shows grey i, the ramp other readers fall back on. The transparent index shows the
        // background whatever the table holds.
        const std::uint32_t fill = background | 0xFF000000u;
        std::array<std::uint32_t, 256> colours {};
        colours.fill(0xFF000000u);
        for (std::uint32_t i = 0; !table && i < 256; ++i)
            colours[i] = 0xFF000000u | (i * 0x010101u);
        for (int i = 0; table && i < std::min(table->ColorCount, 256); ++i) {
            const GifColorType &c = table->Colors[i];
            colours[static_cast<std::size_t>(i)] = 0xFF000000u | (std::uint32_t { c.Red } << 16)
                | (std::uint32_t { c.Green } << 8) | c.Blue;
        }
        if (transparentIndex >= 0 && transparentIndex < 256)
            colours[static_cast<std::size_t>(transparentIndex)] = fill;

        // A frame reaching past the screen is clipped to it; the screen around the frame shows
        // the background.
        const int width = size.width(), height = size.height();
        const int left = std::min(frame.Left, width);
        const int right = std::min(frame.Left + frame.Width, width);
        const int top = std::min(frame.Top, height);
        const int bottom = std::min(frame.Top + frame.Height, height);
        const auto fillAround = [&](std::uint32_t *row, int y) {
            if (y < top || y >= bottom) {
                std::fill(row, row + width, fill);
            } else {
                std::fill(row, row + left, fill);
                std::fill(row + right, row + width, fill);
            }
        };
        std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width));
        std::vector<std::uint16_t> wide;
        if (wideCodeSize != 0) {
            if (const LoadFailure failure
                = WideLzw(file.get(), wideCodeSize)
                      .Decode(wide, static_cast<std::size_t>(frame.Width) * frame.Height);
                failure != LoadFailure::None)
                return failure;
        }
        std::size_t wideAt = 0;
        const auto drawLine = [&](std::uint32_t *row) {
            if (wide.empty()) {
                const GifPixelType *in = line.data() + (left - frame.Left);
                for (int x = left; x < right; ++x)
                    row[x] = colours[*in++];
                return;
            }
            const std::uint16_t *in = wide.data() + (wideAt - frame.Width) + (left - frame.Left);
            for (int x = left; x < right; ++x, ++in)
                row[x] = *in < 256 ? colours[*in] : 0xFF000000u;
        };
        // Every line is read, clipped or not: data that ends early is an error even where it
        // would not show.
        const auto readLine = [&] {
            if (!wide.empty()) {
                wideAt += static_cast<std::size_t>(frame.Width);
                return true;
            }
            return DGifGetLine(gif.get(), line.data(), frame.Width) != GIF_ERROR;
        };

        std::ptrdiff_t stride = 0;
        if (frame.Interlace) {
            // Stored every 8th row from 0, every 8th from 4, every 4th from 2, then every 2nd
            // from 1: the whole screen is held until the last pass.
            static constexpr int kFirstRow[4] = { 0, 4, 2, 1 };
            static constexpr int kRowStep[4] = { 8, 8, 4, 2 };
            std::uint32_t *const rows = sink.RowSpace(0, height, stride);
            if (!rows)
                return LoadFailure::OutOfMemory;
            for (int y = 0; y < height; ++y)
                fillAround(rows + y * stride, y);
            for (int pass = 0; pass < 4; ++pass) {
                for (int r = kFirstRow[pass]; r < frame.Height; r += kRowStep[pass]) {
                    if (!readLine())
                        return GifFailure();
                    const int y = frame.Top + r;
                    if (y < bottom && left < right)
                        drawLine(rows + y * stride);
                }
            }
            sink.RowsDone(0, height);
            return LoadFailure::None;
        }

        int linesRead = 0;
        for (int y = 0; y < height; ++y) {
            std::uint32_t *row = sink.RowSpace(y, 1, stride);
            if (!row)
                return LoadFailure::OutOfMemory;
            fillAround(row, y);
            if (y >= top && y < bottom) {
                if (!readLine())
                    return GifFailure();
                ++linesRead;
                if (left < right)
                    drawLine(row);
            }
            sink.RowsDone(y, 1);
        }
        for (; linesRead < frame.Height; ++linesRead) {
            if (!readLine())
                return GifFailure();
        }
        return LoadFailure::None;
    }

} // namespace

OpenedImage OpenGif(FilePtr file) { return Open<GifImage>(std::move(file)); }

} // namespace imaging
