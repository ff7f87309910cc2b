#include "imaging/raster_memory.h"

#include "imaging/system_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace imaging {
namespace {

    constexpr std::size_t kHugePage = std::size_t { 2 } << 20;
    // Below this, huge pages gain nothing and the memory check is not worth a file read.
    constexpr std::int64_t kBigRaster = std::int64_t { 32 } << 20;

#if defined(_WIN32)
    void *AllocateAligned(std::size_t alignment, std::size_t bytes)
    {
        return _aligned_malloc(bytes, alignment);
    }
    void FreeAligned(void *memory) { _aligned_free(memory); }
#else
    void *AllocateAligned(std::size_t alignment, std::size_t bytes)
    {
        void *memory = nullptr;
        return posix_memalign(&memory, alignment, bytes) == 0 ? memory : nullptr;
    }
    void FreeAligned(void *memory) { std::free(memory); }
#endif

    void FreeRaster(void *memory) { FreeAligned(memory); }

    // A fresh big raster costs a page fault and a page of zeroing per 2 MiB (or 4 KiB) on first
    // write, about a tenth of a second for 24 megapixels on these machines. A helper thread
    // faults the pages in on the other core while the decoder fills the raster from the top.
    // MADV_POPULATE_WRITE only maps pages; pages the decoder already wrote are left alone.
    struct PrefaultedRaster
    {
        void *memory = nullptr;
        std::atomic<bool> stop { false };
        std::thread worker;
    };

    void PrefaultPages(PrefaultedRaster *raster, std::size_t bytes)
    {
#if defined(__linux__)
        constexpr std::size_t kStep = std::size_t { 8 } << 20;
        auto *base = static_cast<char *>(raster->memory);
        for (std::size_t at = 0; at < bytes && !raster->stop.load(std::memory_order_relaxed);
             at += kStep) {
            if (madvise(base + at, std::min(kStep, bytes - at), MADV_POPULATE_WRITE) != 0
                && errno != EINTR)
                return; // older kernels do not know the advice; the decoder faults them in
        }
#else
        // Elsewhere there is no advice that maps pages without writing them.
        (void)raster;
        (void)bytes;
#endif
    }

    void FreePrefaultedRaster(void *info)
    {
        auto *raster = static_cast<PrefaultedRaster *>(info);
        raster->stop.store(true, std::memory_order_relaxed);
        if (raster->worker.joinable())
            raster->worker.join();
        FreeAligned(raster->memory);
        delete raster;
    }

} // namespace

bool IsAllowedRasterSize(std::int64_t width, std::int64_t height)
{
    return width >= 1 && height >= 1 && width <= kMaxRasterSide && height <= kMaxRasterSide
        && width * height <= kMaxRasterPixels;
}

bool IsAllowedStreamSize(std::int64_t width, std::int64_t height)
{
    return width >= 1 && height >= 1 && width <= kMaxRasterSide && height <= kMaxRasterSide
        && width * height <= kMaxStreamPixels;
}

bool MemoryAllows(std::int64_t bytes)
{
    if (bytes < kBigRaster)
        return true;
    // With nothing to go by, the allocation decides.
    const std::int64_t available = AvailableMemoryBytes();
    return available < 0 || bytes / 1024 < available / 1024;
}

Raster::Raster(std::uint32_t *pixels, QSize size, Free free, void *freeInfo)
    : pixels(pixels)
    , size(size)
    , free(free)
    , freeInfo(freeInfo)
{
}

Raster::~Raster()
{
    if (free)
        free(freeInfo);
}

Raster::Raster(Raster &&other) noexcept
    : pixels(std::exchange(other.pixels, nullptr))
    , size(std::exchange(other.size, QSize()))
    , free(std::exchange(other.free, nullptr))
    , freeInfo(std::exchange(other.freeInfo, nullptr))
{
}

Raster &Raster::operator=(Raster &&other) noexcept
{
    if (this != &other) {
        if (free)
            free(freeInfo);
        pixels = std::exchange(other.pixels, nullptr);
        size = std::exchange(other.size, QSize());
        free = std::exchange(other.free, nullptr);
        freeInfo = std::exchange(other.freeInfo, nullptr);
    }
    return *this;
}

Raster::Released Raster::Release()
{
    Released released { pixels, free, freeInfo };
    pixels = nullptr;
    size = QSize();
    free = nullptr;
    freeInfo = nullptr;
    return released;
}

Raster AllocateRaster(QSize size)
{
    if (!IsAllowedRasterSize(size.width(), size.height()))
        return {};
    const std::int64_t bytes = std::int64_t { size.width() } * 4 * size.height();
    if (!MemoryAllows(bytes))
        return {};
    const bool big = bytes >= kBigRaster;
    void *memory = AllocateAligned(big ? kHugePage : 64, static_cast<std::size_t>(bytes));
    if (!memory)
        return {};
    auto *pixels = static_cast<std::uint32_t *>(memory);
    if (!big)
        return Raster(pixels, size, FreeRaster, memory);

#if defined(__linux__)
    madvise(memory, static_cast<std::size_t>(bytes), MADV_HUGEPAGE);
#endif
    auto *info = new (std::nothrow) PrefaultedRaster;
    if (!info) {
        FreeAligned(memory);
        return {};
    }
    info->memory = memory;
    Raster raster(pixels, size, FreePrefaultedRaster, info);
    try {
        info->worker = std::thread(PrefaultPages, info, static_cast<std::size_t>(bytes));
    } catch (const std::system_error &) {
        // No thread to spare: the decoder faults the pages in itself.
    }
    return raster;
}

} // namespace imaging
