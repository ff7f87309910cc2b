// BMP, GIF and ICO through Qt's image readers.
#include "imaging/decoded_image.h"

#include "imaging/compose.h"
#include "imaging/raster_memory.h"

#include <QFile>
#include <QImageReader>

#include <cstdint>

namespace imaging {
namespace {

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
