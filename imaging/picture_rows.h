#pragma once

#include "analysis/colour_math.h"
#include "analysis/row_sink.h"
#include "imaging/colour_report.h"
#include "imaging/load_failure.h"

#include <string>

// The loader's row path, which needs no GUI library: the command-line program sums pictures
// through it without loading one.
namespace modGDIPlusResize {

// A file name as the file system has it: any bytes but NUL, whether or not they are valid UTF-8.
struct NativePath
{
    std::string bytes;
};

// A whole picture file already in memory, such as one read from a pipe.
struct PictureBytes
{
    std::string bytes;
};

// Decodes the picture and hands its rows, drawn over colour (0x00BBGGRR) at its own size, to sink
// top to bottom, holding no more of it than its format needs (a few rows for JPEG and PNG). Takes
// pictures up to imaging::IsAllowedStreamSize where the format streams, otherwise up to the
// window's limit. None, or why the file is not a complete, readable picture or the sink refused
// it. The pixels are converted to sRGB from the colours the picture names unless options.raw;
// what was done goes into *report (when given) once the picture was read.
[[nodiscard]] imaging::LoadFailure DrawPictureRows(const NativePath &path, analysis::RowSink &sink,
    analysis::ColourValue colour, imaging::ColourOptions options = {},
    imaging::ColourReport *report = nullptr);
[[nodiscard]] imaging::LoadFailure DrawPictureRows(const PictureBytes &picture,
    analysis::RowSink &sink, analysis::ColourValue colour, imaging::ColourOptions options = {},
    imaging::ColourReport *report = nullptr);

} // namespace modGDIPlusResize
