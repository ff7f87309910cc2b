// What becomes of each job, in-process on files made here.
#include "tools/avg_job.h"

#include "imaging/tests/fixtures.h"
#include "tools/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

tools::JobSettings Settings(bool json, bool raw)
{
    tools::JobSettings settings;
    settings.json = json;
    settings.raw = raw;
    return settings;
}

using tools::AvgJob;

class AvgJobTest : public avgtests::TempFolderTest
{
};

AvgJob Walked(std::string path) { return AvgJob { std::move(path), true, false }; }
AvgJob Named(std::string path) { return AvgJob { std::move(path), false, false }; }

std::string PngBytes()
{
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(qRgb(10, 20, 30));
    return fixtures::EncodePng(one, fixtures::PngVariant::Rgb8).toStdString();
}

// What each job gives: a walked file that is not a picture is passed over without a word, but
// named on the command line it is an error, as are pictures that fail wherever they come from.
TEST_F(AvgJobTest, WalkedFilesThatAreNotPicturesAreSkippedByContent)
{
    const std::string png = PngBytes();
    Write("good.data", png); // the content decides, not the name
    Write("notes.png", "plain text\n");
    Write("cut.png", png.substr(0, png.size() - 20));
    Write("empty.png", "");
    const std::string good = "#0A141E R:10 G:20 B:30 H:210 S:67 L:12  ";
    using Where = tools::Outcome::Where;
    const struct
    {
        AvgJob job;
        bool json;
        Where where;
        std::string line;
        bool failed;
    } cases[] = {
        { Walked("good.data"), false, Where::Out, good + "good.data", false },
        { Named("good.data"), false, Where::Out, good + "good.data", false },
        { Walked("notes.png"), false, Where::Nowhere, "", false },
        { Walked("empty.png"), false, Where::Nowhere, "", false },
        { Named("notes.png"), false, Where::Err,
            "Error loading picture notes.png: not a picture format Quillmere reads", true },
        { Walked("cut.png"), false, Where::Err, "Error loading picture cut.png: cut short", true },
        { Walked("missing.png"), false, Where::Err,
            "Error loading picture missing.png: no such file", true },
        { Walked("cut.png"), true, Where::Out, R"({"path":"cut.png","error":"cut short"})", true },
        { AvgJob { "locked", false, true }, true, Where::Out,
            R"({"path":"locked","error":"the folder could not be read"})", true },
        { AvgJob { "locked", false, true }, false, Where::Err,
            "Error loading picture locked: the folder could not be read", true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(
            c.job.path + (c.job.fromWalk ? " walked" : " named") + (c.json ? " json" : ""));
        const tools::Outcome outcome = tools::WorkOut(c.job, Settings(c.json, false));
        EXPECT_EQ(outcome.where, c.where);
        EXPECT_EQ(outcome.line, c.line);
        EXPECT_EQ(outcome.failed, c.failed);
    }
}

// A PNG chunk's CRC (ISO 3309, as PNG uses it), so a tagged file can be made without zlib.
std::uint32_t Crc32(const std::string &bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string Be32(std::uint32_t v)
{
    return { static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
        static_cast<char>(v) };
}

// The 1x1 PNG of (200, 60, 40) tagged Display P3 by a cICP chunk right after IHDR.
std::string DisplayP3Png()
{
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(qRgb(200, 60, 40));
    std::string png = fixtures::EncodePng(one, fixtures::PngVariant::Rgb8).toStdString();
    const std::string body = std::string("cICP") + std::string("\x0C\x0D\x00\x01", 4);
    png.insert(33, Be32(4) + body + Be32(Crc32(body)));
    return png;
}

// The colours are converted unless --raw; the text line keeps its form, the JSON line gains the
// colour members. Display P3 (200, 60, 40) is sRGB #D92A17 (CSS Color 4's matrices); OKLab
// values by the same document's matrices.
TEST_F(AvgJobTest, ColoursAreConvertedUnlessRaw)
{
    Write("p3.png", DisplayP3Png());
    const std::string figures = R"({"path":"p3.png","width":1,"height":1,"pixels":1,)";
    const struct
    {
        bool json;
        bool raw;
        std::string line;
    } cases[] = {
        { false, false, "#D92A17 R:217 G:42 B:23 H:6 S:89 L:85  p3.png" },
        { false, true, "#C83C28 R:200 G:60 B:40 H:8 S:80 L:78  p3.png" },
        { true, false,
            figures + R"("mean":{"hex":"#D92A17","r":217,"g":42,"b":23,"h":6,"s":89,"l":85},)"
                + R"("linear_mean":{"hex":"#D92A17","r":217,"g":42,"b":23},)"
                + R"("stddev":{"r":0.0000,"g":0.0000,"b":0.0000},)"
                + R"("min":{"r":217,"g":42,"b":23},"max":{"r":217,"g":42,"b":23},)"
                + R"("median":{"r":217,"g":42,"b":23},)"
                + R"("oklab":{"l":0.5732,"a":0.1824,"b":0.1073},)"
                + R"("oklch":{"l":0.5732,"c":0.2116,"h":30.4579},)"
                + R"("dominant":[{"hex":"#D92A17","r":217,"g":42,"b":23,"share":1.0000}],)"
                + R"("colour_space":"Display P3","clipped_pixels":0})" },
        { true, true,
            figures + R"("mean":{"hex":"#C83C28","r":200,"g":60,"b":40,"h":8,"s":80,"l":78},)"
                + R"("linear_mean":{"hex":"#C83C28","r":200,"g":60,"b":40},)"
                + R"("stddev":{"r":0.0000,"g":0.0000,"b":0.0000},)"
                + R"("min":{"r":200,"g":60,"b":40},"max":{"r":200,"g":60,"b":40},)"
                + R"("median":{"r":200,"g":60,"b":40},)"
                + R"("oklab":{"l":0.5599,"a":0.1540,"b":0.0933},)"
                + R"("oklch":{"l":0.5599,"c":0.1800,"h":31.2094},)"
                + R"("dominant":[{"hex":"#C83C28","r":200,"g":60,"b":40,"share":1.0000}],)"
                + R"("colour_space":"Display P3","clipped_pixels":0,"raw":true})" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.json ? "json" : "text") + (c.raw ? " raw" : ""));
        const tools::Outcome outcome = tools::WorkOut(Named("p3.png"), Settings(c.json, c.raw));
        EXPECT_EQ(outcome.where, tools::Outcome::Where::Out);
        EXPECT_EQ(outcome.line, c.line);
        EXPECT_FALSE(outcome.failed);
    }
}

} // namespace
