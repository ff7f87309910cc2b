// The lines printed for a file, in-process: names in JSON, the figures' object, the text line and
// the failure line, each byte as the program printed it before nlohmann-json built the objects.
#include "tools/avg_output.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <string>

namespace {

// U+FFFD in UTF-8.
const std::string kReplaced = "\xEF\xBF\xBD";

TEST(AvgOutput, JsonPathsAreValidUtf8AndKeepTheExactBytes)
{
    const struct
    {
        std::string name;
        std::string written; // the object holding just the path's members
        std::string shown; // "path" as a JSON reader gives it
    } cases[] = {
        { "a b.png", R"({"path":"a b.png"})", "a b.png" },
        { "a\xe6\x97\xa5\xf0\x9f\x8e\xa8.png", "{\"path\":\"a\xe6\x97\xa5\xf0\x9f\x8e\xa8.png\"}",
            "a\xe6\x97\xa5\xf0\x9f\x8e\xa8.png" },
        // Escapes as before: upper-case hex, no short forms such as \n.
        { "q\" b\\s \x01\x1f\n\t.png", R"({"path":"q\" b\\s \u0001\u001F\u000A\u0009.png"})",
            "q\" b\\s \x01\x1f\n\t.png" },
        // One U+FFFD for each stray byte; base64 padded to a multiple of four.
        { "caf\xe9.png", "{\"path\":\"caf" + kReplaced + ".png\",\"path_bytes\":\"Y2Fm6S5wbmc=\"}",
            "caf" + kReplaced + ".png" },
        { "\xff", "{\"path\":\"" + kReplaced + "\",\"path_bytes\":\"/w==\"}", kReplaced },
        { "\xff\xfe", "{\"path\":\"" + kReplaced + kReplaced + "\",\"path_bytes\":\"//4=\"}",
            kReplaced + kReplaced },
        // An encoded surrogate, an overlong '/', a code point past U+10FFFF: one U+FFFD a byte.
        { "\xed\xa0\x80.png",
            "{\"path\":\"" + kReplaced + kReplaced + kReplaced
                + ".png\",\"path_bytes\":\"7aCALnBuZw==\"}",
            kReplaced + kReplaced + kReplaced + ".png" },
        { "\xc0\xaf.png",
            "{\"path\":\"" + kReplaced + kReplaced + ".png\",\"path_bytes\":\"wK8ucG5n\"}",
            kReplaced + kReplaced + ".png" },
        { "\xf4\x90\x80\x80",
            "{\"path\":\"" + kReplaced + kReplaced + kReplaced + kReplaced
                + "\",\"path_bytes\":\"9JCAgA==\"}",
            kReplaced + kReplaced + kReplaced + kReplaced },
        // A sequence cut short is two stray bytes here; nlohmann's own rule would make it one.
        { "\xe6\x97X", "{\"path\":\"" + kReplaced + kReplaced + "X\",\"path_bytes\":\"5pdY\"}",
            kReplaced + kReplaced + "X" },
        { "ab\xe2\x82",
            "{\"path\":\"ab" + kReplaced + kReplaced + "\",\"path_bytes\":\"YWLigg==\"}",
            "ab" + kReplaced + kReplaced },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.name));
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        tools::AddJsonPath(object, c.name);
        const std::string written = tools::WriteJson(object);
        EXPECT_EQ(written, c.written);
        // The strict reader rejects anything that is not valid UTF-8 or valid JSON.
        const nlohmann::json read = nlohmann::json::parse(written);
        EXPECT_EQ(read["path"], c.shown);
        EXPECT_EQ(tools::FormatFailureLine(c.name, "why", true),
            written.substr(0, written.size() - 1) + ",\"error\":\"why\"}");
    }
}

analysis::PictureStatistics RedBlue()
{
    analysis::PictureStatistics s;
    s.width = 2;
    s.height = 1;
    s.totals = { 255, 0, 255, 2 };
    s.linearR = s.linearB = 188;
    s.linearLightR = s.linearLightB = 0.5;
    s.r = { 127.5, 0, 255 };
    s.g = { 0, 0, 0 };
    s.b = { 1.0 / 3, 0, 255 };
    return s;
}

TEST(AvgOutput, JsonFiguresKeepTheirOrderAndFourDecimals)
{
    analysis::PictureStatistics big;
    big.width = 100000;
    big.height = 60000;
    big.totals = { 60'000'000'000, 120'000'000'000, 180'000'000'000, 6'000'000'000 };
    const struct
    {
        const char *name;
        analysis::PictureStatistics statistics;
        std::string line;
    } cases[] = {
        // Means truncated: 255 / 2 = 127; H, S and L as the window shows #7F007F.
        { "red-blue.png", RedBlue(),
            R"({"path":"red-blue.png","width":2,"height":1,"pixels":2,)"
            R"("mean":{"hex":"#7F007F","r":127,"g":0,"b":127,"h":300,"s":100,"l":50},)"
            R"("linear_mean":{"hex":"#BC00BC","r":188,"g":0,"b":188},)"
            R"("stddev":{"r":127.5000,"g":0.0000,"b":0.3333},)"
            R"("min":{"r":0,"g":0,"b":0},"max":{"r":255,"g":0,"b":255},)"
            R"("median":{"r":0,"g":0,"b":0},)"
            // Linear light (0.5, 0, 0.5) by CSS Color 4's OKLab matrices.
            R"("oklab":{"l":0.5569,"a":0.2179,"b":-0.1343},)"
            R"("oklch":{"l":0.5569,"c":0.2560,"h":328.3634}})" },
        // A count past 32 bits.
        { "big.png", big,
            R"({"path":"big.png","width":100000,"height":60000,"pixels":6000000000,)"
            R"("mean":{"hex":"#0A141E","r":10,"g":20,"b":30,"h":210,"s":67,"l":12},)"
            R"("linear_mean":{"hex":"#000000","r":0,"g":0,"b":0},)"
            R"("stddev":{"r":0.0000,"g":0.0000,"b":0.0000},)"
            R"("min":{"r":0,"g":0,"b":0},"max":{"r":0,"g":0,"b":0},)"
            R"("median":{"r":0,"g":0,"b":0},)"
            R"("oklab":{"l":0.0000,"a":0.0000,"b":0.0000},)"
            R"("oklch":{"l":0.0000,"c":0.0000,"h":0.0000}})" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(tools::FormatJsonLine(c.statistics, c.name), c.line);
    }
}

// The colour members follow the figures; raw and colour_unusable appear only when true, and a
// clipped count past 32 bits stays whole.
TEST(AvgOutput, ColourMembersFollowTheFigures)
{
    const std::string figures = tools::FormatJsonLine(RedBlue(), "p.png");
    const std::string head = figures.substr(0, figures.size() - 1);
    const auto report = [](std::string name, bool raw, bool unusable, std::uint64_t clipped) {
        imaging::ColourReport r;
        r.sourceName = std::move(name);
        r.raw = raw;
        r.unusable = unusable;
        r.converted = !raw && !unusable && r.sourceName != "sRGB";
        r.clippedPixels = clipped;
        return r;
    };
    const struct
    {
        imaging::ColourReport colour;
        std::string tail;
    } cases[] = {
        { report("sRGB", false, false, 0), R"(,"colour_space":"sRGB","clipped_pixels":0})" },
        { report("Display P3", false, false, 5'000'000'000),
            R"(,"colour_space":"Display P3","clipped_pixels":5000000000})" },
        { report("Adobe RGB (1998)", true, false, 0),
            R"x(,"colour_space":"Adobe RGB (1998)","clipped_pixels":0,"raw":true})x" },
        { report("sRGB", false, true, 0),
            R"(,"colour_space":"sRGB","clipped_pixels":0,"colour_unusable":true})" },
        { report("My \"Profile\"", false, false, 1),
            R"(,"colour_space":"My \"Profile\"","clipped_pixels":1})" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.colour.sourceName);
        EXPECT_EQ(tools::FormatJsonLine(RedBlue(), "p.png", c.colour), head + c.tail);
    }
}

TEST(AvgOutput, TextAndFailureLines)
{
    const struct
    {
        std::string line;
        std::string expected;
    } cases[] = {
        { tools::FormatAvgLine(analysis::Summarise(RedBlue().totals), "sub folder/彩色.png"),
            "#7F007F R:127 G:0 B:127 H:300 S:100 L:50  sub folder/彩色.png" },
        { tools::FormatFailureLine("caf\xe9.png", "cut short", false),
            "Error loading picture caf\xe9.png: cut short" },
        { tools::FormatFailureLine("a\"b", "the \"folder\"", true),
            R"({"path":"a\"b","error":"the \"folder\""})" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(c.line, c.expected);
    }
}

} // namespace
