#pragma once

#include <QSize>

#include <cstddef>
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

// A picture being decoded: 32-bit pixels 0xAARRGGBB in native byte order (the layout of Qt's
// Format_RGB32 and ARGB32), rows Width() pixels apart, top row first. It owns its memory and
// frees it when it goes, unless Release hands the memory on. Nothing here needs a GUI library, so
// the command-line program decodes without one.
class Raster
{
public:
    using Free = void (*)(void *info);

    Raster() = default;
    // Takes over width x height pixels at `pixels`, given back with free(freeInfo).
    Raster(std::uint32_t *pixels, QSize size, Free free, void *freeInfo);
    ~Raster();
    Raster(Raster &&other) noexcept;
    Raster &operator=(Raster &&other) noexcept;
    Raster(const Raster &) = delete;
    Raster &operator=(const Raster &) = delete;

    [[nodiscard]] bool IsNull() const { return pixels == nullptr; }
    [[nodiscard]] QSize Size() const { return size; }
    [[nodiscard]] std::int32_t Width() const { return size.width(); }
    [[nodiscard]] std::int32_t Height() const { return size.height(); }
    // Pixels from one row to the next.
    [[nodiscard]] std::ptrdiff_t Stride() const { return size.width(); }
    [[nodiscard]] std::size_t ByteCount() const
    {
        return static_cast<std::size_t>(size.width()) * static_cast<std::size_t>(size.height()) * 4;
    }
    [[nodiscard]] std::uint32_t *Bits() { return pixels; }
    [[nodiscard]] const std::uint32_t *Bits() const { return pixels; }
    [[nodiscard]] std::uint32_t *Row(std::int32_t y) { return pixels + y * Stride(); }
    [[nodiscard]] const std::uint32_t *Row(std::int32_t y) const { return pixels + y * Stride(); }

    // The memory and how to free it, for a holder that outlives the raster (a QImage, say);
    // the raster is null afterwards.
    struct Released
    {
        std::uint32_t *pixels = nullptr;
        Free free = nullptr;
        void *freeInfo = nullptr;
    };
    [[nodiscard]] Released Release();

private:
    std::uint32_t *pixels = nullptr;
    QSize size;
    Free free = nullptr;
    void *freeInfo = nullptr;
};

// A new raster of the given size with unspecified contents, or a null one when the size is not
// allowed or the memory cannot be had. Big rasters get transparent huge pages and a helper thread
// that faults them in ahead of the writer; both take the first-write cost off the decoding thread.
[[nodiscard]] Raster AllocateRaster(QSize size);

} // namespace imaging
