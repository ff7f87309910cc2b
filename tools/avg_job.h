#pragma once

#include "analysis/colour_math.h"
#include "imaging/colour_text.h"
#include "tools/avg_area.h"
#include "tools/avg_runner.h"
#include "tools/avg_walk.h"

// One file's work: its picture read through the row path and summed, and its line made.
namespace tools {

struct JobSettings
{
    analysis::ColourValue background = 0xFFFFFF; // 0x00BBGGRR
    bool json = false;
    bool raw = false; // the stored numbers, not converted to sRGB
    AreaRequest area; // the parts summed: the whole picture by default
    int colours = 5; // main colours in the JSON (0 for none)
    std::vector<imaging::ColourForm> forms { imaging::ColourForm::Info }; // of the text line
};

// The outcome for one job: the file's line on standard output, or its failure line (on standard
// error, in JSON on standard output), or nothing for a file the walk found that is not a picture.
// A region, grid or edges the picture cannot hold give a usage outcome with the reason.
// Catches what the loader throws (out of memory for a picture read from a pipe, say): that file
// fails.
[[nodiscard]] Outcome WorkOut(const AvgJob &job, const JobSettings &settings) noexcept;

} // namespace tools
