#include "imaging/tests/fixtures.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace fixtures {
namespace {

    // Everything the libpng writer needs, prepared before it runs: its error jump skips C++
    // destructors, so the writing function itself creates no objects that have them.
    struct PngLayout
    {
        std::uint32_t width;
        std::uint32_t height;
        int bitDepth;
        int colourType;
        bool interlaced;
        const png_color *palette;
        int paletteSize;
        const png_byte *paletteAlpha; // null for no tRNS chunk
        const std::vector<std::vector<png_byte>> *rows;
    };

    void AppendToByteArray(png_structp png, png_bytep data, png_size_t length)
    {
        static_cast<QByteArray *>(png_get_io_ptr(png))
            ->append(reinterpret_cast<const char *>(data), static_cast<qsizetype>(length));
    }

    bool WritePng(const PngLayout &layout, QByteArray *out)
    {
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        if (!info || setjmp(png_jmpbuf(png))) {
            png_destroy_write_struct(&png, &info);
            return false;
        }
        png_set_write_fn(png, out, AppendToByteArray, nullptr);
        png_set_compression_level(png, 1); // fixtures need speed, not size
        png_set_IHDR(png, info, layout.width, layout.height, layout.bitDepth, layout.colourType,
            layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
            PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        if (layout.palette)
            png_set_PLTE(png, info, layout.palette, layout.paletteSize);
        if (layout.paletteAlpha)
            png_set_tRNS(png, info, layout.paletteAlpha, layout.paletteSize, nullptr);
        png_write_info(png, info);
        const int passes = layout.interlaced ? png_set_interlace_handling(png) : 1;
        for (int pass = 0; pass < passes; ++pass)
            for (const auto &row : *layout.rows)
                png_write_row(png, row.data());
        png_write_end(png, nullptr);
        png_destroy_write_struct(&png, &info);
        return true;
    }

    void PutBigEndian16(std::vector<png_byte> &row, int value)
    {
        row.push_back(static_cast<png_byte>(value >> 8));
        row.push_back(static_cast<png_byte>(value & 0xFF));
    }

    void PutBigEndian32(QByteArray &bytes, std::uint32_t value)
    {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.append(static_cast<char>((value >> shift) & 0xFF));
    }

    void AppendChunk(QByteArray &png, const char *type, const QByteArray &data)
    {
        PutBigEndian32(png, static_cast<std::uint32_t>(data.size()));
        const QByteArray typed = QByteArray(type) + data;
        png += typed;
        PutBigEndian32(png,
            static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef *>(typed.constData()),
                static_cast<uInt>(typed.size()))));
    }

    // Packs variable-width LZW codes least significant bit first, as GIF wants them.
    class CodeWriter
    {
    public:
        void Put(int code, int bits)
        {
            buffer |= static_cast<std::uint32_t>(code) << filled;
            filled += bits;
            while (filled >= 8) {
                bytes.push_back(static_cast<std::uint8_t>(buffer & 0xFF));
                buffer >>= 8;
                filled -= 8;
            }
        }
        std::vector<std::uint8_t> Finish()
        {
            if (filled > 0)
                bytes.push_back(static_cast<std::uint8_t>(buffer & 0xFF));
            return std::move(bytes);
        }

    private:
        std::vector<std::uint8_t> bytes;
        std::uint32_t buffer = 0;
        int filled = 0;
    };

    std::vector<std::uint8_t> CompressLzw(const std::vector<std::uint8_t> &indices, int minCodeSize)
    {
        const int clearCode = 1 << minCodeSize;
        const int endCode = clearCode + 1;
        // next[code][byte]: the code for "code followed by byte", 0 when not in the dictionary.
        std::vector<std::uint16_t> next(std::size_t { 4096 } * 256, 0);
        CodeWriter writer;
        int codeSize = minCodeSize + 1;
        int lastCode = endCode;
        writer.Put(clearCode, codeSize);
        int current = indices.empty() ? -1 : indices[0];
        for (std::size_t i = 1; i < indices.size(); ++i) {
            const std::uint8_t pixel = indices[i];
            std::uint16_t &entry = next[static_cast<std::size_t>(current) * 256 + pixel];
            if (entry != 0) {
                current = entry;
                continue;
            }
            writer.Put(current, codeSize);
            entry = static_cast<std::uint16_t>(++lastCode);
            if (lastCode >= (1 << codeSize))
                ++codeSize;
            if (lastCode == 4095) {
                writer.Put(clearCode, codeSize);
                std::fill(next.begin(), next.end(), 0);
                codeSize = minCodeSize + 1;
                lastCode = endCode;
            }
            current = pixel;
        }
        if (current >= 0)
            writer.Put(current, codeSize);
        writer.Put(endCode, codeSize);
        return writer.Finish();
    }

    void PutLittleEndian16(QByteArray &bytes, int value)
    {
        bytes.append(static_cast<char>(value & 0xFF));
        bytes.append(static_cast<char>((value >> 8) & 0xFF));
    }

    // Grayscale script: DC once, then coefficient k in 1 + refinements scans (at most 11, since
    // libjpeg allows successive-approximation shifts up to 10 for 8-bit samples).
    std::vector<jpeg_scan_info> ScanScript(int scans)
    {
        EXPECT_GE(scans, 1);
        EXPECT_LE(scans, 1 + 63 * 11);
        std::vector<jpeg_scan_info> script;
        script.push_back({ 1, { 0 }, 0, 0, 0, 0 });
        const int ac = scans - 1;
        for (int k = 1; k <= 63; ++k) {
            const int perCoefficient = ac / 63 + (k <= ac % 63 ? 1 : 0);
            if (perCoefficient == 0)
                break;
            script.push_back({ 1, { 0 }, k, k, 0, perCoefficient - 1 });
            for (int shift = perCoefficient - 1; shift > 0; --shift)
                script.push_back({ 1, { 0 }, k, k, shift, shift - 1 });
        }
        return script;
    }

    // How many bits index a GIF colour table big enough for palette (1..8).
    int GifTableBits(const std::vector<QRgb> &palette)
    {
        EXPECT_LE(palette.size(), 256u);
        int bits = 1;
        while ((std::size_t { 1 } << bits) < palette.size())
            ++bits;
        return bits;
    }

    // The palette as a GIF colour table, padded with black to a power of two; nothing if empty.
    void AppendGifTable(QByteArray &gif, const std::vector<QRgb> &palette)
    {
        if (palette.empty())
            return;
        for (std::size_t i = 0; i < (std::size_t { 1 } << GifTableBits(palette)); ++i) {
            const QRgb c = i < palette.size() ? palette[i] : 0;
            gif.append(static_cast<char>(qRed(c)));
            gif.append(static_cast<char>(qGreen(c)));
            gif.append(static_cast<char>(qBlue(c)));
        }
    }

} // namespace

QByteArray EncodePng(const QImage &picture, PngVariant variant)
{
    const QImage argb = picture.convertToFormat(QImage::Format_ARGB32);
    const int w = argb.width(), h = argb.height();
    PngLayout layout { static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), 8,
        PNG_COLOR_TYPE_RGB, false, nullptr, 0, nullptr, nullptr };
    std::vector<png_color> palette;
    std::vector<png_byte> paletteAlpha;
    std::map<QRgb, int> paletteIndex;
    std::vector<std::vector<png_byte>> rows(static_cast<std::size_t>(h));

    switch (variant) {
    case PngVariant::Rgba8:
    case PngVariant::InterlacedRgba8:
        layout.colourType = PNG_COLOR_TYPE_RGBA;
        break;
    case PngVariant::Gray8:
        layout.colourType = PNG_COLOR_TYPE_GRAY;
        break;
    case PngVariant::GrayAlpha8:
        layout.colourType = PNG_COLOR_TYPE_GRAY_ALPHA;
        break;
    case PngVariant::Gray1:
        layout.colourType = PNG_COLOR_TYPE_GRAY;
        layout.bitDepth = 1;
        break;
    case PngVariant::Palette8:
    case PngVariant::PaletteTransparent8:
        layout.colourType = PNG_COLOR_TYPE_PALETTE;
        break;
    case PngVariant::Rgb16:
        layout.bitDepth = 16;
        break;
    case PngVariant::Rgba16:
        layout.colourType = PNG_COLOR_TYPE_RGBA;
        layout.bitDepth = 16;
        break;
    case PngVariant::Gray16:
        layout.colourType = PNG_COLOR_TYPE_GRAY;
        layout.bitDepth = 16;
        break;
    case PngVariant::Rgb8:
    case PngVariant::InterlacedRgb8:
        break;
    }
    layout.interlaced
        = variant == PngVariant::InterlacedRgb8 || variant == PngVariant::InterlacedRgba8;

    for (int y = 0; y < h; ++y) {
        auto &row = rows[static_cast<std::size_t>(y)];
        const auto *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb p = line[x];
            const int r = qRed(p), g = qGreen(p), b = qBlue(p), a = qAlpha(p);
            switch (variant) {
            case PngVariant::Rgb8:
            case PngVariant::InterlacedRgb8:
                row.insert(row.end(), { png_byte(r), png_byte(g), png_byte(b) });
                break;
            case PngVariant::Rgba8:
            case PngVariant::InterlacedRgba8:
                row.insert(row.end(), { png_byte(r), png_byte(g), png_byte(b), png_byte(a) });
                break;
            case PngVariant::Gray8:
                row.push_back(png_byte(r));
                break;
            case PngVariant::GrayAlpha8:
                row.insert(row.end(), { png_byte(r), png_byte(a) });
                break;
            case PngVariant::Gray1:
                if (x % 8 == 0)
                    row.push_back(0);
                if (r >= 128)
                    row.back() |= static_cast<png_byte>(0x80 >> (x % 8));
                break;
            case PngVariant::Palette8:
            case PngVariant::PaletteTransparent8: {
                const QRgb key = variant == PngVariant::Palette8 ? (p | 0xFF000000u) : p;
                auto found = paletteIndex.find(key);
                if (found == paletteIndex.end()) {
                    found = paletteIndex.emplace(key, static_cast<int>(palette.size())).first;
                    palette.push_back({ png_byte(r), png_byte(g), png_byte(b) });
                    paletteAlpha.push_back(png_byte(a));
                }
                row.push_back(static_cast<png_byte>(found->second));
                break;
            }
            case PngVariant::Rgb16:
                for (int v : { r, g, b })
                    PutBigEndian16(row, v * 257);
                break;
            case PngVariant::Rgba16:
                for (int v : { r, g, b, a })
                    PutBigEndian16(row, v * 257);
                break;
            case PngVariant::Gray16:
                PutBigEndian16(row, r * 257);
                break;
            }
        }
    }
    if (layout.colourType == PNG_COLOR_TYPE_PALETTE) {
        EXPECT_LE(palette.size(), 256u) << "too many colours for a palette PNG";
        layout.palette = palette.data();
        layout.paletteSize = static_cast<int>(palette.size());
        if (variant == PngVariant::PaletteTransparent8)
            layout.paletteAlpha = paletteAlpha.data();
    }
    layout.rows = &rows;
    QByteArray out;
    EXPECT_TRUE(WritePng(layout, &out)) << "libpng could not write the fixture";
    return out;
}

QByteArray EncodeJpeg(const QImage &picture, JpegVariant variant, int quality, int scans)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr errors {};
    cinfo.err = jpeg_std_error(&errors); // a fixture that cannot be written ends the test run
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
    switch (variant) {
    case JpegVariant::Grayscale:
        cinfo.in_color_space = JCS_GRAYSCALE;
        cinfo.input_components = 1;
        break;
    case JpegVariant::AdobeCmyk:
        cinfo.in_color_space = JCS_CMYK;
        cinfo.input_components = 4;
        break;
    default:
        cinfo.in_color_space = JCS_RGB;
        cinfo.input_components = 3;
        break;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (variant == JpegVariant::Baseline444) {
        cinfo.comp_info[0].h_samp_factor = 1;
        cinfo.comp_info[0].v_samp_factor = 1;
    }
    if (variant == JpegVariant::Progressive)
        jpeg_simple_progression(&cinfo);
    const std::vector<jpeg_scan_info> script
        = scans > 0 ? ScanScript(scans) : std::vector<jpeg_scan_info>();
    if (!script.empty()) {
        EXPECT_EQ(variant, JpegVariant::Grayscale);
        cinfo.scan_info = script.data();
        cinfo.num_scans = static_cast<int>(script.size());
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(rgb.width()) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        const auto *line = reinterpret_cast<const QRgb *>(
            rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
        JSAMPLE *out = row.data();
        for (int x = 0; x < rgb.width(); ++x) {
            const int r = qRed(line[x]), g = qGreen(line[x]), b = qBlue(line[x]);
            switch (variant) {
            case JpegVariant::Grayscale:
                *out++ = static_cast<JSAMPLE>(r);
                break;
            case JpegVariant::AdobeCmyk: {
                // Inverted inks: K holds the brightest channel, C, M, Y the channels relative to
                // it.
                const int k = std::max({ r, g, b });
                for (int v : { r, g, b })
                    *out++ = static_cast<JSAMPLE>(k == 0 ? 0 : (v * 255 + k / 2) / k);
                *out++ = static_cast<JSAMPLE>(k);
                break;
            }
            default:
                *out++ = static_cast<JSAMPLE>(r);
                *out++ = static_cast<JSAMPLE>(g);
                *out++ = static_cast<JSAMPLE>(b);
                break;
            }
        }
        JSAMPROW rows[1] = { row.data() };
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray out(reinterpret_cast<const char *>(buffer), static_cast<qsizetype>(size));
    std::free(buffer);
    return out;
}

QByteArray EncodeGif(
    const std::vector<QRgb> &palette, const std::vector<GifFrame> &frames, QSize screen)
{
    EXPECT_TRUE(!frames.empty() || screen.isValid());
    if (!screen.isValid())
        screen = QSize(frames.front().width, frames.front().height);
    QByteArray gif("GIF89a");
    PutLittleEndian16(gif, screen.width());
    PutLittleEndian16(gif, screen.height());
    const int globalBits = GifTableBits(palette);
    gif.append(
        static_cast<char>(palette.empty() ? 0 : 0x80 | ((globalBits - 1) << 4) | (globalBits - 1)));
    gif.append('\0'); // background colour index
    gif.append('\0'); // no aspect ratio
    AppendGifTable(gif, palette);
    if (frames.size() > 1) // loop forever, as animations do
        gif.append(QByteArray("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19));
    for (const GifFrame &frame : frames) {
        EXPECT_EQ(frame.indices.size(), static_cast<std::size_t>(frame.width) * frame.height);
        // Graphic control: disposal "leave in place", 0.1 s delay, transparency if any.
        gif.append(QByteArray("\x21\xF9\x04", 3));
        gif.append(static_cast<char>(0x04 | (frame.transparentIndex >= 0 ? 1 : 0)));
        PutLittleEndian16(gif, 10);
        gif.append(static_cast<char>(std::max(frame.transparentIndex, 0)));
        gif.append('\0');
        gif.append(',');
        PutLittleEndian16(gif, frame.left);
        PutLittleEndian16(gif, frame.top);
        PutLittleEndian16(gif, frame.width);
        PutLittleEndian16(gif, frame.height);
        const bool local = !frame.localPalette.empty();
        const int localBits = GifTableBits(frame.localPalette);
        gif.append(static_cast<char>(
            (local ? 0x80 | (localBits - 1) : 0) | (frame.interlaced ? 0x40 : 0)));
        AppendGifTable(gif, frame.localPalette);
        const int minCodeSize
            = frame.codeSize > 0 ? frame.codeSize : std::max(2, local ? localBits : globalBits);
        gif.append(static_cast<char>(minCodeSize));

        std::vector<std::uint8_t> stored;
        static constexpr int kFirstRow[4] = { 0, 4, 2, 1 };
        static constexpr int kRowStep[4] = { 8, 8, 4, 2 };
        for (int pass = 0; pass < (frame.interlaced ? 4 : 1); ++pass) {
            const int step = frame.interlaced ? kRowStep[pass] : 1;
            for (int y = frame.interlaced ? kFirstRow[pass] : 0; y < frame.height; y += step) {
                const auto row
                    = frame.indices.begin() + static_cast<std::ptrdiff_t>(y) * frame.width;
                stored.insert(stored.end(), row, row + frame.width);
            }
        }
        if (frame.encodedPixels >= 0)
            stored.resize(std::min(stored.size(), static_cast<std::size_t>(frame.encodedPixels)));

        const std::vector<std::uint8_t> data = CompressLzw(stored, minCodeSize);
        QByteArray blocks;
        for (std::size_t at = 0; at < data.size(); at += 255) {
            const std::size_t n = std::min<std::size_t>(255, data.size() - at);
            blocks.append(static_cast<char>(n));
            blocks.append(
                reinterpret_cast<const char *>(data.data() + at), static_cast<qsizetype>(n));
        }
        blocks.append('\0');
        if (frame.keepDataBytes >= 0) {
            EXPECT_LT(frame.keepDataBytes, blocks.size()) << "the cut must fall inside the data";
            return gif + blocks.left(frame.keepDataBytes);
        }
        gif += blocks;
    }
    gif.append(';');
    return gif;
}

namespace {

    void AppendLe(QByteArray &out, std::uint64_t value, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            out.append(static_cast<char>((value >> (8 * i)) & 0xFFu));
    }

    // The DIB: header, masks after a 40-byte header, palette, then the given pixel offset's gap.
    QByteArray EncodeDib(const BmpLayout &layout, std::int64_t dibAt)
    {
        QByteArray out;
        const bool core = layout.headerSize == 12;
        AppendLe(out, layout.headerSize, 4);
        if (core) {
            AppendLe(out, static_cast<std::uint32_t>(layout.width), 2);
            AppendLe(out, static_cast<std::uint32_t>(layout.height), 2);
            AppendLe(out, 1, 2);
            AppendLe(out, static_cast<std::uint32_t>(layout.bits), 2);
        } else {
            AppendLe(out, static_cast<std::uint32_t>(layout.width), 4);
            AppendLe(out, static_cast<std::uint32_t>(layout.height), 4);
            AppendLe(out, 1, 2);
            AppendLe(out, static_cast<std::uint32_t>(layout.bits), 2);
            AppendLe(out, layout.compression, 4);
            AppendLe(out, static_cast<std::uint32_t>(layout.pixels.size()), 4);
            AppendLe(out, 2835, 4); // 72 dpi
            AppendLe(out, 2835, 4);
            AppendLe(out,
                static_cast<std::uint32_t>(
                    layout.colourCount >= 0 ? layout.colourCount : layout.palette.size()),
                4);
            AppendLe(out, 0, 4);
            for (std::size_t i = 0; i < layout.masks.size() && out.size() + 4 <= layout.headerSize;
                 ++i)
                AppendLe(out, layout.masks[i], 4);
            while (static_cast<std::uint32_t>(out.size()) < std::min(layout.headerSize, 4096u))
                out.append('\0');
            if (layout.headerSize == 40) {
                for (const std::uint32_t mask : layout.masks)
                    AppendLe(out, mask, 4);
            }
        }
        for (const QRgb entry : layout.palette)
            AppendLe(out, entry & 0xFFFFFFu, core ? 3 : 4);
        if (layout.pixelOffset >= 0) {
            while (dibAt + out.size() < layout.pixelOffset)
                out.append('\0');
        }
        return out + layout.pixels;
    }

} // namespace

QByteArray EncodeBmp(const BmpLayout &layout)
{
    const QByteArray dib = EncodeDib(layout, 14);
    const std::int64_t offset
        = layout.pixelOffset >= 0 ? layout.pixelOffset : 14 + dib.size() - layout.pixels.size();
    QByteArray out("BM");
    AppendLe(out, static_cast<std::uint64_t>(14 + dib.size()), 4);
    AppendLe(out, 0, 4);
    AppendLe(out, static_cast<std::uint64_t>(offset), 4);
    return out + dib;
}

QByteArray PackBmpRows(const std::vector<std::vector<std::uint32_t>> &rows, int bits)
{
    QByteArray out;
    for (const std::vector<std::uint32_t> &row : rows) {
        const qsizetype start = out.size();
        if (bits >= 8) {
            for (const std::uint32_t value : row)
                AppendLe(out, value, bits / 8);
        } else {
            std::uint32_t pending = 0;
            int used = 0;
            for (const std::uint32_t value : row) {
                pending = (pending << bits) | (value & ((1u << bits) - 1));
                used += bits;
                if (used == 8) {
                    out.append(static_cast<char>(pending));
                    pending = 0;
                    used = 0;
                }
            }
            if (used > 0)
                out.append(static_cast<char>(pending << (8 - used)));
        }
        while ((out.size() - start) % 4 != 0)
            out.append('\0');
    }
    return out;
}

QByteArray EncodeIcoDib(BmpLayout layout, const QByteArray &maskRows)
{
    layout.height *= 2;
    constexpr std::int64_t kDibAt = 6 + 16;
    const QByteArray dib = EncodeDib(layout, kDibAt) + maskRows;
    QByteArray out;
    AppendLe(out, 0, 2);
    AppendLe(out, 1, 2); // an icon
    AppendLe(out, 1, 2); // one entry
    out.append(static_cast<char>(layout.width & 0xFF));
    out.append(static_cast<char>((layout.height / 2) & 0xFF));
    AppendLe(out, 0, 2);
    AppendLe(out, 1, 2);
    AppendLe(out, static_cast<std::uint32_t>(layout.bits), 2);
    AppendLe(out, static_cast<std::uint64_t>(dib.size()), 4);
    AppendLe(out, kDibAt, 4);
    return out + dib;
}

QByteArray EncodeWithQt(const QImage &picture, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(picture)) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

QByteArray PngClaimingSize(std::uint32_t width, std::uint32_t height)
{
    QByteArray png("\x89PNG\r\n\x1A\n", 8);
    QByteArray header;
    PutBigEndian32(header, width);
    PutBigEndian32(header, height);
    header.append(QByteArray("\x08\x06\x00\x00\x00", 5)); // 8-bit RGBA, not interlaced
    AppendChunk(png, "IHDR", header);
    const QByteArray zeros(64, '\0');
    uLongf packedSize = compressBound(static_cast<uLong>(zeros.size()));
    QByteArray packed(static_cast<qsizetype>(packedSize), '\0');
    compress(reinterpret_cast<Bytef *>(packed.data()), &packedSize,
        reinterpret_cast<const Bytef *>(zeros.constData()), static_cast<uLong>(zeros.size()));
    packed.truncate(static_cast<qsizetype>(packedSize));
    AppendChunk(png, "IDAT", packed);
    AppendChunk(png, "IEND", QByteArray());
    return png;
}

QByteArray EncodeGray1PngByRows(std::uint32_t width, std::uint32_t height,
    const std::function<void(std::uint32_t y, std::vector<std::uint8_t> &bits)> &row)
{
    QByteArray out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the fixture";
        return {};
    }
    png_set_write_fn(png, &out, AppendToByteArray, nullptr);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, width, height, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<std::uint8_t> bits((width + 7) / 8);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::fill(bits.begin(), bits.end(), 0);
        row(y, bits);
        png_write_row(png, bits.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size()) << path.toStdString();
}

QImage Bands(int width, int height, int bandWidth, const std::vector<QRgb> &colours)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = colours[static_cast<std::size_t>(x / bandWidth) % colours.size()];
    }
    return image;
}

std::string AsUnprivilegedUser(const std::function<std::string()> &check)
{
    if (::geteuid() != 0)
        return check();
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return "no pipe to the child";
    const pid_t child = ::fork();
    if (child < 0)
        return "no child process";
    if (child == 0) {
        ::close(pipeEnds[0]);
        // 65534 is nobody on Debian.
        std::string result
            = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0
            ? check()
            : std::string("could not drop to the user nobody");
        if (result.empty())
            result = "ok";
        const ssize_t written = ::write(pipeEnds[1], result.data(), result.size());
        ::_exit(written == static_cast<ssize_t>(result.size()) ? 0 : 1);
    }
    ::close(pipeEnds[1]);
    std::string result;
    char chunk[256];
    for (ssize_t n; (n = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;)
        result.append(chunk, static_cast<std::size_t>(n));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child process failed: " + result;
    return result == "ok" ? std::string() : result;
}

} // namespace fixtures
