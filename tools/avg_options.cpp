#include "tools/avg_options.h"

#include "imaging/picture_formats.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace tools {

namespace {

    // The help's text after its first paragraph, which names the formats.
    constexpr std::string_view kOptionsHelp = R"(
  --background #RRGGBB  colour behind transparent pixels (default #FFFFFF)
  --json                one JSON object per line instead of the text line (see below)
  -j N, --jobs N        work on N files at once (default: one per core); the output stays
                        in argument order
  -r, --recursive       walk the directories given, in sorted order, without following
                        symbolic links inside them; files that are not pictures are
                        skipped, pictures that fail to load are errors
  --raw                 average the numbers as stored, without converting the picture's
                        colours (its profile or colour tags) to sRGB first
  --region X,Y,W,H      average only that rectangle: pixels, or percentages of the width
                        (X, W) and height (Y, H) such as 0,0,50%,50%; it must lie inside
                        the picture
  --grid CxR            one line per cell of a grid of C columns and R rows (left to right,
                        top to bottom); cells are as equal as whole pixels allow, the rest
                        going to the last column and row
  --edges N             one line each for the top, right, bottom and left strips N pixels
                        wide (the corners belong to two strips)
  --format FORMS        the colours of the text line, joined by commas: hex, rgb, hsl,
                        oklch (CSS), info (the hex and the R G B H S L figures; the default)
  --colours N           main colours in the JSON, 0..64 (default 5; 0 leaves them out)
  -                     read one picture from standard input
  --                    everything after it is a file
  --help, --version

Text line: #RRGGBB R:r G:g B:b H:h S:s L:l  path (channel means truncated to whole numbers).
JSON: {"path":..., "width", "height", "pixels", "mean":{"hex","r","g","b","h","s","l"},
"linear_mean":{"hex","r","g","b"}, "stddev":{"r","g","b"}, "min":{...}, "max":{...},
"median":{...} (the lower median), "oklab":{"l","a","b"} and "oklch":{"l","c","h"} (the linear
mean in OKLab), "dominant":[{"hex","r","g","b","share"},...] (the main colours by k-means in
OKLab, largest share first), "colour_space":"...", "clipped_pixels":N} (the colours the picture
came in, and how many pixels lay outside sRGB), with "raw":true after --raw and
"colour_unusable":true when the picture's colour description could not be used and it was read
as sRGB. A region adds "region":{"x","y","width","height"} after "height"; with a grid or edges,
each part's figures (from "pixels" on) come in "cells":[{"cell" or "side", "x", "y", "width",
"height", "pixels", ...}], without "dominant" past 16 parts. A file that fails gives
{"path":...,"error":"..."}. A path that is not valid UTF-8 shows each byte
outside a valid sequence as U+FFFD, and "path_bytes" then holds the exact name in base64.
When standard error is a terminal and more than one file is given, a progress bar shows there.
Exit status: 0 when every picture loaded, 1 when any failed, 2 for a usage error (a region,
grid or edges that do not fit a picture among them).)";

    // Words joined by spaces into lines of at most `width` characters (a longer word alone).
    std::string Wrapped(std::string_view text, std::size_t width)
    {
        std::string wrapped, line;
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t end = std::min(text.find(' ', at), text.size());
            const std::string_view word = text.substr(at, end - at);
            if (!line.empty() && line.size() + 1 + word.size() > width) {
                wrapped += line + '\n';
                line.clear();
            }
            if (!line.empty())
                line += ' ';
            line += word;
            at = end + 1;
        }
        return wrapped + line;
    }

} // namespace

std::string AvgHelpText()
{
    return Wrapped("Prints the average colour of each image file (" + imaging::FormatNamesForHelp()
                   + "), composed over the background colour, one line per file in the order "
                     "given.",
               90)
        + '\n' + std::string(kOptionsHelp);
}

namespace {

    int HexDigit(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // Thrown from an option's callback while CLI11 reads the arguments, so that the first
    // argument that settles the outcome wins, as the arguments after it are never read.
    struct Settled
    {
        AvgArguments::Action action;
        std::string problem;
    };

    [[noreturn]] void Fail(std::string problem)
    {
        throw Settled { AvgArguments::Action::UsageError, std::move(problem) };
    }

    // Digits only, 1..1024; the running check keeps a long string of digits from overflowing.
    int ParseJobs(const std::string &value)
    {
        int jobs = 0;
        for (const char c : value) {
            if (c < '0' || c > '9' || jobs > 1024) {
                jobs = -1;
                break;
            }
            jobs = jobs * 10 + (c - '0');
        }
        if (jobs < 1 || jobs > 1024)
            Fail("bad number of jobs '" + value + "', expected 1..1024");
        return jobs;
    }

    std::vector<imaging::ColourForm> ParseForms(const std::string &value)
    {
        std::vector<imaging::ColourForm> forms;
        std::size_t at = 0;
        for (;;) {
            const std::size_t comma = std::min(value.find(',', at), value.size());
            const auto form
                = imaging::ParseColourForm(std::string_view(value).substr(at, comma - at));
            if (!form)
                Fail("bad format '" + value
                    + "', expected hex, rgb, hsl, oklch or info joined by commas");
            forms.push_back(*form);
            if (comma == value.size())
                return forms;
            at = comma + 1;
        }
    }

    int ParseColours(const std::string &value)
    {
        int colours = 0;
        for (const char c : value) {
            if (c < '0' || c > '9' || colours > 64) {
                colours = -1;
                break;
            }
            colours = colours * 10 + (c - '0');
        }
        if (value.empty() || colours < 0 || colours > 64)
            Fail("bad number of colours '" + value + "', expected 0..64");
        return colours;
    }

    // --region, --grid and --edges each set the area, counted to refuse more than one.
    void DefineAreaOptions(CLI::App &app, AvgArguments &parsed, int &areas)
    {
        using Parser = std::optional<AreaRequest> (*)(std::string_view, std::string &);
        const auto area = [&parsed, &areas](Parser parse) {
            return [&parsed, &areas, parse](const std::string &value) {
                std::string problem;
                const std::optional<AreaRequest> request = parse(value, problem);
                if (!request)
                    Fail(problem);
                parsed.area = *request;
                ++areas;
            };
        };
        app.add_option_function<std::string>("--region", area(ParseRegion))
            ->type_name("a region X,Y,W,H")
            ->trigger_on_parse();
        app.add_option_function<std::string>("--grid", area(ParseGrid))
            ->type_name("a grid CxR")
            ->trigger_on_parse();
        app.add_option_function<std::string>("--edges", area(ParseEdges))
            ->type_name("an edge width N")
            ->trigger_on_parse();
    }

    struct Given
    {
        int areas = 0;
        bool colours = false;
        bool format = false;
    };

    // The callbacks run as CLI11 reads each option, in argument order.
    void DefineOptions(CLI::App &app, AvgArguments &parsed, Given &given)
    {
        DefineAreaOptions(app, parsed, given.areas);
        app.add_option_function<std::string>("--colours",
               [&parsed, &given](const std::string &value) {
                   parsed.colours = ParseColours(value);
                   given.colours = true;
               })
            ->type_name("a number of colours")
            ->trigger_on_parse();
        app.add_option_function<std::string>("--format",
               [&parsed, &given](const std::string &value) {
                   parsed.forms = ParseForms(value);
                   given.format = true;
               })
            ->type_name("forms such as hex,oklch")
            ->trigger_on_parse();
        // CLI11's own help and its texts are not used: the program prints kAvgUsage and its own
        // problems. The type names say what a missing value should have been.
        app.set_help_flag();
        // Files are what CLI11 leaves over; Prepare has already stopped at unknown options.
        app.allow_extras();
        const auto settle = [](AvgArguments::Action action) {
            return [action] { throw Settled { action, {} }; };
        };
        app.add_flag_callback("-h,--help", settle(AvgArguments::Action::Help))->trigger_on_parse();
        app.add_flag_callback("--version", settle(AvgArguments::Action::Version))
            ->trigger_on_parse();
        app.add_flag_callback("--json", [&parsed] { parsed.json = true; })->trigger_on_parse();
        app.add_flag_callback("-r,--recursive", [&parsed] { parsed.recursive = true; })
            ->trigger_on_parse();
        app.add_flag_callback("--raw", [&parsed] { parsed.raw = true; })->trigger_on_parse();
        app.add_option_function<std::string>(
               "-j,--jobs", [&parsed](const std::string &value) { parsed.jobs = ParseJobs(value); })
            ->type_name("a number of jobs")
            ->trigger_on_parse();
        app.add_option_function<std::string>("--background",
               [&parsed](const std::string &value) {
                   const std::optional<analysis::ColourValue> colour = ParseHexColour(value);
                   if (!colour)
                       Fail("bad colour '" + value + "', expected #RRGGBB");
                   parsed.background = *colour;
               })
            ->type_name("a colour #RRGGBB")
            ->trigger_on_parse();
    }

    // The arguments CLI11 is to read, reversed as App::parse takes them, and the first argument
    // that is none of this program's options. CLI11 reads more than the program accepts ("-rj"
    // as "-r -j", "--json=1" as "--json", "-5" as a file) and lets an empty "--jobs=" take the
    // next argument as its value; so the list stops before such an argument, and CLI11, reading
    // only those before it, still reports any earlier problem first.
    struct Prepared
    {
        std::vector<std::string> reversed;
        std::optional<std::string> unknown;
    };

    Prepared Prepare(const CLI::App &app, int argc, const char *const *argv)
    {
        Prepared prepared;
        std::vector<std::string> &args = prepared.reversed;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--") {
                args.insert(args.end(), argv + i, argv + argc);
                break;
            }
            if (arg.size() < 2 || arg[0] != '-') {
                args.push_back(arg);
                continue;
            }
            const bool isLong = arg.starts_with("--");
            const std::size_t equals = isLong ? arg.find('=') : std::string::npos;
            const std::string name = isLong ? arg.substr(0, equals) : arg.substr(0, 2);
            const bool attached = isLong ? equals != std::string::npos : arg.size() > 2;
            const CLI::Option *option = app.get_option_no_throw(name);
            const bool takesValue = option && option->get_items_expected_max() > 0;
            if (!option || (attached && !takesValue)) {
                prepared.unknown = arg;
                break;
            }
            if (isLong && attached && equals + 1 == arg.size()) {
                args.push_back(name);
                args.emplace_back();
            } else {
                args.push_back(arg);
                if (takesValue && !attached && i + 1 < argc)
                    args.emplace_back(argv[++i]);
            }
        }
        std::reverse(args.begin(), args.end());
        return prepared;
    }

} // namespace

std::optional<analysis::ColourValue> ParseHexColour(std::string_view text)
{
    if (text.size() != 7 || text[0] != '#')
        return std::nullopt;
    int channels[3];
    for (int i = 0; i < 3; ++i) {
        const int high = HexDigit(text[1 + 2 * i]);
        const int low = HexDigit(text[2 + 2 * i]);
        if (high < 0 || low < 0)
            return std::nullopt;
        channels[i] = high * 16 + low;
    }
    return analysis::MakeColour(channels[0], channels[1], channels[2]);
}

AvgArguments ParseAvgArguments(int argc, const char *const *argv)
{
    AvgArguments parsed;
    CLI::App app;
    Given given;
    DefineOptions(app, parsed, given);
    Prepared prepared = Prepare(app, argc, argv);
    const std::string last = prepared.reversed.empty() ? std::string() : prepared.reversed.front();
    try {
        app.parse(prepared.reversed);
    } catch (const Settled &settled) {
        parsed.action = settled.action;
        parsed.problem = settled.problem;
        return parsed;
    } catch (const CLI::ParseError &) {
        // Prepare leaves CLI11 one thing to find: an option at the very end without its value.
        const CLI::Option *option = app.get_option_no_throw(last);
        parsed.action = AvgArguments::Action::UsageError;
        parsed.problem
            = option ? last + " needs " + option->get_type_name() : "unknown option '" + last + "'";
        return parsed;
    }
    const auto fail = [&parsed](std::string problem) {
        parsed.action = AvgArguments::Action::UsageError;
        parsed.problem = std::move(problem);
        return parsed;
    };
    if (prepared.unknown)
        return fail("unknown option '" + *prepared.unknown + "'");
    // CLI11 keeps the "--" that ends the options among what is left over: the first "--" there
    // is that one, as a file of that name can only come after it.
    parsed.files = app.remaining();
    const auto mark = std::find(parsed.files.begin(), parsed.files.end(), "--");
    if (mark != parsed.files.end())
        parsed.files.erase(mark);
    if (parsed.files.empty())
        return fail("no file given");
    if (given.areas > 1)
        return fail("--region, --grid and --edges cannot be combined");
    if (given.colours && !parsed.json)
        return fail("--colours sets the main colours of the JSON, and needs --json");
    if (given.format && parsed.json)
        return fail("--format shapes the text line and cannot be combined with --json");
    return parsed;
}

} // namespace tools
