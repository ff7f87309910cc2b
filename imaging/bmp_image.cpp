// BMP files and the DIB pictures inside icons, decoded row by row straight into the raster.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/raster_memory.h"
#include "imaging/system_files.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace imaging {
namespace {

    constexpr std::uint32_t kRgb = 0;
    constexpr std::uint32_t kRle8 = 1;
    constexpr std::uint32_t kRle4 = 2;
    constexpr std::uint32_t kBitfields = 3;
    constexpr std::uint32_t kAlphaBitfields = 6;

    constexpr std::uint32_t kCoreHeader = 12;
    constexpr std::uint32_t kInfoHeader = 40;
    // The largest header known (version 5). Anything longer has fields nobody defined, and a
    // header that big is more likely damage than a future version.
    constexpr std::uint32_t kMaxHeader = 124;

    std::uint32_t ReadLe(const unsigned char *bytes, int n)
    {
        std::uint32_t value = 0;
        for (int i = n - 1; i >= 0; --i)
            value = (value << 8) | bytes[i];
        return value;
    }

    // The file's length in bytes, or -1; leaves the position undefined.
    std::int64_t FileLength(std::FILE *file)
    {
        if (!SeekStream(file, 0, SEEK_END))
            return -1;
        return StreamPosition(file);
    }

    // One channel of a 16- or 32-bit pixel: where its bits sit and how they widen to 8 bits.
    struct Channel
    {
        std::uint32_t mask = 0;
        int shift = 0;
        int width = 0;
        // Values of up to 8 bits widen by repeating their bits downwards, so that the
        // brightest value is 255 and 0 stays 0 (5-bit 31 is 255, not 248).
        std::array<std::uint8_t, 256> widen {};

        // False for a mask whose bits are not one contiguous run.
        bool Set(std::uint32_t bits)
        {
            mask = bits;
            if (bits == 0)
                return true;
            shift = std::countr_zero(bits);
            width = std::popcount(bits);
            if ((bits >> shift) != (std::uint32_t { 0xFFFFFFFFu } >> (32 - width)))
                return false;
            const int n = std::min(width, 8);
            for (std::uint32_t v = 0; v < (1u << n); ++v) {
                std::uint32_t out = 0;
                for (int at = 8 - n; at > -n; at -= n)
                    out |= at >= 0 ? v << at : v >> -at;
                widen[v] = static_cast<std::uint8_t>(out);
            }
            return true;
        }

        // 0..255; 0 for a channel the file has no bits for.
        [[nodiscard]] std::uint32_t Extract(std::uint32_t pixel) const
        {
            const std::uint32_t v = (pixel & mask) >> shift;
            return width > 8 ? v >> (width - 8) : widen[v];
        }
    };

    enum class Container { Bmp, Icon };

    class BmpImage final : public DecodedImage
    {
    public:
        explicit BmpImage(FilePtr source)
            : file(std::move(source))
        {
            palette.fill(0xFF000000u);
        }

        // Reads the 14-byte file header and the DIB after it, or a DIB without a file header
        // (its pixels then follow its palette).
        [[nodiscard]] LoadFailure ReadHeader();
        // Reads an icon's DIB at the given offset; its rows are followed by a 1-bit mask.
        [[nodiscard]] LoadFailure ReadHeader(std::int64_t iconDibAt);
        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override;

    private:
        [[nodiscard]] LoadFailure ReadDib(std::int64_t infoAt, std::int64_t fileLength);
        [[nodiscard]] bool SetMasks(const std::array<std::uint32_t, 4> &masks);
        void ReadColourSpace(const unsigned char *info, std::int64_t infoAt, std::uint32_t infoSize,
            std::int64_t fileLength);
        [[nodiscard]] LoadFailure DrawStoredRows(
            std::uint32_t *bits, std::ptrdiff_t stride, QRgb background);
        [[nodiscard]] LoadFailure DrawRle(
            std::uint32_t *bits, std::ptrdiff_t stride, QRgb background);
        [[nodiscard]] bool ReadIconMask();
        [[nodiscard]] LoadFailure ReadPalette(std::int64_t entries, std::int64_t entrySize);
        // Sets where an icon's pixels and mask lie; returns where the last of them ends.
        [[nodiscard]] std::int64_t PlaceIconParts();
        void ConvertRow(const std::uint8_t *in, std::uint32_t *out, QRgb background) const;

        FilePtr file;
        Container container = Container::Bmp;
        // Where the pixel data starts; -1 for right after the palette (icons).
        std::int64_t pixelsAt = -1;
        int bitCount = 0;
        std::uint32_t compression = kRgb;
        bool topDown = false;
        bool hasAlpha = false;
        // The 32-bit layout 0xAARRGGBB as it is in memory, copied without per-channel work.
        bool plain32 = false;
        std::size_t rowBytes = 0;
        // Opaque black until read; entries past a short palette then repeat its first.
        std::array<std::uint32_t, 256> palette;
        Channel red, green, blue, alpha;
        std::vector<std::uint8_t> row;
        std::vector<std::uint8_t> iconMask;
        std::size_t iconMaskRowBytes = 0;
        std::int64_t iconMaskAt = -1;
        // Where an embedded profile lies, so that an icon's pixels and mask are found around it.
        std::int64_t profileAt = -1;
        std::int64_t profileEnd = -1;
    };

    LoadFailure BmpImage::ReadHeader()
    {
        const std::int64_t length = FileLength(file.get());
        unsigned char head[14];
        if (length < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0)
            return LoadFailure::ReadError;
        if (std::fread(head, 1, sizeof head, file.get()) != sizeof head)
            return LoadFailure::CutShort;
        if (head[0] != 'B' || head[1] != 'M')
            return ReadDib(0, length);
        pixelsAt = ReadLe(head + 10, 4);
        return ReadDib(sizeof head, length);
    }

    LoadFailure BmpImage::ReadHeader(std::int64_t iconDibAt)
    {
        container = Container::Icon;
        const std::int64_t length = FileLength(file.get());
        if (length < 0)
            return LoadFailure::ReadError;
        return ReadDib(iconDibAt, length);
    }

    bool BmpImage::SetMasks(const std::array<std::uint32_t, 4> &masks)
    {
        // Bits beyond the pixel, or shared by two channels, mean the masks are damaged.
        const std::uint32_t inPixel = bitCount == 32 ? 0xFFFFFFFFu : (1u << bitCount) - 1;
        std::uint32_t seen = 0;
        for (const std::uint32_t m : masks) {
            if ((m & ~inPixel) != 0 || (m & seen) != 0)
                return false;
            seen |= m;
        }
        // A declared alpha mask is taken as written, even when every alpha value is 0 and the
        // picture comes out as the background: guessing otherwise would need the whole image
        // before its first row could be drawn, and would differ from how PNG alpha is read.
        hasAlpha = masks[3] != 0;
        plain32 = bitCount == 32 && masks[0] == 0xFF0000u && masks[1] == 0xFF00u
            && masks[2] == 0xFFu && (masks[3] == 0 || masks[3] == 0xFF000000u)
            && std::endian::native == std::endian::little;
        return red.Set(masks[0]) && green.Set(masks[1]) && blue.Set(masks[2])
            && alpha.Set(masks[3]);
    }

    // A V4 or V5 header's colour space. Calibrated RGB (its endpoints and gamma values) is left
    // Unspecified: writers fill it with zeros or with sRGB's numbers far more often than with
    // anything meant. A linked profile names a file elsewhere and is not followed.
    void BmpImage::ReadColourSpace(const unsigned char *info, std::int64_t infoAt,
        std::uint32_t infoSize, std::int64_t fileLength)
    {
        constexpr std::uint32_t kSrgbSpace = 0x73524742; // 'sRGB'
        constexpr std::uint32_t kWindowsSpace = 0x57696E20; // 'Win '
        constexpr std::uint32_t kEmbedded = 0x4D424544; // 'MBED'
        constexpr std::int64_t kMaxProfile = 32 << 20;
        const std::uint32_t space = ReadLe(info + 56, 4);
        if (space == kSrgbSpace || space == kWindowsSpace) {
            colour.kind = ColourDescription::Kind::Srgb;
            return;
        }
        if (space != kEmbedded || infoSize < kMaxHeader)
            return;
        // The profile's offset counts from the start of the header.
        const std::int64_t at = infoAt + ReadLe(info + 112, 4);
        const std::int64_t length = ReadLe(info + 116, 4);
        colour.damaged = true;
        if (length < 132 || length > kMaxProfile || at < infoAt + infoSize
            || at + length > fileLength || !SeekStream(file.get(), at, SEEK_SET))
            return;
        std::vector<std::uint8_t> profile(static_cast<std::size_t>(length));
        // Read after the palette; the pixels are read from their own offset.
        if (std::fread(profile.data(), 1, profile.size(), file.get()) != profile.size())
            return;
        colour.damaged = false;
        colour.kind = ColourDescription::Kind::Icc;
        colour.icc = std::move(profile);
        profileAt = at;
        profileEnd = at + length;
    }

    LoadFailure BmpImage::ReadDib(std::int64_t infoAt, std::int64_t fileLength)
    {
        unsigned char info[kMaxHeader] = {};
        if (!SeekStream(file.get(), infoAt, SEEK_SET))
            return LoadFailure::ReadError;
        if (std::fread(info, 1, 4, file.get()) != 4)
            return LoadFailure::CutShort;
        const std::uint32_t infoSize = ReadLe(info, 4);
        // 16 and 64 bytes are OS/2 2.x headers, whose compression numbers mean other things.
        if (infoSize != kCoreHeader && infoSize != kInfoHeader && infoSize != 52 && infoSize != 56
            && infoSize != 108 && infoSize != kMaxHeader)
            return LoadFailure::Unsupported;
        if (std::fread(info + 4, 1, infoSize - 4, file.get()) != infoSize - 4)
            return LoadFailure::CutShort;

        std::int64_t width = 0, height = 0;
        std::uint32_t colourCount = 0;
        std::array<std::uint32_t, 4> masks {};
        std::int64_t masksSize = 0;
        if (infoSize == kCoreHeader) {
            width = ReadLe(info + 4, 2);
            height = ReadLe(info + 6, 2);
            bitCount = static_cast<int>(ReadLe(info + 10, 2));
        } else {
            width = static_cast<std::int32_t>(ReadLe(info + 4, 4));
            height = static_cast<std::int32_t>(ReadLe(info + 8, 4));
            bitCount = static_cast<int>(ReadLe(info + 14, 2));
            compression = ReadLe(info + 16, 4);
            colourCount = ReadLe(info + 32, 4);
        }
        if (height < 0) {
            topDown = true;
            height = -height;
        }
        if (container == Container::Icon) {
            // An icon's height counts its colour rows and its mask rows.
            if (topDown || height % 2 != 0)
                return LoadFailure::Damaged;
            height /= 2;
        }
        if (!IsAllowedRasterSize(width, height))
            return SizeFailure(width, height);

        switch (compression) {
        case kRgb:
            // 0 (the depth of an embedded picture) is left out; 2 bits are Windows CE's.
            if (bitCount != 1 && bitCount != 2 && bitCount != 4 && bitCount != 8 && bitCount != 16
                && bitCount != 24 && bitCount != 32)
                return LoadFailure::Unsupported;
            break;
        case kRle8:
        case kRle4:
            // Runs go from the first row stored, which top-down files put at the top.
            if (bitCount != (compression == kRle8 ? 8 : 4) || container == Container::Icon)
                return LoadFailure::Damaged;
            break;
        case kBitfields:
        case kAlphaBitfields:
            if (bitCount != 16 && bitCount != 32)
                return LoadFailure::Damaged;
            if (infoSize == kInfoHeader) {
                masksSize = compression == kAlphaBitfields ? 16 : 12;
                unsigned char extra[16];
                if (std::fread(extra, 1, static_cast<std::size_t>(masksSize), file.get())
                    != static_cast<std::size_t>(masksSize))
                    return LoadFailure::CutShort;
                for (int i = 0; i < masksSize / 4; ++i)
                    masks[static_cast<std::size_t>(i)] = ReadLe(extra + 4 * i, 4);
            } else {
                for (std::uint32_t i = 0; i < 4 && 40 + 4 * i + 4 <= infoSize; ++i)
                    masks[i] = ReadLe(info + 40 + 4 * i, 4);
            }
            break;
        default:
            return LoadFailure::Unsupported; // embedded JPEG or PNG, CMYK, or unknown
        }

        if (compression == kRgb && bitCount == 16)
            masks = { 0x7C00u, 0x03E0u, 0x001Fu, 0 };
        else if (compression == kRgb && bitCount == 32)
            masks = { 0xFF0000u, 0xFF00u, 0xFFu, container == Container::Icon ? 0xFF000000u : 0 };
        if (bitCount >= 16 && bitCount != 24 && !SetMasks(masks))
            return LoadFailure::Damaged;

        const std::int64_t paletteAt = infoAt + infoSize + masksSize;
        if (bitCount <= 8) {
            const std::uint32_t most = 1u << bitCount;
            if (colourCount > most)
                return LoadFailure::Damaged;
            const std::int64_t entrySize = infoSize == kCoreHeader ? 3 : 4;
            std::int64_t entries = colourCount != 0 ? colourCount : most;
            // Pixels cannot start inside the headers or a palette whose length the header
            // gives: they are read from the end of the palette, as other decoders read them.
            if (pixelsAt < paletteAt
                || (colourCount != 0 && pixelsAt < paletteAt + entries * entrySize))
                pixelsAt = -1;
            if (pixelsAt < 0) {
                pixelsAt = paletteAt + entries * entrySize;
            } else {
                // Writers that leave the count at 0 may still store fewer entries than the
                // depth allows; the pixel offset says how many there are room for.
                entries = std::min(entries, (pixelsAt - paletteAt) / entrySize);
            }
            if (const LoadFailure failure = ReadPalette(entries, entrySize);
                failure != LoadFailure::None)
                return failure;
        } else if (pixelsAt < paletteAt) {
            pixelsAt = -1;
        }
        if (bitCount > 8 && pixelsAt < 0) {
            // A colour table beside true-colour pixels is only a hint for old displays.
            pixelsAt = paletteAt + std::int64_t { colourCount } * (infoSize == kCoreHeader ? 3 : 4);
        }

        if (infoSize >= 108)
            ReadColourSpace(info, infoAt, infoSize, fileLength);
        size = QSize(static_cast<int>(width), static_cast<int>(height));
        rowBytes = static_cast<std::size_t>((width * bitCount + 31) / 32 * 4);
        if (compression == kRle8 || compression == kRle4)
            return pixelsAt < fileLength ? LoadFailure::None : LoadFailure::CutShort;
        // A file too short for its rows is refused here, before any raster is allocated.
        std::int64_t end = PlaceIconParts();
        if (end > fileLength)
            return LoadFailure::CutShort;
        row.resize(rowBytes);
        return LoadFailure::None;
    }

    LoadFailure BmpImage::ReadPalette(std::int64_t entries, std::int64_t entrySize)
    {
        unsigned char entry[4];
        for (std::int64_t i = 0; i < entries; ++i) {
            if (std::fread(entry, 1, static_cast<std::size_t>(entrySize), file.get())
                != static_cast<std::size_t>(entrySize))
                return LoadFailure::CutShort;
            palette[static_cast<std::size_t>(i)] = 0xFF000000u | ReadLe(entry, 3);
        }
        // Indices past a short palette show its first entry, as several other decoders do.
        if (entries > 0)
            std::fill(palette.begin() + entries, palette.end(), palette[0]);
        return LoadFailure::None;
    }

    std::int64_t BmpImage::PlaceIconParts()
    {
        const auto height = static_cast<std::int64_t>(size.height());
        // Writers put an icon's embedded profile after the palette or after the pixels; the
        // pixels and the mask are found on either side of it, never inside.
        if (container == Container::Icon && profileAt == pixelsAt)
            pixelsAt = profileEnd;
        std::int64_t end = pixelsAt + static_cast<std::int64_t>(rowBytes) * height;
        if (container != Container::Icon || hasAlpha)
            return end;
        iconMaskRowBytes = static_cast<std::size_t>((size.width() + 31) / 32 * 4);
        iconMaskAt = end;
        const std::int64_t maskBytes = static_cast<std::int64_t>(iconMaskRowBytes) * height;
        if (profileAt >= 0 && profileAt < iconMaskAt + maskBytes && profileEnd > iconMaskAt)
            iconMaskAt = profileEnd;
        return iconMaskAt + maskBytes;
    }

    void BmpImage::ConvertRow(const std::uint8_t *in, std::uint32_t *out, QRgb background) const
    {
        const int width = size.width();
        switch (bitCount) {
        case 1:
            for (int x = 0; x < width; ++x)
                out[x] = palette[(in[x >> 3] >> (7 - (x & 7))) & 1u];
            return;
        case 2:
            for (int x = 0; x < width; ++x)
                out[x] = palette[(in[x >> 2] >> (6 - 2 * (x & 3))) & 3u];
            return;
        case 4:
            for (int x = 0; x < width; ++x)
                out[x] = palette[(in[x >> 1] >> ((x & 1) != 0 ? 0 : 4)) & 0xFu];
            return;
        case 8:
            for (int x = 0; x < width; ++x)
                out[x] = palette[in[x]];
            return;
        case 24: {
            int x = 0;
            if constexpr (std::endian::native == std::endian::little) {
                // B, G, R bytes are 0x00RRGGBB read little-endian: four pixels come out of
                // three words, several times faster than byte by byte.
                for (; x + 4 <= width; x += 4, in += 12) {
                    std::uint32_t w[3];
                    std::memcpy(w, in, sizeof w);
                    out[x] = 0xFF000000u | w[0];
                    out[x + 1] = 0xFF000000u | (w[0] >> 24) | (w[1] << 8);
                    out[x + 2] = 0xFF000000u | (w[1] >> 16) | (w[2] << 16);
                    out[x + 3] = 0xFF000000u | (w[2] >> 8);
                }
            }
            for (; x < width; ++x, in += 3)
                out[x] = 0xFF000000u | (std::uint32_t { in[2] } << 16)
                    | (std::uint32_t { in[1] } << 8) | in[0];
            return;
        }
        default:
            break;
        }
        if (plain32) {
            std::memcpy(out, in, static_cast<std::size_t>(width) * 4);
            if (hasAlpha && !ConvertsColours())
                ComposeRowOver(out, width, background);
            else
                MakeRowOpaque(out, width);
            return;
        }
        const int bytes = bitCount / 8;
        for (int x = 0; x < width; ++x, in += bytes) {
            const std::uint32_t p = ReadLe(in, bytes);
            out[x] = ((hasAlpha ? alpha.Extract(p) : 255u) << 24) | (red.Extract(p) << 16)
                | (green.Extract(p) << 8) | blue.Extract(p);
        }
        if (hasAlpha && !ConvertsColours())
            ComposeRowOver(out, width, background);
    }

    bool BmpImage::ReadIconMask()
    {
        iconMask.resize(iconMaskRowBytes * static_cast<std::size_t>(size.height()));
        return SeekStream(file.get(), iconMaskAt, SEEK_SET)
            && std::fread(iconMask.data(), 1, iconMask.size(), file.get()) == iconMask.size();
    }

    LoadFailure BmpImage::DrawStoredRows(
        std::uint32_t *bits, std::ptrdiff_t stride, QRgb background)
    {
        const int width = size.width();
        const int height = size.height();
        // The header checked that the file holds every row, so a short read means it shrank.
        if (iconMaskRowBytes != 0 && !ReadIconMask())
            return LoadFailure::CutShort;
        if (!SeekStream(file.get(), pixelsAt, SEEK_SET))
            return LoadFailure::ReadError;
        const std::uint32_t opaqueBackground = background | 0xFF000000u;
        for (int i = 0; i < height; ++i) {
            if (std::fread(row.data(), 1, rowBytes, file.get()) != rowBytes)
                return std::ferror(file.get()) ? LoadFailure::ReadError : LoadFailure::CutShort;
            // Bottom-up files fill the raster from its last row.
            const int y = topDown ? i : height - 1 - i;
            std::uint32_t *out = bits + y * stride;
            ConvertRow(row.data(), out, background);
            // Palette pictures were converted through their palette.
            if (ConvertsColours() && bitCount > 8) {
                ConvertColours(out, width);
                if (hasAlpha)
                    ComposeRowOver(out, width, background);
            }
            if (iconMaskRowBytes == 0)
                continue;
            const std::uint8_t *mask
                = iconMask.data() + static_cast<std::size_t>(i) * iconMaskRowBytes;
            for (int x = 0; x < width; ++x) {
                if ((mask[x >> 3] >> (7 - (x & 7))) & 1u)
                    out[x] = opaqueBackground;
            }
        }
        return LoadFailure::None;
    }

    LoadFailure BmpImage::DrawRle(std::uint32_t *bits, std::ptrdiff_t stride, QRgb background)
    {
        const int width = size.width();
        const int height = size.height();
        // Pixels no run reaches are transparent; the raster starts as the background.
        const std::uint32_t opaqueBackground = background | 0xFF000000u;
        for (int y = 0; y < height; ++y)
            std::fill_n(bits + y * stride, width, opaqueBackground);
        if (!SeekStream(file.get(), pixelsAt, SEEK_SET))
            return LoadFailure::ReadError;
        const bool four = compression == kRle4;
        std::FILE *in = file.get();
        std::uint8_t literal[256];
        // x may run past the width: what lies beyond is clipped, as other decoders clip it.
        int x = 0;
        int r = 0; // counted from the first row stored
        // Stops at the end-of-bitmap code, or once the end of the last row has been reached.
        while (r < height) {
            const int count = std::getc(in);
            const int code = std::getc(in);
            if (count == EOF || code == EOF)
                return LoadFailure::CutShort;
            std::uint32_t *out = bits + (topDown ? r : height - 1 - r) * stride;
            const int room = std::max(0, width - x);
            if (count > 0) {
                const std::uint32_t first = palette[four ? code >> 4 : code];
                const std::uint32_t second = palette[four ? code & 0xF : code];
                for (int i = 0; i < std::min(count, room); ++i)
                    out[x + i] = (i & 1) != 0 ? second : first;
                x += count;
            } else if (code == 0) {
                x = 0;
                ++r;
            } else if (code == 1) {
                return LoadFailure::None;
            } else if (code == 2) {
                const int dx = std::getc(in);
                const int dy = std::getc(in);
                if (dx == EOF || dy == EOF)
                    return LoadFailure::CutShort;
                x += dx;
                r += dy;
            } else {
                // Literal pixels, padded to an even number of bytes.
                const std::size_t bytes = four ? (static_cast<std::size_t>(code) + 1) / 2 : code;
                const std::size_t padded = (bytes + 1) & ~std::size_t { 1 };
                if (std::fread(literal, 1, padded, in) != padded)
                    return LoadFailure::CutShort;
                for (int i = 0; i < std::min(code, room); ++i)
                    out[x + i] = palette[four ? (literal[i >> 1] >> ((i & 1) != 0 ? 0 : 4)) & 0xFu
                                              : literal[i]];
                x += code;
            }
        }
        return LoadFailure::None;
    }

    LoadFailure BmpImage::DrawOver(Raster &raster, QRgb background)
    {
        if (raster.Size() != size)
            return LoadFailure::OutOfMemory;
        auto *bits = raster.Bits();
        const std::ptrdiff_t stride = raster.Stride();
        // A palette's colours are converted once instead of every pixel's.
        if (ConvertsColours() && !palette.empty())
            ConvertColours(palette.data(), static_cast<std::int32_t>(palette.size()));
        if (compression == kRle8 || compression == kRle4)
            return DrawRle(bits, stride, background);
        return DrawStoredRows(bits, stride, background);
    }

} // namespace

OpenedImage OpenBmp(FilePtr file) { return Open<BmpImage>(std::move(file)); }

OpenedImage OpenIco(FilePtr file)
{
    // The directory: reserved, type, count, then 16 bytes an entry; the first entry is drawn.
    unsigned char head[6 + 16];
    if (std::fread(head, 1, sizeof head, file.get()) != sizeof head)
        return { nullptr, LoadFailure::CutShort };
    const std::int64_t at = ReadLe(head + 6 + 12, 4);
    unsigned char signature[8];
    if (!SeekStream(file.get(), at, SEEK_SET))
        return { nullptr, LoadFailure::Damaged };
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature)
        return { nullptr, LoadFailure::CutShort };
    if (std::memcmp(signature, "\x89PNG\r\n\x1A\n", sizeof signature) == 0) {
        // libpng reads from where the stream stands.
        if (!SeekStream(file.get(), at, SEEK_SET))
            return { nullptr, LoadFailure::ReadError };
        return OpenPng(std::move(file));
    }
    return Open<BmpImage>(std::move(file), at);
}

} // namespace imaging
