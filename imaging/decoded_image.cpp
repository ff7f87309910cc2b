#include "imaging/decoded_image.h"

#include "imaging/raster_memory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace imaging {
namespace {

    enum class Format { Unknown, Bmp, Gif, Ico, Jpeg, Png };

    // Magic bytes only; the file name plays no part.
    Format Recognise(const unsigned char *head, std::size_t n)
    {
        const auto starts = [head, n](std::initializer_list<unsigned char> magic) {
            return n >= magic.size() && std::equal(magic.begin(), magic.end(), head);
        };
        if (starts({ 0xFF, 0xD8, 0xFF }))
            return Format::Jpeg;
        if (starts({ 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A }))
            return Format::Png;
        if (starts({ 'G', 'I', 'F', '8', '7', 'a' }) || starts({ 'G', 'I', 'F', '8', '9', 'a' }))
            return Format::Gif;
        if (starts({ 'B', 'M' }))
            return Format::Bmp;
        // Icon directory: reserved 0, type 1 (icon) or 2 (cursor), at least one image.
        if (starts({ 0, 0 }) && n >= 6 && (head[2] == 1 || head[2] == 2) && head[3] == 0
            && (head[4] != 0 || head[5] != 0))
            return Format::Ico;
        return Format::Unknown;
    }

} // namespace

QImage DecodedImage::TakeRaster() { return AllocateRaster(size); }

namespace {

    // The window's sink: each row is decoded in place in its raster.
    class RasterSink final : public analysis::RowSink
    {
    public:
        explicit RasterSink(QImage &target)
            : raster(target)
        {
        }

        bool Start(std::int32_t width, std::int32_t height) override
        {
            return raster.format() == QImage::Format_RGB32 && raster.width() == width
                && raster.height() == height;
        }

        std::uint32_t *RowSpace(std::int32_t y, std::int32_t, std::ptrdiff_t &stride) override
        {
            stride = raster.bytesPerLine() / 4;
            return reinterpret_cast<std::uint32_t *>(raster.scanLine(y));
        }

        void RowsDone(std::int32_t, std::int32_t) override { }

    private:
        QImage &raster;
    };

} // namespace

bool DecodedImage::DrawRows(analysis::RowSink &sink, QRgb background)
{
    if (!sink.Start(size.width(), size.height()))
        return false;
    QImage raster = TakeRaster();
    if (raster.isNull() || !DrawOver(raster, background) || raster.size() != size
        || raster.format() != QImage::Format_RGB32)
        return false;
    const auto *pixels = reinterpret_cast<const std::uint32_t *>(raster.constBits());
    return sink.TakeRows(0, size.height(), size.width(), pixels, raster.bytesPerLine() / 4);
}

bool DecodedImage::DrawOverThroughRows(QImage &raster, QRgb background)
{
    RasterSink sink(raster);
    return DrawRows(sink, background);
}

bool IsKnownPictureFormat(const unsigned char *head, std::size_t n)
{
    return Recognise(head, n) != Format::Unknown;
}

std::unique_ptr<DecodedImage> LoadImageFromFile(const QByteArray &name)
{
    if (name.isEmpty() || name.contains('\0'))
        return nullptr;
    // Non-blocking so that a named pipe cannot hang the open; only regular files are read.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) {
        ::close(fd);
        return nullptr;
    }
    FilePtr file(::fdopen(fd, "rb"));
    if (!file) {
        ::close(fd);
        return nullptr;
    }
    // A bigger stdio buffer than the default 4 KiB halves the read calls on big pictures.
    std::setvbuf(file.get(), nullptr, _IOFBF, std::size_t { 64 } << 10);
    return LoadImageFromStream(std::move(file));
}

std::unique_ptr<DecodedImage> LoadImageFromStream(FilePtr file)
{
    if (!file)
        return nullptr;
    std::array<unsigned char, 8> head {};
    const std::size_t n = std::fread(head.data(), 1, head.size(), file.get());
    if (std::fseek(file.get(), 0, SEEK_SET) != 0)
        return nullptr;
    switch (Recognise(head.data(), n)) {
    case Format::Jpeg:
        return OpenJpeg(std::move(file));
    case Format::Png:
        return OpenPng(std::move(file));
    case Format::Bmp:
        return OpenWithQt(std::move(file), "bmp");
    case Format::Gif:
        return OpenGif(std::move(file));
    case Format::Ico:
        return OpenWithQt(std::move(file), "ico");
    case Format::Unknown:
        break;
    }
    return nullptr;
}

} // namespace imaging
