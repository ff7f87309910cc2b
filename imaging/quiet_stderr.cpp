#include "imaging/quiet_stderr.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#if defined(_WIN32)
#include <io.h>
#endif

namespace imaging {
namespace {

    struct StderrState
    {
        std::mutex mutex;
        int users = 0;
        int saved = -1; // the real stderr while it is pointed away
    };

    StderrState &State()
    {
        static StderrState state;
        return state;
    }

#if defined(_WIN32)
    int SaveStderr() { return ::_dup(STDERR_FILENO); }
    int OpenNullDevice() { return ::_open("NUL", _O_WRONLY | _O_BINARY | _O_NOINHERIT); }
#else
    int SaveStderr() { return ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3); }
    int OpenNullDevice() { return ::open("/dev/null", O_WRONLY | O_CLOEXEC); }
#endif

} // namespace

QuietStderr::QuietStderr()
{
#ifdef QUILLMERE_FUZZING
    // The sanitizers report on stderr, and a report from inside a decode must be seen.
    return;
#endif
    StderrState &state = State();
    const std::lock_guard lock(state.mutex);
    if (state.users++ > 0)
        return;
    std::fflush(stderr);
    state.saved = SaveStderr();
    const int null = OpenNullDevice();
    if (state.saved >= 0 && null >= 0)
        ::dup2(null, STDERR_FILENO);
    if (null >= 0)
        ::close(null);
}

QuietStderr::~QuietStderr()
{
#ifdef QUILLMERE_FUZZING
    return;
#endif
    StderrState &state = State();
    const std::lock_guard lock(state.mutex);
    if (--state.users > 0 || state.saved < 0)
        return;
    std::fflush(stderr);
    ::dup2(state.saved, STDERR_FILENO);
    ::close(state.saved);
    state.saved = -1;
}

void WriteToStderr(std::string_view text)
{
    StderrState &state = State();
    const std::lock_guard lock(state.mutex);
    std::fflush(stderr);
    const int fd = state.saved >= 0 ? state.saved : STDERR_FILENO;
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace imaging
