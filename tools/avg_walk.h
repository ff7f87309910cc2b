#pragma once

#include <string>
#include <vector>

// The files quillmere-avg works on: those named, and with -r those under the folders named.
namespace tools {

// One file to work on, as the command line or the walk named it.
struct AvgJob
{
    std::string path;
    bool fromWalk = false; // found by -r: content that is not a picture is skipped
    bool unreadableFolder = false; // a folder the walk could not list

    friend bool operator==(const AvgJob &, const AvgJob &) = default;
};

// The jobs in argument order. With recursive, a folder named (also through a symbolic link) is
// replaced by the regular files under it, names sorted byte by byte in each folder and
// sub-folders where their names sort; symbolic links and other non-regular entries inside are
// passed over, and a folder that cannot be listed becomes an unreadableFolder job. "-" stays.
[[nodiscard]] std::vector<AvgJob> ListJobs(const std::vector<std::string> &files, bool recursive);

// Whether the file starts like a picture the loader knows; files that cannot be read count as
// pictures, so that they are reported rather than passed over.
[[nodiscard]] bool LooksLikePicture(const std::string &path);

} // namespace tools
