#include "imaging/raster_memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>

namespace imaging {
namespace {

    constexpr std::size_t kHugePage = std::size_t { 2 } << 20;
    // Below this, huge pages gain nothing and the memory check is not worth a file read.
    constexpr std::int64_t kBigRaster = std::int64_t { 32 } << 20;

    void FreeRaster(void *memory) { std::free(memory); }

} // namespace

bool IsAllowedRasterSize(std::int64_t width, std::int64_t height)
{
    return width >= 1 && height >= 1 && width <= kMaxRasterSide && height <= kMaxRasterSide
        && width * height <= kMaxRasterPixels;
}

bool MemoryAllows(std::int64_t bytes)
{
    if (bytes < kBigRaster)
        return true;
    std::FILE *meminfo = std::fopen("/proc/meminfo", "re");
    if (!meminfo)
        return true; // nothing to go by; let the allocation decide
    char line[256];
    long long availableKiB = -1;
    while (std::fgets(line, sizeof line, meminfo)) {
        if (std::sscanf(line, "MemAvailable: %lld kB", &availableKiB) == 1)
            break;
    }
    std::fclose(meminfo);
    return availableKiB < 0 || bytes / 1024 < availableKiB;
}

QImage AllocateRaster(QSize size)
{
    if (!IsAllowedRasterSize(size.width(), size.height()))
        return {};
    const qsizetype stride = qsizetype { size.width() } * 4;
    const std::int64_t bytes = std::int64_t { stride } * size.height();
    if (!MemoryAllows(bytes))
        return {};
    const bool big = bytes >= kBigRaster;
    void *memory = nullptr;
    if (posix_memalign(&memory, big ? kHugePage : 64, static_cast<std::size_t>(bytes)) != 0)
        return {};
    if (big)
        madvise(memory, static_cast<std::size_t>(bytes), MADV_HUGEPAGE);
    QImage raster(static_cast<uchar *>(memory), size.width(), size.height(), stride,
        QImage::Format_RGB32, FreeRaster, memory);
    if (raster.isNull())
        std::free(memory); // Qt refused the buffer, so it will never call FreeRaster
    return raster;
}

} // namespace imaging
