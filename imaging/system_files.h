#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// The few calls the loader makes to the operating system, with a POSIX side and a Windows side.
namespace imaging {

// A read-only file descriptor for the named file (bytes as the file system has them; UTF-8 on
// Windows), or -1 with errno set: EISDIR for a folder, ENOENT for a name no file can have. Never
// blocks on a named pipe and is not inherited by child processes.
[[nodiscard]] int OpenFileForReading(const std::string &name);

// A file descriptor open for reading and writing on an empty file that lives only as long as it
// is open (on Linux in memory), or -1 with errno set.
[[nodiscard]] int OpenScratchFile();

// The stream's position in bytes from its start, or -1. 64 bits everywhere: ftell's long has 32
// on Windows, which would misread a file past 2 GiB.
[[nodiscard]] std::int64_t StreamPosition(std::FILE *file);

// Moves the stream to offset bytes from whence (SEEK_SET, SEEK_CUR or SEEK_END); false if it
// cannot.
[[nodiscard]] bool SeekStream(std::FILE *file, std::int64_t offset, int whence);

// The memory the system could give now in bytes, or -1 when it does not say.
[[nodiscard]] std::int64_t AvailableMemoryBytes();

// The formats module from the program's own library folders (on Windows the program's folder
// alone, never the working folder or PATH), or null with the reason in why.
[[nodiscard]] void *OpenFormatsModuleFile(std::string &why);

// The address of the named function in a module from OpenFormatsModuleFile, or null.
[[nodiscard]] void *FormatsModuleFunction(void *module, const char *name);

} // namespace imaging
