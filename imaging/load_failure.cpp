#include "imaging/load_failure.h"

namespace imaging {

std::string_view LoadFailureText(LoadFailure failure)
{
    switch (failure) {
    case LoadFailure::None:
        return "";
    case LoadFailure::NotFound:
        return "no such file";
    case LoadFailure::AccessDenied:
        return "permission denied";
    case LoadFailure::NotAFile:
        return "not a regular file";
    case LoadFailure::Empty:
        return "empty file";
    case LoadFailure::ReadError:
        return "read error";
    case LoadFailure::UnknownFormat:
        return "not a picture format Quillmere reads";
    case LoadFailure::CutShort:
        return "cut short";
    case LoadFailure::Damaged:
        return "damaged data";
    case LoadFailure::Unsupported:
        return "unsupported variant";
    case LoadFailure::TooLarge:
        return "too large";
    case LoadFailure::OutOfMemory:
        return "out of memory";
    case LoadFailure::ModuleMissing:
        return "formats module missing";
    case LoadFailure::ModuleMismatch:
        return "formats module from another build";
    case LoadFailure::NotInThisBuild:
        return "format not supported in this build";
    }
    return "unknown error";
}

} // namespace imaging
