// libFuzzer target: arbitrary bytes as a picture file, loaded at its own size or stretched.
#include "imaging/formats_module.h"
#include "imaging/mod_gdi_plus_resize.h"

#include "analysis/pixel_statistics.h"

#include <QFile>

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The input goes into an anonymous in-memory file, so the loader opens it by path like any other
// and nothing is written to disk.
int InputFile()
{
    static const int fd = memfd_create("quillmere-loader-fuzz", MFD_CLOEXEC);
    return fd;
}

} // namespace

// The newer formats' module is loaded up front, so its code counts towards coverage from the start.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return imaging::LoadFormatsModule() ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const int fd = InputFile();
    if (fd < 0 || ftruncate(fd, 0) != 0)
        return 0;
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        return 0;
    const QString path = QString::fromStdString("/proc/self/fd/" + std::to_string(fd));

    // The input's length picks the requested size, so every file is tried both ways.
    std::int32_t width = -1, height = -1;
    if (size % 3 == 1) {
        width = 17;
        height = 9;
    } else if (size % 3 == 2) {
        width = 1;
        height = 300;
    }
    const analysis::ColourValue background = size > 0 ? data[0] * 0x010101u : 0xFFFFFFu;

    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    try {
        const QImage picture = modGDIPlusResize::LoadPictureScaled(path, width, height, background);
        // Touch every pixel so a raster that is too small or not fully written shows up.
        std::uint32_t sum = 0;
        for (int y = 0; y < picture.height(); ++y) {
            const auto *row = reinterpret_cast<const std::uint32_t *>(picture.constScanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                sum += row[x];
        }
        if (picture.width() != width || picture.height() != height
            || picture.format() != QImage::Format_RGB32)
            __builtin_trap();
        static volatile std::uint32_t sink;
        sink = sum;
    } catch (const modGDIPlusResize::LoadError &) {
    }
    // The row path as quillmere-avg takes it: past the window's size limit, into the sums.
    if (size % 3 == 0) {
        analysis::StatisticsSink sums;
        if (modGDIPlusResize::DrawPictureRows(
                modGDIPlusResize::NativePath { QFile::encodeName(path).toStdString() }, sums,
                background)
            == imaging::LoadFailure::None) {
            const analysis::PictureStatistics figures = sums.Statistics();
            if (figures.totals.count
                != static_cast<std::uint64_t>(figures.width)
                    * static_cast<std::uint64_t>(figures.height))
                __builtin_trap();
        }
    }
    modGDIPlusResize::GdiPlusClose(token);
    return 0;
}
