#include "imaging/open_image.h"

#include "imaging/formats_module.h"
#include "imaging/picture_formats.h"
#include "imaging/system_files.h"

#include <array>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace imaging {
namespace {

    // What a failed open or read of the file itself means to the user.
    LoadFailure FailureOfErrno(int error)
    {
        switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return LoadFailure::NotFound;
        case EACCES:
        case EPERM:
            return LoadFailure::AccessDenied;
        case EISDIR:
        case ENXIO:
        case ENODEV:
            return LoadFailure::NotAFile;
        case ENOMEM:
        case EMFILE:
        case ENFILE:
            return LoadFailure::OutOfMemory;
        default:
            return LoadFailure::ReadError;
        }
    }

    OpenedImage Failed(LoadFailure failure) { return { nullptr, failure }; }

} // namespace

OpenedImage LoadImageFromFile(const std::string &name)
{
    if (name.empty() || name.find('\0') != std::string::npos)
        return Failed(LoadFailure::NotFound);
    // Only regular files are read; the open itself never waits on a named pipe.
    const int fd = OpenFileForReading(name);
    if (fd < 0)
        return Failed(FailureOfErrno(errno));
    return LoadImageFromDescriptor(fd);
}

OpenedImage LoadImageFromMemory(std::string_view data)
{
    if (data.empty())
        return Failed(LoadFailure::Empty);
    // A file of its own that goes when it is closed: the decoders read it like any other file.
    const int fd = OpenScratchFile();
    if (fd < 0)
        return Failed(FailureOfErrno(errno));
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n <= 0) {
            // A memory file runs out only when memory does.
            ::close(fd);
            return Failed(LoadFailure::OutOfMemory);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        ::close(fd);
        return Failed(LoadFailure::ReadError);
    }
    return LoadImageFromDescriptor(fd);
}

OpenedImage LoadImageFromDescriptor(int fd)
{
    struct stat info = {};
    LoadFailure failure = LoadFailure::None;
    if (::fstat(fd, &info) != 0)
        failure = FailureOfErrno(errno);
    else if (!S_ISREG(info.st_mode))
        failure = LoadFailure::NotAFile;
    else if (info.st_size == 0)
        failure = LoadFailure::Empty;
    if (failure != LoadFailure::None) {
        ::close(fd);
        return Failed(failure);
    }
    FilePtr file(::fdopen(fd, "rb"));
    if (!file) {
        failure = FailureOfErrno(errno);
        ::close(fd);
        return Failed(failure);
    }
    // A bigger stdio buffer than the default 4 KiB halves the read calls on big pictures.
    std::setvbuf(file.get(), nullptr, _IOFBF, std::size_t { 64 } << 10);
    return LoadImageFromStream(std::move(file));
}

OpenedImage LoadImageFromStream(FilePtr file)
{
    if (!file)
        return Failed(LoadFailure::ReadError);
    std::array<unsigned char, kRecognitionBytes> head {};
    const std::size_t n = std::fread(head.data(), 1, head.size(), file.get());
    if (std::ferror(file.get()))
        return Failed(FailureOfErrno(errno));
    if (std::fseek(file.get(), 0, SEEK_SET) != 0)
        return Failed(LoadFailure::ReadError);
    const PictureFormat *format = RecognisePictureFormat(head.data(), n);
    if (!format)
        return Failed(n == 0 ? LoadFailure::Empty : LoadFailure::UnknownFormat);
    if (format->home == DecoderHome::NotBuilt)
        return Failed(LoadFailure::NotInThisBuild);
    if (format->home == DecoderHome::FormatsModule)
        return OpenInFormatsModule(*format, std::move(file));
    return format->open(std::move(file));
}

} // namespace imaging
