// The files -r finds, in-process on a tree made here.
#include "tools/avg_walk.h"

#include "imaging/tests/fixtures.h"
#include "tools/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using tools::AvgJob;

class AvgWalkTest : public avgtests::TempFolderTest
{
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
    fs::create_directories("tree/locked");
    Write("tree/z.png", "x");
    fs::permissions("tree/locked", fs::perms::none);
    locked.push_back(root / "tree/locked");
    // Root lists a folder whatever its permissions: the walk runs as nobody, who needs a way in.
    fs::permissions(root,
        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
            | fs::perms::others_read | fs::perms::others_exec);
    const std::string outcome = fixtures::AsUnprivilegedUser([] {
        const std::vector<AvgJob> jobs = tools::ListJobs({ "tree" }, true);
        const std::vector<AvgJob> expected { AvgJob { "tree/locked", false, true },
            Walked("tree/z.png") };
        return jobs == expected ? std::string()
                                : "the walk found " + std::to_string(jobs.size()) + " jobs";
    });
    EXPECT_EQ(outcome, "");
}

} // namespace
