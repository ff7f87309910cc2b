#include "imaging/formats_module.h"
#include "imaging/picture_formats.h"
#include "imaging/quiet_stderr.h"
#include "imaging/system_files.h"

#include <mutex>
#include <optional>
#include <string>

namespace imaging {
namespace {

    // The module's entry, or null with the reason it could not be had.
    struct ModuleState
    {
        FormatsModuleEntry entry = nullptr;
        LoadFailure failure = LoadFailure::ModuleMissing;
    };

    // Loaded once and never unloaded: the images it makes run its code until they go.
    const ModuleState &Module()
    {
        static ModuleState state;
        static std::once_flag loaded;
        std::call_once(loaded, [] {
            std::string why;
            if (void *module = OpenFormatsModuleFile(why)) {
                state.entry = reinterpret_cast<FormatsModuleEntry>(
                    FormatsModuleFunction(module, kFormatsModuleEntry));
                if (!state.entry) {
                    state.failure = LoadFailure::ModuleMismatch;
                    why = std::string(kFormatsModuleName) + " is from another build";
                }
            }
            if (!state.entry)
                WriteToStderr("quillmere: the decoders of "
                    + FormatNamesIn(DecoderHome::FormatsModule) + " are not available: " + why
                    + "\n");
        });
        return state;
    }

    // A QuietStderr for the calls that need one, nothing for the rest.
    class SilenceWhen
    {
    public:
        explicit SilenceWhen(bool quiet)
        {
            if (quiet)
                silence.emplace();
        }

    private:
        std::optional<QuietStderr> silence;
    };

    // A picture decoded in the module. The calls of a format whose library prints on stderr (the
    // row's quietStderr) run with stderr silenced; the programs' own lines still get through.
    class ModuleImage final : public DecodedImage
    {
    public:
        ModuleImage(std::unique_ptr<DecodedImage> decoded, bool quiet)
            : decoded(std::move(decoded))
            , quiet(quiet)
        {
            size = this->decoded->Size();
            colour = this->decoded->Colour();
        }

        [[nodiscard]] Raster TakeRaster() override { return decoded->TakeRaster(); }

        [[nodiscard]] LoadFailure DrawOver(Raster &raster, QRgb background) override
        {
            const SilenceWhen silence(quiet);
            return decoded->DrawOver(raster, background);
        }

        [[nodiscard]] LoadFailure DrawRows(analysis::RowSink &sink, QRgb background) override
        {
            const SilenceWhen silence(quiet);
            return decoded->DrawRows(sink, background);
        }

        // The module's decoder converts, so it holds the options and knows what it did.
        void SetColourOptions(ColourOptions options) override
        {
            decoded->SetColourOptions(options);
        }

        [[nodiscard]] ColourReport Report() const override { return decoded->Report(); }

    private:
        std::unique_ptr<DecodedImage> decoded;
        bool quiet;
    };

} // namespace

bool LoadFormatsModule() { return Module().entry != nullptr; }

OpenedImage OpenInFormatsModule(const PictureFormat &format, FilePtr file)
{
    const ModuleState &module = Module();
    if (!module.entry)
        return { nullptr, module.failure };
    if (!file)
        return { nullptr, LoadFailure::ReadError };
    std::unique_ptr<DecodedImage> decoded;
    int failure = static_cast<int>(LoadFailure::Damaged);
    {
        const SilenceWhen silence(format.quietStderr);
        decoded.reset(module.entry(static_cast<int>(format.id), file.release(), &failure));
    }
    if (!decoded) {
        const auto reason = static_cast<LoadFailure>(failure);
        return { nullptr, reason == LoadFailure::None ? LoadFailure::Damaged : reason };
    }
    return { std::make_unique<ModuleImage>(std::move(decoded), format.quietStderr),
        LoadFailure::None };
}

} // namespace imaging
