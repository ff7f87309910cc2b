#pragma once

#include <QImage>
#include <QSize>

#include <cstdint>

namespace imaging {

#ifdef QUILLMERE_MAX_RASTER_PIXELS
inline constexpr std::int64_t kMaxRasterPixels = QUILLMERE_MAX_RASTER_PIXELS;
#else
// 16384 x 16384: 1 GiB of raster at 4 bytes a pixel.
inline constexpr std::int64_t kMaxRasterPixels = std::int64_t { 16384 } * 16384;
#endif

// No side may exceed this even when the pixel count allows it (JPEG's own limit is 65,500).
inline constexpr std::int32_t kMaxRasterSide = 1 << 20;

// Whether a raster of this size is within the loader's limits (each side 1..kMaxRasterSide, at
// most kMaxRasterPixels pixels).
[[nodiscard]] bool IsAllowedRasterSize(std::int64_t width, std::int64_t height);

#ifdef QUILLMERE_MAX_STREAM_PIXELS
inline constexpr std::int64_t kMaxStreamPixels = QUILLMERE_MAX_STREAM_PIXELS;
#else
// No limit beyond the sides': the row path holds a few rows, never the picture.
inline constexpr std::int64_t kMaxStreamPixels = std::int64_t { kMaxRasterSide } * kMaxRasterSide;
#endif

// The limit of the row path (DecodedImage::DrawRows), where nothing holds the whole picture: each
// side 1..kMaxRasterSide (the fuzzer's build also caps the pixel count, to keep runs short).
// Decoders that need the whole picture in memory for some variant (interlaced, progressive) ask
// IsAllowedRasterSize for it as well.
[[nodiscard]] bool IsAllowedStreamSize(std::int64_t width, std::int64_t height);

// Whether the machine has this many bytes available right now; big rasters are refused up front
// rather than left to the out-of-memory killer.
[[nodiscard]] bool MemoryAllows(std::int64_t bytes);

// A new Format_RGB32 image of the given size with unspecified contents, or a null image when the
// size is not allowed or the memory cannot be had. Big rasters get transparent huge pages and a
// helper thread that faults them in ahead of the writer; both take the first-write cost off the
// decoding thread.
[[nodiscard]] QImage AllocateRaster(QSize size);

} // namespace imaging
