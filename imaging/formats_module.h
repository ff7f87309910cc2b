#pragma once

#include "imaging/decoded_image.h"

#include <cstdio>
#include <memory>

namespace imaging {

// The formats whose decoders live in the formats module. Their libraries bring dozens of codec
// libraries with them (HEVC, AV1, JPEG XL's SIMD runtime), which cost tens of milliseconds and
// megabytes at every start; the module is loaded the first time such a picture is opened.
enum class NewerFormat { Webp = 1, Tiff, Heif, Avif, Jxl };

// The module's file name, found through the program's library path (beside the program in the
// build, in the package's private library folder once installed).
inline constexpr const char *kFormatsModuleName = "libquillmere-formats.so";

// The module's one entry point: opens `file` (taken over, closed in every case) as `format`
// (a NewerFormat) and returns the image, or null where the opener would. The name carries a
// version so a module left over from another build is refused rather than misused.
inline constexpr const char *kFormatsModuleEntry = "quillmere_open_newer_format_v1";
using FormatsModuleEntry = DecodedImage *(*)(int format, std::FILE *file);

// Loads the module now rather than at the first picture that needs it; true when its decoders are
// available. The fuzzer calls it so the module's code is measured from the first run.
bool LoadFormatsModule();

// Opens a picture of one of the newer formats through the module, loading it on first use. Null
// where the format's opener gives null, and when the module cannot be loaded (then once, the
// reason on stderr).
[[nodiscard]] std::unique_ptr<DecodedImage> OpenNewerFormat(NewerFormat format, FilePtr file);

} // namespace imaging
