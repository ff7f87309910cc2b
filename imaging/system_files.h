#pragma once

#include <cstdint>
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

// The memory the system could give now in bytes, or -1 when it does not say.
[[nodiscard]] std::int64_t AvailableMemoryBytes();

// The formats module from the program's own library folders (on Windows the program's folder
// alone, never the working folder or PATH), or null with the reason in why.
[[nodiscard]] void *OpenFormatsModuleFile(std::string &why);

// The address of the named function in a module from OpenFormatsModuleFile, or null.
[[nodiscard]] void *FormatsModuleFunction(void *module, const char *name);

} // namespace imaging
