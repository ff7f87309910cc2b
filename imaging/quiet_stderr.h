#pragma once

#include <string_view>

namespace imaging {

// Some decoding libraries (Debian's libjxl) print a line on stderr for every flaw they find and
// have no switch to stop it. While any QuietStderr lives, file descriptor 2 points at /dev/null;
// the programs' own messages go through WriteToStderr, which still reaches the real stderr, so no
// line of theirs is lost to a decode running on another thread.
class QuietStderr
{
public:
    QuietStderr();
    ~QuietStderr();
    QuietStderr(const QuietStderr &) = delete;
    QuietStderr &operator=(const QuietStderr &) = delete;
};

// Writes text, unchanged, to the process's real standard error, also while a QuietStderr lives.
void WriteToStderr(std::string_view text);

} // namespace imaging
