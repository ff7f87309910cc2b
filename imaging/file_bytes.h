#pragma once

#include <cstdio>
#include <vector>

namespace imaging {

// Reads the stream from its current position to its end into bytes (replacing their contents).
// False on a read error, an empty remainder or more bytes than the memory available allows.
[[nodiscard]] bool ReadRemainingBytes(std::FILE *file, std::vector<unsigned char> &bytes);

} // namespace imaging
