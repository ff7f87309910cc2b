#pragma once

#include "imaging/load_failure.h"

#include <cstdio>
#include <vector>

namespace imaging {

// Reads the stream from its current position to its end into bytes (replacing their contents).
// None, or ReadError for a read error, CutShort for an empty remainder and OutOfMemory for more
// bytes than the memory available allows.
[[nodiscard]] LoadFailure ReadRemainingBytes(std::FILE *file, std::vector<unsigned char> &bytes);

} // namespace imaging
