#pragma once

// quillmere-avg: the average colour of image files, one line per file on stdout.
namespace tools {

// The whole program: 0 when every file loaded, 1 when any failed (or stdout could not be
// written), 2 for a usage error.
[[nodiscard]] int RunAvg(int argc, const char *const *argv);

} // namespace tools
