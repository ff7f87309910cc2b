#pragma once

#include "imaging/decoded_image.h"
#include "imaging/picture_formats.h"

#include <cstdio>

namespace imaging {

// The formats whose rows say DecoderHome::FormatsModule are decoded in a module of their own.
// Their libraries bring dozens of codec libraries with them (HEVC, AV1, JPEG XL's SIMD runtime),
// which cost tens of milliseconds and megabytes at every start; the module is loaded the first
// time such a picture is opened.

// The module's file name, found through the program's library path (beside the program in the
// build, in the package's private library folder once installed).
#if defined(_WIN32)
inline constexpr const char *kFormatsModuleName = "quillmere-formats.dll";
#else
inline constexpr const char *kFormatsModuleName = "libquillmere-formats.so";
#endif

// The module's one entry point: opens `file` (taken over, closed in every case) as `format` (a
// PictureFormatId) and returns the image, or null with the reason (a LoadFailure) in *failure.
// The name carries a version so a module left over from another build is refused rather than
// misused.
inline constexpr const char *kFormatsModuleEntry = "quillmere_open_newer_format_v4";
using FormatsModuleEntry = DecodedImage *(*)(int format, std::FILE *file, int *failure);

// Loads the module now rather than at the first picture that needs it; true when its decoders are
// available. The fuzzer calls it so the module's code is measured from the first run.
bool LoadFormatsModule();

// Opens a picture of one of the module's formats through the module, loading it on first use.
// The opener's answer; ModuleMissing or ModuleMismatch when the module cannot be loaded (then
// once, the reason on stderr).
[[nodiscard]] OpenedImage OpenInFormatsModule(const PictureFormat &format, FilePtr file);

} // namespace imaging
