#pragma once

#include "analysis/colour_math.h"
#include "analysis/pixel_statistics.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// quillmere-avg: the average colour of image files, one line per file on stdout.
namespace tools {

inline constexpr std::string_view kAvgUsage
    = "usage: quillmere-avg [--background #RRGGBB] [--json] [-j N] [-r] FILE...";

// What the command line asks for.
struct AvgArguments
{
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    analysis::ColourValue background = 0xFFFFFF; // 0x00BBGGRR
    std::vector<std::string> files; // as given; "-" is standard input
    int jobs = 0; // files worked on at once; 0 for one per core
    bool json = false;
    bool recursive = false;
    std::string problem; // for UsageError: what was wrong, one line
};

// Parses argv[1..argc-1]: --background #RRGGBB (or --background=#RRGGBB), --json, -j N (or -jN,
// --jobs N, --jobs=N; N 1..1024), -r (--recursive), --help, --version, "--" to end the options,
// every other argument (a lone "-" included) a file.
[[nodiscard]] AvgArguments ParseAvgArguments(int argc, const char *const *argv);

// "#RRGGBB" (hex digits in either case) as 0x00BBGGRR; nothing for any other text.
[[nodiscard]] std::optional<analysis::ColourValue> ParseHexColour(std::string_view text);

// The output line for one file, from the scan's hex text and info text ("R:r H:h\r\nG:g S:s\r\n
// B:b L:l"): "#RRGGBB R:r G:g B:b H:h S:s L:l  path", without the line break.
[[nodiscard]] std::string FormatAvgLine(
    std::string_view hexText, std::string_view infoText, std::string_view path);

// The JSON members naming a file: "path":"..." and, when the name is not valid UTF-8,
// ,"path_bytes":"..." after it. Each byte that is not part of a valid UTF-8 sequence shows as
// U+FFFD in "path", and "path_bytes" carries the exact name in base64 (RFC 4648, padded).
[[nodiscard]] std::string FormatJsonPath(std::string_view path);

// The JSON object (one line, no line break) for one picture's figures.
[[nodiscard]] std::string FormatJsonLine(
    const analysis::PictureStatistics &statistics, std::string_view path);

// The whole program: 0 when every file loaded, 1 when any failed (or stdout could not be
// written), 2 for a usage error.
[[nodiscard]] int RunAvg(int argc, const char *const *argv);

} // namespace tools
