#include "tools/avg_command.h"

#include "analysis/calc_color.h"
#include "imaging/image_pixels.h"
#include "imaging/mod_gdi_plus_resize.h"

#include <QByteArray>

#include <cstdio>

namespace tools {
namespace {

    // Keeps what the scan shows; the tool prints it instead of showing it.
    struct CapturedOutputs
    {
        std::string infoText;
        std::string hexText;
        void SetInfoText(std::string_view text) { infoText = text; }
        void SetHexText(std::string_view text) { hexText = text; }
        void SetSwatchColour(analysis::ColourValue) { }
    };

    int HexDigit(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    void PrintLine(std::FILE *stream, std::string_view text)
    {
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fputc('\n', stream);
    }

} // namespace

std::optional<analysis::ColourValue> ParseHexColour(std::string_view text)
{
    if (text.size() != 7 || text[0] != '#')
        return std::nullopt;
    int channels[3];
    for (int i = 0; i < 3; ++i) {
        const int high = HexDigit(text[1 + 2 * i]);
        const int low = HexDigit(text[2 + 2 * i]);
        if (high < 0 || low < 0)
            return std::nullopt;
        channels[i] = high * 16 + low;
    }
    return analysis::MakeColour(channels[0], channels[1], channels[2]);
}

AvgArguments ParseAvgArguments(int argc, const char *const *argv)
{
    AvgArguments parsed;
    const auto fail = [&parsed](std::string problem) {
        parsed.action = AvgArguments::Action::UsageError;
        parsed.problem = std::move(problem);
        return parsed;
    };
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!options || arg.size() < 2 || arg[0] != '-') {
            parsed.files.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options = false;
        } else if (arg == "--help" || arg == "-h") {
            parsed.action = AvgArguments::Action::Help;
            return parsed;
        } else if (arg == "--version") {
            parsed.action = AvgArguments::Action::Version;
            return parsed;
        } else if (arg == "--background" || arg.starts_with("--background=")) {
            std::string_view value;
            if (arg == "--background") {
                if (i + 1 >= argc)
                    return fail("--background needs a colour #RRGGBB");
                value = argv[++i];
            } else {
                value = arg.substr(std::string_view("--background=").size());
            }
            const std::optional<analysis::ColourValue> colour = ParseHexColour(value);
            if (!colour)
                return fail("bad colour '" + std::string(value) + "', expected #RRGGBB");
            parsed.background = *colour;
        } else {
            return fail("unknown option '" + std::string(arg) + "'");
        }
    }
    if (parsed.files.empty())
        return fail("no file given");
    return parsed;
}

std::string FormatAvgLine(
    std::string_view hexText, std::string_view infoText, std::string_view path)
{
    // Each info line is "<mean> <hsl value>": the means come first, then the three HSL values.
    std::string means, hsl;
    while (!infoText.empty()) {
        const std::size_t end = infoText.find("\r\n");
        const std::string_view line = infoText.substr(0, end);
        const std::size_t space = line.find(' ');
        means += ' ';
        means += line.substr(0, space);
        if (space != std::string_view::npos) {
            hsl += ' ';
            hsl += line.substr(space + 1);
        }
        infoText = end == std::string_view::npos ? std::string_view() : infoText.substr(end + 2);
    }
    std::string line(hexText);
    line += means;
    line += hsl;
    line += "  ";
    line += path;
    return line;
}

int RunAvg(int argc, const char *const *argv)
{
    const AvgArguments arguments = ParseAvgArguments(argc, argv);
    switch (arguments.action) {
    case AvgArguments::Action::Help:
        PrintLine(stdout, kAvgUsage);
        PrintLine(stdout,
            "Prints the average colour of each image file (BMP, PNG, GIF, JPEG, ICO, WebP, TIFF, "
            "HEIC/HEIF, AVIF, JPEG XL), composed "
            "over the background colour (default #FFFFFF).");
        return std::fflush(stdout) == 0 ? 0 : 1;
    case AvgArguments::Action::Version:
        PrintLine(stdout, "quillmere-avg " QUILLMERE_VERSION_TEXT);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case AvgArguments::Action::UsageError:
        PrintLine(stderr, "quillmere-avg: " + arguments.problem + "; " + std::string(kAvgUsage));
        return 2;
    case AvgArguments::Action::Run:
        break;
    }

    analysis::ColourScanner scanner;
    bool allLoaded = true;
    for (const std::string &file : arguments.files) {
        const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
        try {
            std::int32_t width = -1, height = -1;
            // The name goes to the file system as the shell gave it, whatever its encoding.
            const QImage picture = modGDIPlusResize::LoadPictureScaled(
                modGDIPlusResize::NativePath { QByteArray::fromStdString(file) }, width, height,
                arguments.background);
            modGDIPlusResize::GdiPlusClose(token);
            CapturedOutputs outputs;
            scanner.CalcColor(
                imaging::ImagePixels(picture), [] {}, outputs);
            PrintLine(stdout, FormatAvgLine(outputs.hexText, outputs.infoText, file));
        } catch (const modGDIPlusResize::LoadError &) {
            modGDIPlusResize::GdiPlusClose(token);
            std::fflush(stdout); // keeps the error line in order with the lines before it
            PrintLine(stderr, "Error loading picture " + file);
            allLoaded = false;
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        PrintLine(stderr, "quillmere-avg: could not write the results");
        return 1;
    }
    return allLoaded ? 0 : 1;
}

} // namespace tools
