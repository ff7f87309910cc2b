// GIF through Qt's image reader.
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

    // Qt's GIF reader pads a file that ends early with blank pixels and reports success, which
    // would give a wrong average shown as right. These checks catch files cut short.

    // Skips a chain of GIF data sub-blocks; false if the file ends before the terminator.
    bool SkipGifSubBlocks(std::FILE *file)
    {
        for (;;) {
            const int length = std::getc(file);
            if (length == EOF)
                return false;
            if (length == 0)
                return true;
            if (std::fseek(file, length, SEEK_CUR) != 0)
                return false;
        }
    }

    // Whether the GIF holds its first image's data in full (the blocks up to and including it).
    bool GifFirstImageComplete(std::FILE *file, long fileSize)
    {
        unsigned char screen[13];
        if (std::fread(screen, 1, sizeof screen, file) != sizeof screen)
            return false;
        long colourTable = (screen[10] & 0x80) ? 3L << ((screen[10] & 7) + 1) : 0;
        if (std::fseek(file, colourTable, SEEK_CUR) != 0)
            return false;
        for (;;) {
            const int block = std::getc(file);
            if (block == 0x21) { // extension: label, then sub-blocks
                if (std::getc(file) == EOF || !SkipGifSubBlocks(file))
                    return false;
            } else if (block == 0x2C) { // image descriptor
                unsigned char descriptor[9];
                if (std::fread(descriptor, 1, sizeof descriptor, file) != sizeof descriptor)
                    return false;
                colourTable = (descriptor[8] & 0x80) ? 3L << ((descriptor[8] & 7) + 1) : 0;
                if (std::fseek(file, colourTable + 1, SEEK_CUR) != 0) // + LZW code size
                    return false;
                // fseek may go past the end without complaint; the block reads cannot.
                return std::ftell(file) <= fileSize && SkipGifSubBlocks(file);
            } else {
                return false; // trailer before any image, or not a block at all
            }
            if (std::ftell(file) > fileSize)
                return false;
        }
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
        = std::strcmp(format, "gif") == 0 ? GifFirstImageComplete(file.get(), fileSize) : true;
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
