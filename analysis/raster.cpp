#include "analysis/raster.h"

namespace analysis {

Raster::Raster(std::int32_t width, std::int32_t height, ColourValue fill)
    : width(width > 0 ? width : 0)
    , height(height > 0 ? height : 0)
    , pixels(static_cast<std::size_t>(this->width) * static_cast<std::size_t>(this->height), fill)
{
}

} // namespace analysis
