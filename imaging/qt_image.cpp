// BMP and ICO through Qt's image readers.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/raster_memory.h"

#include <QFile>
#include <QImageReader>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace imaging {
namespace {

    // Qt's BMP reader pads a file that ends early with blank pixels and reports success, which
    // would give a wrong average shown as right. This check catches files cut short.

    std::uint32_t LittleEndian(const unsigned char *bytes, int n)
    {
        std::uint32_t value = 0;
        for (int i = n - 1; i >= 0; --i)
            value = (value << 8) | bytes[i];
        return value;
    }

    // Whether an uncompressed BMP's file is long enough for all of its rows. Compressed (RLE,
    // embedded JPEG or PNG) ones are left to the reader.
    bool BmpPixelsComplete(std::FILE *file, long fileSize)
    {
        unsigned char header[14 + 16];
        if (std::fread(header, 1, sizeof header, file) != sizeof header)
            return false;
        const std::int64_t pixelsAt = LittleEndian(header + 10, 4);
        const std::uint32_t infoSize = LittleEndian(header + 14, 4);
        std::int64_t width = 0, height = 0, bitsPerPixel = 0;
        if (infoSize == 12) { // OS/2 core header
            width = LittleEndian(header + 18, 2);
            height = LittleEndian(header + 20, 2);
            bitsPerPixel = LittleEndian(header + 24, 2);
        } else if (infoSize >= 40) {
            unsigned char compression[4];
            if (std::fread(compression, 1, sizeof compression, file) != sizeof compression)
                return false;
            const std::uint32_t method = LittleEndian(compression, 4);
            if (method != 0 && method != 3 && method != 6) // RGB, BITFIELDS, ALPHABITFIELDS
                return true;
            width = static_cast<std::int32_t>(LittleEndian(header + 18, 4));
            height = static_cast<std::int32_t>(LittleEndian(header + 22, 4));
            bitsPerPixel = LittleEndian(header + 28, 2);
        } else {
            return false;
        }
        if (height < 0)
            height = -height; // top-down rows
        if (!IsAllowedRasterSize(width, height) || bitsPerPixel < 1 || bitsPerPixel > 64)
            return false;
        const std::int64_t stride = (width * bitsPerPixel + 31) / 32 * 4;
        return pixelsAt + stride * height <= fileSize;
    }

    class QtImage final : public DecodedImage
    {
    public:
        explicit QtImage(QImage decoded)
            : pixels(std::move(decoded))
        {
            size = pixels.size();
        }

        [[nodiscard]] QImage TakeRaster() override { return std::move(pixels); }
        [[nodiscard]] bool DrawOver(QImage &raster, QRgb background) override;

    private:
        QImage pixels;
    };

    // The raster is the decoded image itself: composed in place, then relabelled as opaque.
    bool QtImage::DrawOver(QImage &raster, QRgb background)
    {
        if (raster.size() != size)
            return false;
        const bool alpha = raster.format() == QImage::Format_ARGB32;
        if (!alpha && raster.format() != QImage::Format_RGB32)
            return false;
        for (int y = 0; y < size.height(); ++y) {
            auto *row = reinterpret_cast<std::uint32_t *>(raster.scanLine(y));
            if (alpha)
                ComposeRowOver(row, size.width(), background);
            else
                MakeRowOpaque(row, size.width());
        }
        return raster.reinterpretAsFormat(QImage::Format_RGB32);
    }

} // namespace

std::unique_ptr<DecodedImage> OpenWithQt(FilePtr file, const char *format)
{
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return nullptr;
    const long fileSize = std::ftell(file.get());
    std::rewind(file.get());
    const bool complete
        = std::strcmp(format, "bmp") == 0 ? BmpPixelsComplete(file.get(), fileSize) : true;
    if (!complete || std::fseek(file.get(), 0, SEEK_SET) != 0)
        return nullptr;
    QFile device;
    if (!device.open(file.get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return nullptr;
    QImageReader reader(&device);
    // By content only: Qt takes the .dib suffix for a headerless format otherwise.
    reader.setDecideFormatFromContent(true);
    if (reader.format() != format)
        return nullptr;
    const QSize declared = reader.size();
    if (!IsAllowedRasterSize(declared.width(), declared.height())
        || !MemoryAllows(std::int64_t { declared.width() } * declared.height() * 4))
        return nullptr;
    QImage decoded;
    if (!reader.read(&decoded) || !IsAllowedRasterSize(decoded.width(), decoded.height()))
        return nullptr;
    // In place where Qt can, so the decoded pixels become the raster without a copy.
    decoded.convertTo(decoded.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (decoded.isNull())
        return nullptr;
    return std::make_unique<QtImage>(std::move(decoded));
}

} // namespace imaging
