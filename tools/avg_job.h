#pragma once

#include "analysis/colour_math.h"
#include "tools/avg_runner.h"
#include "tools/avg_walk.h"

// One file's work: its picture read through the row path and summed, and its line made.
namespace tools {

struct JobSettings
{
    analysis::ColourValue background = 0xFFFFFF; // 0x00BBGGRR
    bool json = false;
    bool raw = false; // the stored numbers, not converted to sRGB
};

// The outcome for one job: the file's line on standard output, or its failure line (on standard
// error, in JSON on standard output), or nothing for a file the walk found that is not a picture.
// Catches what the loader throws (out of memory for a picture read from a pipe, say): that file
// fails.
[[nodiscard]] Outcome WorkOut(const AvgJob &job, const JobSettings &settings) noexcept;

} // namespace tools
