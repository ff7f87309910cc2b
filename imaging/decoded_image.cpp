#include "imaging/decoded_image.h"

#include "imaging/formats_module.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace imaging {
namespace {

    enum class Format { Unknown, Bmp, Gif, Ico, Jpeg, Png, Webp, Tiff, Heif, Avif, Jxl };

    // Whether the 4-byte brand is one of the given ones.
    bool IsBrand(const unsigned char *brand, std::initializer_list<const char *> brands)
    {
        return std::any_of(brands.begin(), brands.end(),
            [brand](const char *known) { return std::memcmp(brand, known, 4) == 0; });
    }

    // An ISO media file type box at the start naming a HEIF picture by its major brand or one of
    // its compatible brands (within the bytes read); AV1 coded ones are AVIF.
    Format RecogniseHeif(const unsigned char *head, std::size_t n)
    {
        if (n < 16 || std::memcmp(head + 4, "ftyp", 4) != 0)
            return Format::Unknown;
        const std::size_t box = (std::size_t { head[0] } << 24) | (std::size_t { head[1] } << 16)
            | (std::size_t { head[2] } << 8) | head[3];
        if (box < 16)
            return Format::Unknown;
        // The major brand, then the compatible ones after the minor version.
        std::vector<const unsigned char *> brands { head + 8 };
        for (std::size_t at = 16; at + 4 <= std::min(box, n); at += 4)
            brands.push_back(head + at);
        const auto any = [&brands](std::initializer_list<const char *> names) {
            return std::any_of(brands.begin(), brands.end(),
                [names](const unsigned char *brand) { return IsBrand(brand, names); });
        };
        if (any({ "avif", "avis" }))
            return Format::Avif;
        if (any({ "heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1",
                "mif2" }))
            return Format::Heif;
        return Format::Unknown;
    }

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
        if (n >= 12 && starts({ 'R', 'I', 'F', 'F' }) && std::memcmp(head + 8, "WEBP", 4) == 0)
            return Format::Webp;
        // Classic and big TIFF, little- and big-endian.
        if (starts({ 'I', 'I', 42, 0 }) || starts({ 'M', 'M', 0, 42 })
            || starts({ 'I', 'I', 43, 0 }) || starts({ 'M', 'M', 0, 43 }))
            return Format::Tiff;
        if (const Format heif = RecogniseHeif(head, n); heif != Format::Unknown)
            return heif;
        // A bare JPEG XL codestream, or the container's signature box.
        if (starts({ 0xFF, 0x0A })
            || starts({ 0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A }))
            return Format::Jxl;
        if (starts({ 'B', 'M' }))
            return Format::Bmp;
        // Icon directory: reserved 0, type 1 (icon) or 2 (cursor), at least one image.
        if (starts({ 0, 0 }) && n >= 6 && (head[2] == 1 || head[2] == 2) && head[3] == 0
            && (head[4] != 0 || head[5] != 0))
            return Format::Ico;
        return Format::Unknown;
    }

} // namespace

bool IsKnownPictureFormat(const unsigned char *head, std::size_t n)
{
    return Recognise(head, n) != Format::Unknown;
}

std::unique_ptr<DecodedImage> LoadImageFromFile(const std::string &name)
{
    if (name.empty() || name.find('\0') != std::string::npos)
        return nullptr;
    // Non-blocking so that a named pipe cannot hang the open; only regular files are read.
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return nullptr;
    return LoadImageFromDescriptor(fd);
}

std::unique_ptr<DecodedImage> LoadImageFromMemory(std::string_view data)
{
    // An anonymous in-memory file: the decoders read it like any other file, and nothing
    // reaches the disk.
    const int fd = ::memfd_create("quillmere-picture", MFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n <= 0) {
            ::close(fd);
            return nullptr;
        }
        written += static_cast<std::size_t>(n);
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
    return LoadImageFromStream(std::move(file));
}

std::unique_ptr<DecodedImage> LoadImageFromStream(FilePtr file)
{
    if (!file)
        return nullptr;
    std::array<unsigned char, kRecognitionBytes> head {};
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
    case Format::Webp:
        return OpenNewerFormat(NewerFormat::Webp, std::move(file));
    case Format::Tiff:
        return OpenNewerFormat(NewerFormat::Tiff, std::move(file));
    case Format::Heif:
        return OpenNewerFormat(NewerFormat::Heif, std::move(file));
    case Format::Avif:
        return OpenNewerFormat(NewerFormat::Avif, std::move(file));
    case Format::Jxl:
        return OpenNewerFormat(NewerFormat::Jxl, std::move(file));
    case Format::Unknown:
        break;
    }
    return nullptr;
}

} // namespace imaging
