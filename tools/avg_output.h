#pragma once

#include "analysis/calc_color.h"
#include "analysis/dominant_colours.h"
#include "analysis/pixel_statistics.h"
#include "imaging/colour_report.h"
#include "imaging/colour_text.h"
#include "tools/avg_area.h"

#include <nlohmann/json_fwd.hpp>

#include <string>
#include <string_view>
#include <vector>

// The lines quillmere-avg prints for a file: the text line, the JSON object, and the failure line.
namespace tools {

// "#RRGGBB R:r G:g B:b H:h S:s L:l  path", without the line break.
[[nodiscard]] std::string FormatAvgLine(
    const analysis::ColourSummary &summary, std::string_view path);

// The forms joined by spaces ("info" is the hex and the R G B H S L figures, as on the default
// line), then two spaces and the label when there is one, then two spaces and the path.
[[nodiscard]] std::string FormatTextLine(const std::vector<imaging::ColourForm> &forms,
    const analysis::ColourSummary &summary, std::string_view label, std::string_view path);

// One part of a picture and what was found in it.
struct PartFigures
{
    Cell cell;
    analysis::PictureStatistics statistics;
    std::optional<std::vector<analysis::DominantColour>> dominant; // none: not worked out
};

// Everything found in one picture, part by part (one part for the whole or a region).
struct PictureFigures
{
    std::int32_t width = 0;
    std::int32_t height = 0;
    AreaRequest area;
    std::vector<PartFigures> parts;
};

// The text lines of a picture's parts, joined by "\n", each labelled by its part.
[[nodiscard]] std::string FormatTextLines(const PictureFigures &figures,
    const std::vector<imaging::ColourForm> &forms, std::string_view path);

// The JSON line for a picture's parts: the whole picture's or a region's figures as one object
// ("region" after "height" for a region), or a grid's or edges' in "cells", then the report's
// members as FormatJsonLine gives them.
[[nodiscard]] std::string FormatJsonLine(
    const PictureFigures &figures, std::string_view path, const imaging::ColourReport &colour);

// The JSON members naming a file, added to object: "path" and, when the name is not valid UTF-8,
// "path_bytes" after it. Each byte that is not part of a valid UTF-8 sequence shows as U+FFFD in
// "path", and "path_bytes" carries the exact name in base64 (RFC 4648, padded).
void AddJsonPath(nlohmann::ordered_json &object, std::string_view path);

// The JSON object for one picture's figures, members in the order they are printed.
[[nodiscard]] nlohmann::ordered_json JsonFigures(
    const analysis::PictureStatistics &statistics, std::string_view path);

// value on one line without spaces, as the program has always printed it: floating-point numbers
// with four decimals, and in strings '"', '\' and control characters escaped (\u00XX, upper-case
// hex) and each byte outside a valid UTF-8 sequence as U+FFFD.
[[nodiscard]] std::string WriteJson(const nlohmann::ordered_json &value);

// The JSON line (no line break) for one picture's figures.
[[nodiscard]] std::string FormatJsonLine(
    const analysis::PictureStatistics &statistics, std::string_view path);

// The same with what the draw did to the picture's colours after the figures: "colour_space"
// (the report's source name), "clipped_pixels", then "raw":true only for a raw draw and
// "colour_unusable":true only when the description could not be used.
[[nodiscard]] std::string FormatJsonLine(const analysis::PictureStatistics &statistics,
    std::string_view path, const imaging::ColourReport &colour);

// The line for a file that failed, without the line break: in JSON {"path":...,"error":reason},
// otherwise "Error loading picture PATH: reason" (for standard error).
[[nodiscard]] std::string FormatFailureLine(
    std::string_view path, std::string_view reason, bool json);

} // namespace tools
