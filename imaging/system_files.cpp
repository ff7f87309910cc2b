#include "imaging/system_files.h"

#include "imaging/formats_module.h"
#include "imaging/native_names.h"

#include <cerrno>
#include <cstdio>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <cstddef>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace imaging {

#if defined(_WIN32)

namespace {

    std::wstring WideName(const std::u16string &name) { return { name.begin(), name.end() }; }

    // The folder the program's .exe is in, with its trailing backslash.
    std::wstring ProgramFolder()
    {
        std::vector<wchar_t> path(MAX_PATH);
        for (;;) {
            const DWORD n
                = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
            if (n == 0)
                return {};
            if (n < path.size()) {
                const std::wstring whole(path.data(), n);
                return whole.substr(0, whole.find_last_of(L"\\/") + 1);
            }
            path.resize(path.size() * 2);
        }
    }

} // namespace

int OpenFileForReading(const std::string &name)
{
    const std::optional<std::u16string> utf16 = Utf16FromName(name);
    if (!utf16) {
        errno = ENOENT;
        return -1;
    }
    const std::wstring wide = WideName(*utf16);
    // Windows refuses to open a folder with "access denied"; the user is told what it is.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        errno = EISDIR;
        return -1;
    }
    return ::_wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int OpenScratchFile()
{
    // Windows has no memory-only file: a temporary file that is deleted when its handle closes,
    // even if the program is killed, and that the system keeps in memory while it can.
    wchar_t folder[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    if (GetTempPathW(MAX_PATH + 1, folder) == 0 || GetTempFileNameW(folder, L"qm", 0, name) == 0) {
        errno = ENOSPC;
        return -1;
    }
    const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileW(name);
        errno = EACCES;
        return -1;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDWR | _O_BINARY);
    if (fd < 0)
        CloseHandle(file);
    return fd;
}

std::int64_t StreamPosition(std::FILE *file) { return ::_ftelli64(file); }

bool SeekStream(std::FILE *file, std::int64_t offset, int whence)
{
    return ::_fseeki64(file, offset, whence) == 0;
}

std::int64_t AvailableMemoryBytes()
{
    MEMORYSTATUSEX status {};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return -1;
    return static_cast<std::int64_t>(status.ullAvailPhys);
}

void *OpenFormatsModuleFile(std::string &why)
{
    const std::wstring folder = ProgramFolder();
    const std::string name(kFormatsModuleName);
    const std::wstring path = folder + std::wstring(name.begin(), name.end());
    if (folder.empty() || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        why = name + " is not beside the program";
        return nullptr;
    }
    // Its own libraries too come from its folder or the system's, never the search path.
    HMODULE module = LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module)
        why = name + " could not be loaded (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void *>(module);
}

void *FormatsModuleFunction(void *module, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
}

#else

namespace {

    // The absolute folders of the program's library path, in the dynamic linker's order.
    std::vector<std::string> ProgramLibraryPath()
    {
        std::vector<std::string> folders;
        void *program = ::dlopen(nullptr, RTLD_NOW);
        Dl_serinfo size {};
        if (!program || ::dlinfo(program, RTLD_DI_SERINFOSIZE, &size) != 0)
            return folders;
        std::vector<std::max_align_t> space(
            (size.dls_size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
        auto *paths = reinterpret_cast<Dl_serinfo *>(space.data());
        if (::dlinfo(program, RTLD_DI_SERINFOSIZE, paths) != 0
            || ::dlinfo(program, RTLD_DI_SERINFO, paths) != 0)
            return folders;
        for (unsigned i = 0; i < paths->dls_cnt; ++i) {
            const char *folder = paths->dls_serpath[i].dls_name;
            // Never the working folder: a picture's folder could plant a module there.
            if (folder && folder[0] == '/')
                folders.emplace_back(folder);
        }
        return folders;
    }

} // namespace

int OpenFileForReading(const std::string &name)
{
    return ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
}

int OpenScratchFile() { return ::memfd_create("quillmere-picture", MFD_CLOEXEC); }

static_assert(sizeof(off_t) >= sizeof(std::int64_t), "pictures past 2 GiB need 64-bit offsets");

std::int64_t StreamPosition(std::FILE *file) { return ::ftello(file); }

bool SeekStream(std::FILE *file, std::int64_t offset, int whence)
{
    return ::fseeko(file, static_cast<off_t>(offset), whence) == 0;
}

std::int64_t AvailableMemoryBytes()
{
    std::FILE *meminfo = std::fopen("/proc/meminfo", "re");
    if (!meminfo)
        return -1;
    char line[256];
    long long availableKiB = -1;
    while (std::fgets(line, sizeof line, meminfo)) {
        if (std::sscanf(line, "MemAvailable: %lld kB", &availableKiB) == 1)
            break;
    }
    std::fclose(meminfo);
    return availableKiB < 0 ? -1 : availableKiB * 1024;
}

// The dynamic linker looks for a library along the library path of the object that asks for it.
// Under the sanitizers that object is their dlopen wrapper, not the program, so the program's own
// path (the loader's folder in the build, the private folder once installed) is walked here.
void *OpenFormatsModuleFile(std::string &why)
{
    why = std::string(kFormatsModuleName) + " is not on the program's library path";
    for (const std::string &folder : ProgramLibraryPath()) {
        const std::string path = folder + '/' + kFormatsModuleName;
        if (::access(path.c_str(), F_OK) != 0)
            continue;
        if (void *module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
            return module;
        const char *error = ::dlerror();
        why = error ? error : path + " could not be loaded";
    }
    return nullptr;
}

void *FormatsModuleFunction(void *module, const char *name) { return ::dlsym(module, name); }

#endif

} // namespace imaging
