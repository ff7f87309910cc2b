#pragma once

#include <QImage>

namespace imaging {

// Resamples an opaque Format_RGB32 image into target (Format_RGB32, any size) with a bicubic
// filter: Catmull-Rom when enlarging, Mitchell when reducing, where the filter widens so that every
// source pixel contributes (a fine checkerboard reduces to grey). False when working memory runs
// out.
[[nodiscard]] bool ResampleBicubic(const QImage &source, QImage &target);

} // namespace imaging
