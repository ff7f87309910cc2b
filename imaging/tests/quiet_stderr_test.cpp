#include "imaging/quiet_stderr.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

// quillmere-avg prints its error lines while other threads decode; a library silenced on one of
// them must not swallow those lines, and must stay silent itself.
TEST(QuietStderr, OwnLinesReachTheRealStderrWhileLibrariesAreSilenced)
{
    QTemporaryFile capture;
    ASSERT_TRUE(capture.open());
    std::fflush(stderr);
    const int original = ::dup(STDERR_FILENO);
    ASSERT_GE(::dup2(capture.handle(), STDERR_FILENO), 0);
    {
        const imaging::QuietStderr outer;
        {
            const imaging::QuietStderr nested; // two decodes at once
            std::fputs("library noise 1\n", stderr);
        }
        std::fputs("library noise 2\n", stderr);
        std::fflush(stderr);
        imaging::WriteToStderr("our line\n");
    }
    std::fputs("plain line\n", stderr);
    std::fflush(stderr);
    imaging::WriteToStderr("our last line\n");
    ::dup2(original, STDERR_FILENO);
    ::close(original);

    capture.seek(0);
    EXPECT_EQ(capture.readAll().toStdString(), "our line\nplain line\nour last line\n");
}

} // namespace
