#include "imaging/resample.h"

#include "imaging/compose.h"

#include <cstdint>

#include <stb_image_resize.h>

namespace imaging {

bool ResampleBicubic(const QImage &source, QImage &target)
{
    if (source.format() != QImage::Format_RGB32 || target.format() != QImage::Format_RGB32
        || source.isNull() || target.isNull())
        return false;
    uchar *const out = target.bits();
    // The alpha byte is resampled as a plain channel of 255s; no premultiplication is needed
    // because the source was composed over the background first, which gives the same result as
    // resampling premultiplied colours and composing afterwards, up to rounding (the filter is
    // linear and its weights sum to one).
    const int ok = stbir_resize(source.constBits(), source.width(), source.height(),
        static_cast<int>(source.bytesPerLine()), out, target.width(), target.height(),
        static_cast<int>(target.bytesPerLine()), STBIR_TYPE_UINT8, 4, STBIR_ALPHA_CHANNEL_NONE, 0,
        STBIR_EDGE_CLAMP, STBIR_EDGE_CLAMP, STBIR_FILTER_DEFAULT, STBIR_FILTER_DEFAULT,
        STBIR_COLORSPACE_LINEAR, nullptr);
    if (!ok)
        return false;
    for (int y = 0; y < target.height(); ++y)
        MakeRowOpaque(
            reinterpret_cast<std::uint32_t *>(out + y * target.bytesPerLine()), target.width());
    return true;
}

} // namespace imaging
