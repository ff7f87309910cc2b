// The command line in-process: every accepted spelling and every problem text. The texts are the
// ones the program printed before CLI11 read its arguments; the first argument that settles the
// outcome decides, whatever follows it.
#include "tools/avg_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tools::AvgArguments;
using Action = AvgArguments::Action;

AvgArguments Parse(const std::vector<std::string> &arguments)
{
    std::vector<const char *> argv { "quillmere-avg" };
    for (const std::string &argument : arguments)
        argv.push_back(argument.c_str());
    return tools::ParseAvgArguments(static_cast<int>(argv.size()), argv.data());
}

struct Accepted
{
    std::vector<std::string> arguments;
    std::vector<std::string> files;
    int jobs = 0;
    analysis::ColourValue background = 0xFFFFFF;
    bool json = false;
    bool recursive = false;
    bool raw = false;
};

TEST(AvgOptions, EverySpellingIsRead)
{
    const Accepted cases[] = {
        { { "a.png" }, { "a.png" } },
        { { "--background", "#336699", "a.png" }, { "a.png" }, 0, 0x996633 },
        { { "--background=#aBcDeF", "a.png" }, { "a.png" }, 0, 0xEFCDAB },
        { { "a.png", "--background", "#ff0000", "--background=#00FF00" }, { "a.png" }, 0,
            0x00FF00 },
        { { "--json", "a.png" }, { "a.png" }, 0, 0xFFFFFF, true },
        { { "-j", "4", "a.png" }, { "a.png" }, 4 },
        { { "-j12", "a.png" }, { "a.png" }, 12 },
        { { "--jobs", "1024", "a.png" }, { "a.png" }, 1024 },
        { { "--jobs=0007", "a.png", "-j", "2" }, { "a.png" }, 2 },
        { { "-r", "a" }, { "a" }, 0, 0xFFFFFF, false, true },
        { { "--recursive", "--json", "a" }, { "a" }, 0, 0xFFFFFF, true, true },
        { { "--raw", "a" }, { "a" }, 0, 0xFFFFFF, false, false, true },
        { { "a", "--json", "--raw", "-r" }, { "a" }, 0, 0xFFFFFF, true, true, true },
        { { "--", "--raw" }, { "--raw" } },
        // A lone dash, an empty name and "[a,b]" (a list to CLI11's vectors) are files as given.
        { { "-", "", "[a,b]", "x" }, { "-", "", "[a,b]", "x" } },
        // After "--" everything is a file, a second "--" too; before it, the values are values.
        { { "--", "--json", "-j", "--", "-" }, { "--json", "-j", "--", "-" } },
        { { "a", "--", "-r" }, { "a", "-r" } },
    };
    for (const Accepted &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const AvgArguments parsed = Parse(c.arguments);
        EXPECT_EQ(parsed.action, Action::Run) << parsed.problem;
        EXPECT_EQ(parsed.files, c.files);
        EXPECT_EQ(parsed.jobs, c.jobs);
        EXPECT_EQ(parsed.background, c.background);
        EXPECT_EQ(parsed.json, c.json);
        EXPECT_EQ(parsed.recursive, c.recursive);
        EXPECT_EQ(parsed.raw, c.raw);
    }
}

TEST(AvgOptions, TheFirstDecidingArgumentWins)
{
    const struct
    {
        std::vector<std::string> arguments;
        Action action;
        const char *problem;
    } cases[] = {
        { {}, Action::UsageError, "no file given" },
        { { "--json", "-r" }, Action::UsageError, "no file given" },
        { { "--help" }, Action::Help, "" },
        { { "-h", "--frobnicate" }, Action::Help, "" },
        { { "a", "--version", "--help" }, Action::Version, "" },
        { { "--frobnicate", "--help" }, Action::UsageError, "unknown option '--frobnicate'" },
        { { "-j", "0", "--frobnicate" }, Action::UsageError,
            "bad number of jobs '0', expected 1..1024" },
        { { "--frobnicate", "-j", "0" }, Action::UsageError, "unknown option '--frobnicate'" },
        // CLI11 would read these as options of its own kind; the program never accepted them.
        { { "-rj", "2", "a" }, Action::UsageError, "unknown option '-rj'" },
        { { "-hx" }, Action::UsageError, "unknown option '-hx'" },
        { { "--json=1", "a" }, Action::UsageError, "unknown option '--json=1'" },
        { { "--raw=1", "a" }, Action::UsageError, "unknown option '--raw=1'" },
        { { "--raw" }, Action::UsageError, "no file given" },
        { { "--help=" }, Action::UsageError, "unknown option '--help='" },
        { { "-5", "a" }, Action::UsageError, "unknown option '-5'" },
        { { "---x", "a" }, Action::UsageError, "unknown option '---x'" },
        { { "--jobs5", "a" }, Action::UsageError, "unknown option '--jobs5'" },
        { { "-J2", "a" }, Action::UsageError, "unknown option '-J2'" },
        // A value is whatever follows its option.
        { { "-j", "--json", "a" }, Action::UsageError,
            "bad number of jobs '--json', expected 1..1024" },
        { { "--background", "--help", "a" }, Action::UsageError,
            "bad colour '--help', expected #RRGGBB" },
        { { "-j", "--", "a" }, Action::UsageError, "bad number of jobs '--', expected 1..1024" },
        { { "-jobs", "a" }, Action::UsageError, "bad number of jobs 'obs', expected 1..1024" },
        { { "-j=3", "a" }, Action::UsageError, "bad number of jobs '=3', expected 1..1024" },
        { { "--jobs=", "4", "a" }, Action::UsageError, "bad number of jobs '', expected 1..1024" },
        { { "-j", "", "a" }, Action::UsageError, "bad number of jobs '', expected 1..1024" },
        { { "--jobs=1025", "a" }, Action::UsageError,
            "bad number of jobs '1025', expected 1..1024" },
        { { "-j", "99999999999999999999", "a" }, Action::UsageError,
            "bad number of jobs '99999999999999999999', expected 1..1024" },
        { { "-j", "+5", "a" }, Action::UsageError, "bad number of jobs '+5', expected 1..1024" },
        { { "--background", "red", "a" }, Action::UsageError,
            "bad colour 'red', expected #RRGGBB" },
        { { "--background=#12345G", "a" }, Action::UsageError,
            "bad colour '#12345G', expected #RRGGBB" },
        { { "--background=", "#123456", "a" }, Action::UsageError,
            "bad colour '', expected #RRGGBB" },
        { { "a", "-j" }, Action::UsageError, "-j needs a number of jobs" },
        { { "a", "--jobs" }, Action::UsageError, "--jobs needs a number of jobs" },
        { { "a", "--background" }, Action::UsageError, "--background needs a colour #RRGGBB" },
        { { "--background", "#123456" }, Action::UsageError, "no file given" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const AvgArguments parsed = Parse(c.arguments);
        EXPECT_EQ(parsed.action, c.action);
        EXPECT_EQ(parsed.problem, c.problem);
    }
}

} // namespace

namespace {

// The parts, forms and colours: what each spelling sets, and the combinations refused.
TEST(AvgOptions, AreasFormsAndColours)
{
    using Kind = tools::AreaRequest::Kind;
    using Form = imaging::ColourForm;
    const struct
    {
        std::vector<std::string> arguments;
        Kind kind;
        int colours;
        std::vector<Form> forms;
    } accepted[] = {
        { { "a" }, Kind::Whole, 5, { Form::Info } },
        { { "--region", "1,2,3,4", "a" }, Kind::Region, 5, { Form::Info } },
        { { "--grid=3x2", "a" }, Kind::Grid, 5, { Form::Info } },
        { { "--edges", "8", "a" }, Kind::Edges, 5, { Form::Info } },
        { { "--json", "--colours", "0", "a" }, Kind::Whole, 0, { Form::Info } },
        { { "--colours=64", "--json", "a" }, Kind::Whole, 64, { Form::Info } },
        { { "--format", "oklch,hex,info", "a" }, Kind::Whole, 5,
            { Form::Oklch, Form::Hex, Form::Info } },
        { { "--format=rgb,hsl", "--grid", "2x2", "a" }, Kind::Grid, 5, { Form::Rgb, Form::Hsl } },
    };
    for (const auto &c : accepted) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const AvgArguments parsed = Parse(c.arguments);
        EXPECT_EQ(parsed.action, Action::Run) << parsed.problem;
        EXPECT_EQ(parsed.area.kind, c.kind);
        EXPECT_EQ(parsed.colours, c.colours);
        EXPECT_EQ(parsed.forms, c.forms);
        EXPECT_EQ(parsed.files, std::vector<std::string> { "a" });
    }

    const struct
    {
        std::vector<std::string> arguments;
        const char *problem;
    } refused[] = {
        { { "--region", "0,0,1,1", "--grid", "2x2", "a" },
            "--region, --grid and --edges cannot be combined" },
        { { "--edges", "1", "--edges", "2", "a" },
            "--region, --grid and --edges cannot be combined" },
        { { "--colours", "3", "a" },
            "--colours sets the main colours of the JSON, and needs --json" },
        { { "--json", "--format", "hex", "a" },
            "--format shapes the text line and cannot be combined with --json" },
        { { "--json", "--colours", "65", "a" }, "bad number of colours '65', expected 0..64" },
        { { "--json", "--colours", "-1", "a" }, "bad number of colours '-1', expected 0..64" },
        { { "--format", "hex,", "a" },
            "bad format 'hex,', expected hex, rgb, hsl, oklch or info joined by commas" },
        { { "--format", "HEX", "a" },
            "bad format 'HEX', expected hex, rgb, hsl, oklch or info joined by commas" },
        { { "--grid", "3", "a" },
            "bad grid '3', expected CxR with at most 4096 cells (such as 3x2)" },
        { { "--grid", "65x65", "a" },
            "bad grid '65x65', expected CxR with at most 4096 cells (such as 3x2)" },
        { { "--edges", "0", "a" }, "bad edge width '0', expected a number of pixels >= 1" },
        { { "--region", "1,2,3,4,5", "a" },
            "bad region '1,2,3,4,5', expected X,Y,W,H in pixels or percent (10,20,300,200 or "
            "0,0,50%,50%)" },
        { { "a", "--region" }, "--region needs a region X,Y,W,H" },
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const AvgArguments parsed = Parse(c.arguments);
        EXPECT_EQ(parsed.action, Action::UsageError);
        EXPECT_EQ(parsed.problem, c.problem);
    }
}

} // namespace
