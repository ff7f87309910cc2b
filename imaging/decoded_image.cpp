#include "imaging/decoded_image.h"

#include "imaging/raster_memory.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/mman.h>
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

std::unique_ptr<DecodedImage> LoadImageFromFile(const QByteArray &name)
{
    if (name.isEmpty() || name.contains('\0'))
        return nullptr;
    // Non-blocking so that a named pipe cannot hang the open; only regular files are read.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    return LoadImageFromDescriptor(fd);
}

std::unique_ptr<DecodedImage> LoadImageFromMemory(const QByteArray &data)
{
    // An anonymous in-memory file: the decoders read it like any other file, and nothing
    // reaches the disk.
    const int fd = ::memfd_create("quillmere-picture", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    qsizetype written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(
            fd, data.constData() + written, static_cast<std::size_t>(data.size() - written));
        if (n <= 0) {
            ::close(fd);
            return nullptr;
        }
        written += n;
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return nullptr;
    }
    return LoadImageFromDescriptor(fd);
}

std::unique_ptr<DecodedImage> LoadImageFromDescriptor(int fd)
{
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
        return OpenBmp(std::move(file));
    case Format::Gif:
        return OpenGif(std::move(file));
    case Format::Ico:
        return OpenIco(std::move(file));
    case Format::Unknown:
        break;
    }
    return nullptr;
}

} // namespace imaging
