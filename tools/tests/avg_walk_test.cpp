// The files -r finds, and what becomes of each, in-process on a tree made here.
#include "tools/avg_job.h"
#include "tools/avg_walk.h"

#include "imaging/tests/fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tools::AvgJob;

std::string PngBytes()
{
    QImage one(1, 1, QImage::Format_RGB32);
    one.fill(qRgb(10, 20, 30));
    return fixtures::EncodePng(one, fixtures::PngVariant::Rgb8).toStdString();
}

// A folder of its own under the temporary folder, made current while the test runs (so paths are
// printed as given) and removed with everything in it afterwards.
class AvgWalkTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "avg-walk-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root = pattern;
        previous = fs::current_path();
        fs::current_path(root);
    }

    void TearDown() override
    {
        fs::current_path(previous);
        for (const fs::path &folder : locked)
            fs::permissions(folder, fs::perms::owner_all);
        fs::remove_all(root);
    }

    static void Write(const std::string &path, const std::string &bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    fs::path root;
    fs::path previous;
    std::vector<fs::path> locked;
};

AvgJob Walked(std::string path) { return AvgJob { std::move(path), true, false }; }
AvgJob Named(std::string path) { return AvgJob { std::move(path), false, false }; }

TEST_F(AvgWalkTest, SortedByteByByteWithoutFollowingLinksInside)
{
    for (const char *folder : { "tree/b", "tree/B", "tree/empty", "outside" })
        fs::create_directories(folder);
    for (const char *file : { "tree/b/z.png", "tree/B/q.png", "tree/a.png", "tree/a-b.png",
             "tree/\xc3\xa9.png", "tree/\xff", "tree/notes.txt", "outside/o.png" })
        Write(file, "x");
    fs::create_symlink(".", "tree/loop");
    fs::create_symlink("a.png", "tree/link.png");
    fs::create_symlink("../outside", "tree/out");
    fs::create_symlink("gone.png", "tree/dangling.png");
    fs::create_symlink("tree", "treelink");
    ASSERT_EQ(::mkfifo("tree/fifo", 0600), 0);

    // Byte order: '-' < '.', upper case before lower case, bytes from 0x80 up last (as unsigned).
    const auto inTree = [](const std::string &top) {
        const std::string folder = top.ends_with('/') ? top : top + '/';
        return std::vector<AvgJob> { Walked(folder + "B/q.png"), Walked(folder + "a-b.png"),
            Walked(folder + "a.png"), Walked(folder + "b/z.png"), Walked(folder + "notes.txt"),
            Walked(folder + "\xc3\xa9.png"), Walked(folder + "\xff") };
    };
    const struct
    {
        std::vector<std::string> files;
        bool recursive;
        std::vector<AvgJob> jobs;
    } cases[] = {
        { { "tree" }, true, inTree("tree") },
        { { "tree/" }, true, inTree("tree/") },
        { { "tree//" }, true, inTree("tree//") },
        // A folder named through a link is walked, under the link's name.
        { { "treelink" }, true, inTree("treelink") },
        { { "tree/b", "-", "tree/a.png", "missing" }, true,
            { Walked("tree/b/z.png"), Named("-"), Named("tree/a.png"), Named("missing") } },
        { { "tree/link.png", "tree/empty" }, true, { Named("tree/link.png") } },
        // Without -r a folder is a file like any other.
        { { "tree", "-" }, false, { Named("tree"), Named("-") } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.files));
        const std::vector<AvgJob> jobs = tools::ListJobs(c.files, c.recursive);
        ASSERT_EQ(jobs.size(), c.jobs.size());
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            EXPECT_EQ(jobs[i].path, c.jobs[i].path);
            EXPECT_EQ(jobs[i].fromWalk, c.jobs[i].fromWalk) << jobs[i].path;
            EXPECT_FALSE(jobs[i].unreadableFolder) << jobs[i].path;
        }
    }
}

TEST_F(AvgWalkTest, AFolderThatCannotBeListedIsAJobOfItsOwn)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root lists a folder whatever its permissions";
    fs::create_directories("tree/locked");
    Write("tree/z.png", "x");
    fs::permissions("tree/locked", fs::perms::none);
    locked.push_back(root / "tree/locked");
    const std::vector<AvgJob> jobs = tools::ListJobs({ "tree" }, true);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0], (AvgJob { "tree/locked", false, true }));
    EXPECT_EQ(jobs[1], Walked("tree/z.png"));
}

// What each job gives: a walked file that is not a picture is passed over without a word, but
// named on the command line it is an error, as are pictures that fail wherever they come from.
TEST_F(AvgWalkTest, WalkedFilesThatAreNotPicturesAreSkippedByContent)
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
        { Named("notes.png"), false, Where::Err, "Error loading picture notes.png", true },
        { Walked("cut.png"), false, Where::Err, "Error loading picture cut.png", true },
        { Walked("missing.png"), false, Where::Err, "Error loading picture missing.png", true },
        { Walked("cut.png"), true, Where::Out,
            R"({"path":"cut.png","error":"not a complete, readable picture"})", true },
        { AvgJob { "locked", false, true }, true, Where::Out,
            R"({"path":"locked","error":"the folder could not be read"})", true },
        { AvgJob { "locked", false, true }, false, Where::Err, "Error loading picture locked",
            true },
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
