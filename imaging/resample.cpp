#include "imaging/resample.h"

#include "imaging/compose.h"

#include <cstdint>

#include <stb_image_resize.h>

namespace imaging {

bool ResampleBicubic(const Raster &source, Raster &target)
{
    if (source.IsNull() || target.IsNull())
        return false;
    auto *const out = reinterpret_cast<unsigned char *>(target.Bits());
    // The alpha byte is resampled as a plain channel of 255s; no premultiplication is needed
    // because the source was composed over the background first, which gives the same result as
    // resampling premultiplied colours and composing afterwards, up to rounding (the filter is
    // linear and its weights sum to one).
    const int ok = stbir_resize(source.Bits(), source.Width(), source.Height(),
        static_cast<int>(source.Stride() * 4), out, target.Width(), target.Height(),
        static_cast<int>(target.Stride() * 4), STBIR_TYPE_UINT8, 4, STBIR_ALPHA_CHANNEL_NONE, 0,
        STBIR_EDGE_CLAMP, STBIR_EDGE_CLAMP, STBIR_FILTER_DEFAULT, STBIR_FILTER_DEFAULT,
        STBIR_COLORSPACE_LINEAR, nullptr);
    if (!ok)
        return false;
    for (int y = 0; y < target.Height(); ++y)
        MakeRowOpaque(target.Row(y), target.Width());
    return true;
}

} // namespace imaging
