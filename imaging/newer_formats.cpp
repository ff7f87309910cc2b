#include "imaging/formats_module.h"
#include "imaging/quiet_stderr.h"

#include <cstddef>
#include <dlfcn.h>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace imaging {
namespace {

    // The dynamic linker looks for a library in the library path of the object that asks for it.
    // Under the sanitizers that object is their dlopen wrapper, not the program, so the program's
    // own path (beside the loader in the build, the private folder once installed) is walked here.
    void *OpenModuleOnProgramPath()
    {
        constexpr int kMode = RTLD_NOW | RTLD_LOCAL;
        if (void *program = ::dlopen(nullptr, RTLD_NOW)) {
            Dl_serinfo size {};
            if (::dlinfo(program, RTLD_DI_SERINFOSIZE, &size) == 0) {
                std::vector<std::max_align_t> space(
                    (size.dls_size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t));
                auto *paths = reinterpret_cast<Dl_serinfo *>(space.data());
                *paths = size;
                if (::dlinfo(program, RTLD_DI_SERINFOSIZE, paths) == 0
                    && ::dlinfo(program, RTLD_DI_SERINFO, paths) == 0) {
                    for (unsigned i = 0; i < paths->dls_cnt; ++i) {
                        const char *folder = paths->dls_serpath[i].dls_name;
                        // Never the working folder: a picture's folder could plant a module.
                        if (!folder || folder[0] != '/')
                            continue;
                        const std::string path = std::string(folder) + '/' + kFormatsModuleName;
                        if (void *module = ::dlopen(path.c_str(), kMode))
                            return module;
                    }
                }
            }
        }
        // Nothing found: the plain search, whose error names the module and why.
        return ::dlopen(kFormatsModuleName, kMode);
    }

    // Loaded once and never unloaded: the images it makes run its code until they go.
    FormatsModuleEntry ModuleEntry()
    {
        static FormatsModuleEntry entry = nullptr;
        static std::once_flag loaded;
        std::call_once(loaded, [] {
            void *module = OpenModuleOnProgramPath();
            if (module)
                entry = reinterpret_cast<FormatsModuleEntry>(::dlsym(module, kFormatsModuleEntry));
            if (!entry) {
                const char *why = ::dlerror();
                WriteToStderr(std::string("quillmere: the decoders of WebP, TIFF, HEIF, AVIF and "
                                          "JPEG XL are not available: ")
                    + (why ? why : "unknown reason") + "\n");
            }
        });
        return entry;
    }

    // A picture decoded in the module. Debian's libjxl prints a line on stderr for each flaw it
    // meets, so its calls run with stderr silenced; the programs' own lines still get through.
    class ModuleImage final : public DecodedImage
    {
    public:
        ModuleImage(std::unique_ptr<DecodedImage> decoded, bool quiet)
            : decoded(std::move(decoded))
            , quiet(quiet)
        {
            size = this->decoded->Size();
        }

        [[nodiscard]] Raster TakeRaster() override { return decoded->TakeRaster(); }

        [[nodiscard]] bool DrawOver(Raster &raster, QRgb background) override
        {
            std::optional<QuietStderr> silence;
            if (quiet)
                silence.emplace();
            return decoded->DrawOver(raster, background);
        }

        [[nodiscard]] bool DrawRows(analysis::RowSink &sink, QRgb background) override
        {
            std::optional<QuietStderr> silence;
            if (quiet)
                silence.emplace();
            return decoded->DrawRows(sink, background);
        }

    private:
        std::unique_ptr<DecodedImage> decoded;
        bool quiet;
    };

} // namespace

bool LoadFormatsModule() { return ModuleEntry() != nullptr; }

std::unique_ptr<DecodedImage> OpenNewerFormat(NewerFormat format, FilePtr file)
{
    const FormatsModuleEntry entry = ModuleEntry();
    if (!entry || !file)
        return nullptr;
    const bool quiet = format == NewerFormat::Jxl;
    std::unique_ptr<DecodedImage> decoded;
    {
        std::optional<QuietStderr> silence;
        if (quiet)
            silence.emplace();
        decoded.reset(entry(static_cast<int>(format), file.release()));
    }
    if (!decoded)
        return nullptr;
    return std::make_unique<ModuleImage>(std::move(decoded), quiet);
}

} // namespace imaging
