// The entry point of the formats module; everything else in the module is hidden.
#include "imaging/formats_module.h"

#include <new>

extern "C" __attribute__((visibility("default"))) imaging::DecodedImage *
quillmere_open_newer_format_v1(int format, std::FILE *file)
{
    using imaging::NewerFormat;
    imaging::FilePtr owned(file);
    try {
        switch (static_cast<NewerFormat>(format)) {
        case NewerFormat::Webp:
            return imaging::OpenWebp(std::move(owned)).release();
        case NewerFormat::Tiff:
            return imaging::OpenTiff(std::move(owned)).release();
        case NewerFormat::Heif:
            return imaging::OpenHeif(std::move(owned)).release();
        case NewerFormat::Avif:
            return imaging::OpenAvif(std::move(owned)).release();
        case NewerFormat::Jxl:
            return imaging::OpenJxl(std::move(owned)).release();
        }
    } catch (const std::bad_alloc &) {
    }
    return nullptr;
}
