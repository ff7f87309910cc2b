#pragma once

#include "imaging/raster_memory.h"

namespace imaging {

// Resamples an opaque raster into target (any size) with a bicubic
// filter: Catmull-Rom when enlarging, Mitchell when reducing, where the filter widens so that every
// source pixel contributes (a fine checkerboard reduces to grey). False when working memory runs
// out.
[[nodiscard]] bool ResampleBicubic(const Raster &source, Raster &target);

} // namespace imaging
