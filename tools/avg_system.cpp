#include "tools/avg_system.h"

#include "imaging/native_names.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <thread>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

namespace tools {

#if defined(_WIN32)

namespace {

    UINT consoleCodePage = 0;

    void RestoreConsoleCodePage() { SetConsoleOutputCP(consoleCodePage); }

    bool IsConsole(DWORD which, DWORD &mode)
    {
        const HANDLE handle = GetStdHandle(which);
        return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
    }

} // namespace

void PrepareStandardStreams()
{
    for (std::FILE *stream : { stdin, stdout, stderr })
        ::_setmode(::_fileno(stream), _O_BINARY);
    DWORD mode = 0;
    if (IsConsole(STD_OUTPUT_HANDLE, mode) || IsConsole(STD_ERROR_HANDLE, mode)) {
        // The user's console gets its own code page back when the program ends.
        consoleCodePage = GetConsoleOutputCP();
        if (consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
            std::atexit(RestoreConsoleCodePage);
    }
    if (IsConsole(STD_ERROR_HANDLE, mode))
        SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool StderrIsTerminal()
{
    // An old console that cannot show the escapes gets no bar.
    DWORD mode = 0;
    return IsConsole(STD_ERROR_HANDLE, mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::filesystem::path PathOfName(const std::string &name)
{
    const std::optional<std::u16string> wide = imaging::Utf16FromName(name);
    if (!wide)
        return {};
    return std::filesystem::path(std::wstring(wide->begin(), wide->end()));
}

std::string NameOfPath(const std::filesystem::path &path)
{
    const std::wstring &wide = path.native();
    return imaging::NameFromUtf16(std::u16string(wide.begin(), wide.end()));
}

std::filesystem::file_status EntryStatus(const std::string &name, std::error_code &error)
{
    // MinGW's symlink_status follows links; the attributes tell a reparse point apart.
    const std::filesystem::path path = PathOfName(name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        error.clear();
        return std::filesystem::file_status(std::filesystem::file_type::symlink);
    }
    return std::filesystem::status(path, error);
}

int CoresAllowed()
{
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return std::popcount(static_cast<unsigned long long>(process));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

#else

void PrepareStandardStreams() { }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

std::filesystem::path PathOfName(const std::string &name) { return name; }

std::string NameOfPath(const std::filesystem::path &path) { return path.native(); }

std::filesystem::file_status EntryStatus(const std::string &name, std::error_code &error)
{
    return std::filesystem::symlink_status(name, error);
}

int CoresAllowed()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        return std::max(1, CPU_COUNT(&allowed));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

#endif

} // namespace tools
