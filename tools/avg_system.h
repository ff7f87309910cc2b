#pragma once

#include <filesystem>
#include <string>

// What quillmere-avg asks of the operating system beyond the loader, with a POSIX side and a
// Windows side. Names are bytes on Linux and UTF-8 (see imaging/native_names.h) on Windows.
namespace tools {

// Standard input, output and error as the program needs them: on Windows binary (no "\r\n" is
// written for "\n", and pictures read from standard input keep their bytes), a console shows
// UTF-8 and the progress bar's escapes. Nothing to do on Linux.
void PrepareStandardStreams();

// Whether standard error is a terminal (on Windows a console) that shows the progress bar.
[[nodiscard]] bool StderrIsTerminal();

// The file system's path for a name, and back; a name that no file can have gives a path that
// names nothing.
[[nodiscard]] std::filesystem::path PathOfName(const std::string &name);
[[nodiscard]] std::string NameOfPath(const std::filesystem::path &path);

// The type of the named entry itself, a symbolic link (on Windows also a junction or any other
// reparse point) not followed.
[[nodiscard]] std::filesystem::file_status EntryStatus(
    const std::string &name, std::error_code &error);

// The cores this process may run on, at least 1.
[[nodiscard]] int CoresAllowed();

} // namespace tools
