#pragma once

#include "analysis/colour_math.h"
#include "imaging/colour_text.h"
#include "tools/avg_area.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// quillmere-avg's command line.
namespace tools {

inline constexpr std::string_view kAvgUsage
    = "usage: quillmere-avg [--background #RRGGBB] [--json [--colours N] | --format FORMS]"
      " [--region X,Y,W,H | --grid CxR | --edges N] [-j N] [-r] [--raw] FILE...";

// What --help prints after the usage line; its list of formats is the loader's.
[[nodiscard]] std::string AvgHelpText();

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
    bool raw = false; // average the stored numbers, without converting them to sRGB
    AreaRequest area; // the whole picture unless --region, --grid or --edges
    int colours = 5; // main colours in the JSON, 0..64
    std::vector<imaging::ColourForm> forms { imaging::ColourForm::Info }; // of the text line
    std::string problem; // for UsageError: what was wrong, one line
};

// Parses argv[1..argc-1]: --background #RRGGBB (or --background=#RRGGBB), --json, -j N (or -jN,
// --jobs N, --jobs=N; N 1..1024), -r (--recursive), --raw, --region X,Y,W,H, --grid CxR,
// --edges N, --colours N (0..64), --format FORMS (forms joined by commas), --help (-h),
// --version, "--" to end the options, every other argument (a lone "-" included) a file. The
// arguments are read in order and the first that asks for help, the version or is wrong decides;
// then more than one of --region, --grid and --edges, --colours without --json, or --format with
// it, is a usage error.
[[nodiscard]] AvgArguments ParseAvgArguments(int argc, const char *const *argv);

// "#RRGGBB" (hex digits in either case) as 0x00BBGGRR; nothing for any other text.
[[nodiscard]] std::optional<analysis::ColourValue> ParseHexColour(std::string_view text);

} // namespace tools
