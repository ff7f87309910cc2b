#include "tools/avg_walk.h"

#include "imaging/picture_formats.h"
#include "imaging/system_files.h"
#include "tools/avg_system.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace tools {
namespace {

    namespace fs = std::filesystem;

    // Built by hand rather than with fs::path, so that the folder is printed as it was given
    // ("tree/" and "tree" both give "tree/a.png").
    std::string JoinPath(const std::string &folder, const std::string &name)
    {
        return folder.ends_with('/') ? folder + name : folder + '/' + name;
    }

    void Walk(const std::string &folder, std::vector<AvgJob> &jobs)
    {
        std::error_code error;
        fs::directory_iterator entries(PathOfName(folder), error);
        if (error) {
            jobs.push_back(AvgJob { folder, false, true });
            return;
        }
        std::vector<std::string> names;
        // A listing that fails part way keeps the names read until then.
        for (const fs::directory_iterator end; entries != end && !error; entries.increment(error))
            names.push_back(NameOfPath(entries->path().filename()));
        std::sort(names.begin(), names.end());
        for (const std::string &name : names) {
            const std::string path = JoinPath(folder, name);
            // Asked again rather than taken from the listing: in a folder that may be listed but
            // not entered, the entry's type is known yet the file cannot be reached, and is
            // passed over.
            const fs::file_status status = EntryStatus(path, error);
            if (error)
                continue;
            if (fs::is_directory(status))
                Walk(path, jobs);
            else if (fs::is_regular_file(status))
                jobs.push_back(AvgJob { path, true, false });
        }
    }

} // namespace

std::vector<AvgJob> ListJobs(const std::vector<std::string> &files, bool recursive)
{
    std::vector<AvgJob> jobs;
    for (const std::string &file : files) {
        std::error_code error;
        // A folder named on the command line is walked even when the name is a link to it.
        if (recursive && file != "-" && fs::is_directory(PathOfName(file), error))
            Walk(file, jobs);
        else
            jobs.push_back(AvgJob { file, false, false });
    }
    return jobs;
}

bool LooksLikePicture(const std::string &path)
{
    const int fd = imaging::OpenFileForReading(path);
    if (fd < 0)
        return true;
    unsigned char head[imaging::kRecognitionBytes];
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n < 0 || imaging::IsKnownPictureFormat(head, static_cast<std::size_t>(n));
}

} // namespace tools
