#include "tools/avg_job.h"

#include "analysis/pixel_statistics.h"
#include "imaging/load_failure.h"
#include "imaging/picture_rows.h"
#include "tools/avg_output.h"

#include <cstdio>
#include <exception>

namespace tools {
namespace {

    bool ReadAllOf(std::FILE *stream, std::string &bytes)
    {
        char chunk[64 * 1024];
        for (;;) {
            const std::size_t n = std::fread(chunk, 1, sizeof chunk, stream);
            bytes.append(chunk, n);
            if (n < sizeof chunk)
                return std::ferror(stream) == 0;
        }
    }

    Outcome Failure(const std::string &path, std::string_view reason, bool json)
    {
        return Outcome { json ? Outcome::Where::Out : Outcome::Where::Err,
            FormatFailureLine(path, reason, json), true };
    }

    Outcome UsageFailure(const std::string &path, const std::string &problem, bool json)
    {
        Outcome outcome = Failure(path, problem, json);
        if (!json)
            outcome.line = "quillmere-avg: " + problem + " in " + path;
        outcome.usage = true;
        return outcome;
    }

    PictureFigures Figures(CellsSink &sink, const JobSettings &settings)
    {
        PictureFigures figures;
        figures.width = sink.Width();
        figures.height = sink.Height();
        figures.area = settings.area;
        for (std::size_t i = 0; i < sink.Cells().size(); ++i) {
            const analysis::StatisticsSink &sums = sink.Sums(i);
            PartFigures part { sink.Cells()[i], sums.Statistics(), std::nullopt };
            if (const analysis::ColourHistogram *colours = sink.Colours(i))
                part.dominant = analysis::DominantColours(*colours, settings.colours);
            figures.parts.push_back(std::move(part));
        }
        return figures;
    }

    Outcome Work(const AvgJob &job, const JobSettings &settings)
    {
        const std::string &path = job.path;
        if (job.unreadableFolder)
            return Failure(path, "the folder could not be read", settings.json);
        if (job.fromWalk && !LooksLikePicture(path))
            return Outcome {};
        // The text line shows the means alone: the other figures are not worked out for it.
        CellsSink sink(settings.area, !settings.json, settings.json && settings.colours > 0);
        imaging::LoadFailure failure = imaging::LoadFailure::None;
        const imaging::ColourOptions options { settings.raw };
        imaging::ColourReport report;
        if (path == "-") {
            modGDIPlusResize::PictureBytes picture;
            if (!ReadAllOf(stdin, picture.bytes))
                return Failure(path, "standard input could not be read", settings.json);
            failure = modGDIPlusResize::DrawPictureRows(
                picture, sink, settings.background, options, &report);
        } else {
            // The name goes to the file system as the shell gave it, whatever its encoding.
            failure = modGDIPlusResize::DrawPictureRows(
                modGDIPlusResize::NativePath { path }, sink, settings.background, options, &report);
        }
        if (failure != imaging::LoadFailure::None && !sink.Problem().empty())
            return UsageFailure(path, sink.Problem(), settings.json);
        if (failure != imaging::LoadFailure::None)
            return Failure(path, imaging::LoadFailureText(failure), settings.json);
        const PictureFigures figures = Figures(sink, settings);
        return Outcome { Outcome::Where::Out,
            settings.json ? FormatJsonLine(figures, path, report)
                          : FormatTextLines(figures, settings.forms, path),
            false };
    }

} // namespace

Outcome WorkOut(const AvgJob &job, const JobSettings &settings) noexcept
{
    try {
        return Work(job, settings);
    } catch (const std::exception &) {
        try {
            return Failure(job.path, "out of memory", settings.json);
        } catch (const std::exception &) {
            // Not even the line could be made: the file still counts as failed.
            return Outcome { Outcome::Where::Nowhere, {}, true };
        }
    }
}

} // namespace tools
