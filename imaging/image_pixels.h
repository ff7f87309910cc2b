#pragma once

#include "analysis/calc_color.h"
#include "analysis/colour_math.h"

#include <QImage>

#include <cstdint>

namespace imaging {

// The average-colour scan's pixel source over a picture. The picture is shared, not copied, when
// it is already 32-bit RGB (the loader's output); any other format is converted once.
class ImagePixels
{
public:
    explicit ImagePixels(const QImage &picture)
        : image(IsReadable(picture) ? picture : picture.convertToFormat(QImage::Format_RGB32))
        , bits(image.constBits())
        , stride(image.bytesPerLine())
        , width(image.width())
        , height(image.height())
    {
    }

    [[nodiscard]] std::int32_t Width() const { return width; }
    [[nodiscard]] std::int32_t Height() const { return height; }

    // 0x00BBGGRR of column x, row y (the alpha byte is ignored); 0xFFFFFFFF outside the picture.
    [[nodiscard]] analysis::ColourValue ReadPixel(std::int32_t x, std::int32_t y) const
    {
        if (static_cast<std::uint32_t>(x) >= static_cast<std::uint32_t>(width)
            || static_cast<std::uint32_t>(y) >= static_cast<std::uint32_t>(height))
            return 0xFFFFFFFFu;
        return ReadPixelInside(x, y);
    }

    // True when pixels 0 .. end - 1 of row y lie inside the picture.
    [[nodiscard]] bool RowInside(std::int32_t y, std::int32_t end) const
    {
        return static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(height) && end <= width;
    }

    // ReadPixel for a point known to be inside (see RowInside).
    [[nodiscard]] analysis::ColourValue ReadPixelInside(std::int32_t x, std::int32_t y) const
    {
        const auto *row = reinterpret_cast<const std::uint32_t *>(bits + y * stride);
        const std::uint32_t argb = row[x];
        return ((argb >> 16) & 0xFFu) | (argb & 0xFF00u) | ((argb & 0xFFu) << 16);
    }

private:
    [[nodiscard]] static bool IsReadable(const QImage &picture)
    {
        return picture.format() == QImage::Format_RGB32
            || picture.format() == QImage::Format_ARGB32;
    }

    QImage image;
    const uchar *bits;
    qsizetype stride;
    std::int32_t width;
    std::int32_t height;
};

// The scan's vectorised row path must stay available to the tool's loop.
static_assert(analysis::CheckedRowPixelSource<ImagePixels>);

} // namespace imaging
