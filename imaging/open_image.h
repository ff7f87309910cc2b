#pragma once

#include "imaging/decoded_image.h"

#include <string>
#include <string_view>

// The loader's ways in: a file, bytes in memory, a descriptor or a stream, each recognised by
// content and handed to its format's opener.
namespace imaging {

// Opens the regular file at nativePath (the name's bytes as the file system has them, any bytes
// but NUL), recognises its format by content and reads its header. The image, or why not: not
// found, access denied, not a regular file, empty, unknown format, or the opener's reason (a
// damaged header, a size beyond the loader's limits, ...).
[[nodiscard]] OpenedImage LoadImageFromFile(const std::string &nativePath);

// The same for the bytes of an image file held in memory (a picture dropped or pasted without a
// file); it fails where LoadImageFromFile would.
[[nodiscard]] OpenedImage LoadImageFromMemory(std::string_view data);

// The same for an open descriptor positioned at the start, which the loader takes over (closed
// in every case).
[[nodiscard]] OpenedImage LoadImageFromDescriptor(int fd);

// LoadImageFromFile for a stream that is already open (a pipe read into memory, say); the
// stream must be seekable and positioned at the start of the picture.
[[nodiscard]] OpenedImage LoadImageFromStream(FilePtr file);

} // namespace imaging
