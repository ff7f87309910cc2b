#pragma once

#include <cstdint>
#include <string_view>

namespace imaging {

// Why a picture could not be read. None means it could.
enum class LoadFailure : std::uint8_t {
    None,
    NotFound, // no file of that name
    AccessDenied, // the file may not be read
    NotAFile, // a folder, device, pipe or other non-regular file
    Empty, // a file of zero bytes
    ReadError, // the file system failed while reading
    UnknownFormat, // the first bytes are no format the loader knows
    CutShort, // the data ends before the picture does
    Damaged, // the data contradicts the format
    Unsupported, // a valid variant of the format that the decoder does not read
    TooLarge, // a size beyond the loader's limits
    OutOfMemory, // the memory for the picture could not be had
    ModuleMissing, // the formats module that decodes this format could not be loaded
    ModuleMismatch, // the formats module found is from another build
    NotInThisBuild, // a known format whose decoder this build leaves out (see DecoderHome)
};

// The reason in English, lower case, for the command line and logs: "cut short",
// "damaged data", ...; "" for None.
[[nodiscard]] std::string_view LoadFailureText(LoadFailure failure);

} // namespace imaging
