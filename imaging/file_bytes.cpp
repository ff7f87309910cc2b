#include "imaging/file_bytes.h"

#include "imaging/raster_memory.h"
#include "imaging/system_files.h"

#include <cstdint>
#include <sys/stat.h>

namespace imaging {

LoadFailure ReadRemainingBytes(std::FILE *file, std::vector<unsigned char> &bytes)
{
    struct stat info = {};
    const std::int64_t at = StreamPosition(file);
    if (at < 0 || ::fstat(fileno(file), &info) != 0)
        return LoadFailure::ReadError;
    if (info.st_size <= at)
        return LoadFailure::CutShort;
    if (!MemoryAllows(static_cast<std::int64_t>(info.st_size)))
        return LoadFailure::OutOfMemory;
    const auto size = static_cast<std::size_t>(info.st_size - at);
    bytes.resize(size);
    // The file may have shrunk since fstat; what was read is all there is.
    const std::size_t n = std::fread(bytes.data(), 1, size, file);
    bytes.resize(n);
    if (std::ferror(file))
        return LoadFailure::ReadError;
    return n > 0 ? LoadFailure::None : LoadFailure::CutShort;
}

} // namespace imaging
