#include "imaging/formats_module.h"
#include "imaging/quiet_stderr.h"

#include <dlfcn.h>
#include <mutex>
#include <optional>
#include <string>

namespace imaging {
namespace {

    // Loaded once and never unloaded: the images it makes run its code until they go.
    FormatsModuleEntry ModuleEntry()
    {
        static FormatsModuleEntry entry = nullptr;
        static std::once_flag loaded;
        std::call_once(loaded, [] {
            void *module = ::dlopen(kFormatsModuleName, RTLD_NOW | RTLD_LOCAL);
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
