// What becomes of each job, in-process on files made here.
#include "tools/avg_job.h"

#include "imaging/tests/fixtures.h"
#include "tools/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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
        { Named("notes.png"), false, Where::Err, "Error loading picture notes.png: not a picture format Quillmere reads", true },
        { Walked("cut.png"), false, Where::Err, "Error loading picture cut.png: cut short", true },
        { Walked("missing.png"), false, Where::Err, "Error loading picture missing.png: no such file", true },
        { Walked("cut.png"), true, Where::Out,
            R"({"path":"cut.png","error":"cut short"})", true },
        { AvgJob { "locked", false, true }, true, Where::Out,
            R"({"path":"locked","error":"the folder could not be read"})", true },
        { AvgJob { "locked", false, true }, false, Where::Err, "Error loading picture locked: the folder could not be read", true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(
            c.job.path + (c.job.fromWalk ? " walked" : " named") + (c.json ? " json" : ""));
        const tools::Outcome outcome
            = tools::WorkOut(c.job, tools::JobSettings { 0xFFFFFF, c.json });
        EXPECT_EQ(outcome.where, c.where);
        EXPECT_EQ(outcome.line, c.line);
        EXPECT_EQ(outcome.failed, c.failed);
    }
}

} // namespace
