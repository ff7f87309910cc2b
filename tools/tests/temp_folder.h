#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace avgtests {

namespace fs = std::filesystem;

// A folder of its own under the temporary folder, made current while the test runs (so paths are
// printed as given) and removed with everything in it afterwards.
class TempFolderTest : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quillmere-avg-XXXXXX").string();
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
    std::vector<fs::path> locked; // permissions taken away by a test, given back before removal
};

} // namespace avgtests
