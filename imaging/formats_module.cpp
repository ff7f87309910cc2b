// The entry point of the formats module; everything else in the module is hidden.
#include "imaging/formats_module.h"

#include <new>

#if defined(_WIN32)
#define QUILLMERE_MODULE_ENTRY __declspec(dllexport)
#else
#define QUILLMERE_MODULE_ENTRY __attribute__((visibility("default")))
#endif

extern "C" QUILLMERE_MODULE_ENTRY imaging::DecodedImage *quillmere_open_newer_format_v4(
    int format, std::FILE *file, int *failure)
{
    using imaging::LoadFailure;
    imaging::FilePtr owned(file);
    const auto give = [failure](LoadFailure reason) { *failure = static_cast<int>(reason); };
    const imaging::PictureFormat *row
        = imaging::FindPictureFormat(static_cast<imaging::PictureFormatId>(format));
    if (row && row->home == imaging::DecoderHome::NotBuilt) {
        give(LoadFailure::NotInThisBuild);
        return nullptr;
    }
    if (!row || !row->open) {
        // A number this module has no decoder for: the loader is from another build.
        give(LoadFailure::ModuleMismatch);
        return nullptr;
    }
    try {
        imaging::OpenedImage opened = row->open(std::move(owned));
        give(opened.failure);
        return opened.image.release();
    } catch (const std::bad_alloc &) {
        give(LoadFailure::OutOfMemory);
    }
    return nullptr;
}
