#include "tools/avg_command.h"

#include "analysis/calc_color.h"
#include "imaging/picture_formats.h"
#include "imaging/picture_rows.h"
#include "imaging/quiet_stderr.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <sched.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace tools {
namespace {

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

    // stderr goes through the loader's writer: a decode on another thread may have pointed file
    // descriptor 2 away to keep a library quiet.
    void PrintLine(std::FILE *stream, std::string_view text)
    {
        if (stream == stderr) {
            imaging::WriteToStderr(std::string(text) + '\n');
            return;
        }
        std::fwrite(text.data(), 1, text.size(), stream);
        std::fputc('\n', stream);
    }

    constexpr const char *kHelpText
        = R"(Prints the average colour of each image file (BMP, PNG, GIF, JPEG, ICO, WebP, TIFF,
HEIC/HEIF, AVIF, JPEG XL), composed over the background colour, one line per file in the
order given.

  --background #RRGGBB  colour behind transparent pixels (default #FFFFFF)
  --json                one JSON object per line instead of the text line (see below)
  -j N, --jobs N        work on N files at once (default: one per core); the output stays
                        in argument order
  -r, --recursive       walk the directories given, in sorted order, without following
                        symbolic links inside them; files that are not pictures are
                        skipped, pictures that fail to load are errors
  -                     read one picture from standard input
  --                    everything after it is a file
  --help, --version

Text line: #RRGGBB R:r G:g B:b H:h S:s L:l  path (channel means truncated to whole numbers).
JSON: {"path":..., "width", "height", "pixels", "mean":{"hex","r","g","b","h","s","l"},
"linear_mean":{"hex","r","g","b"}, "stddev":{"r","g","b"}, "min":{...}, "max":{...}}; a file
that fails gives {"path":...,"error":"..."}. A path that is not valid UTF-8 shows each byte
outside a valid sequence as U+FFFD, and "path_bytes" then holds the exact name in base64.
When standard error is a terminal and more than one file is given, a progress bar shows there.
Exit status: 0 when every picture loaded, 1 when any failed, 2 for a usage error.)";

    // One file to work on, as the command line or the walk named it.
    struct Job
    {
        std::string path;
        bool fromWalk = false; // found by -r: content that is not a picture is skipped
        bool unreadableFolder = false;
    };

    struct Outcome
    {
        bool done = false;
        bool failed = false;
        bool skipped = false;
        std::string line;
    };

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

    // Whether the regular file starts like a picture the loader knows; unreadable files count as
    // pictures, so that they are reported rather than passed over.
    bool LooksLikePicture(const std::string &path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            return true;
        unsigned char head[imaging::kRecognitionBytes];
        const ssize_t n = ::read(fd, head, sizeof head);
        ::close(fd);
        return n < 0 || imaging::IsKnownPictureFormat(head, static_cast<std::size_t>(n));
    }

    std::string JoinPath(const std::string &folder, const char *name)
    {
        return folder.ends_with('/') ? folder + name : folder + '/' + name;
    }

    // Adds the regular files under folder in byte order of their names, folders where they sort.
    // Symbolic links inside are not followed, so a link back up cannot loop.
    void Walk(const std::string &folder, std::vector<Job> &jobs)
    {
        DIR *dir = ::opendir(folder.c_str());
        if (!dir) {
            jobs.push_back(Job { folder, false, true });
            return;
        }
        std::vector<std::string> names;
        while (const dirent *entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string &name : names) {
            const std::string path = JoinPath(folder, name.c_str());
            struct stat info = {};
            if (::lstat(path.c_str(), &info) != 0)
                continue;
            if (S_ISDIR(info.st_mode))
                Walk(path, jobs);
            else if (S_ISREG(info.st_mode))
                jobs.push_back(Job { path, true, false });
        }
    }

    std::vector<Job> ListJobs(const AvgArguments &arguments)
    {
        std::vector<Job> jobs;
        for (const std::string &file : arguments.files) {
            struct stat info = {};
            // A folder named on the command line is walked even when the name is a link to it.
            if (arguments.recursive && file != "-" && ::stat(file.c_str(), &info) == 0
                && S_ISDIR(info.st_mode))
                Walk(file, jobs);
            else
                jobs.push_back(Job { file, false, false });
        }
        return jobs;
    }

    std::string JsonNumber(double value)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.4f", value);
        return text;
    }

    std::string Channels(std::int32_t r, std::int32_t g, std::int32_t b)
    {
        return "\"r\":" + std::to_string(r) + ",\"g\":" + std::to_string(g)
            + ",\"b\":" + std::to_string(b);
    }

    // Length of the valid UTF-8 sequence at the start of bytes, or 0 when it is not one
    // (overlong forms, surrogates and code points past U+10FFFF are not valid).
    std::size_t Utf8SequenceLength(std::string_view bytes)
    {
        const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
        const unsigned char lead = at(0);
        if (lead < 0x80)
            return 1;
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return 0;
        }
        if (bytes.size() < length || at(1) < low || at(1) > high)
            return 0;
        for (std::size_t i = 2; i < length; ++i) {
            if (at(i) < 0x80 || at(i) > 0xBF)
                return 0;
        }
        return length;
    }

    std::string Base64(std::string_view bytes)
    {
        static constexpr char kDigits[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string text;
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
            std::uint32_t group = 0;
            for (std::size_t k = 0; k < 3; ++k)
                group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
            for (std::size_t k = 0; k < 4; ++k)
                text += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3Fu] : '=';
        }
        return text;
    }

    std::string JsonError(std::string_view path, std::string_view error)
    {
        // Appended piece by piece: GCC 12 warns wrongly about "{" + std::string.
        std::string line(1, '{');
        line += FormatJsonPath(path);
        line += ",\"error\":\"";
        line += error;
        line += "\"}";
        return line;
    }

    // Works out one job's output line.
    Outcome RunJob(const Job &job, const AvgArguments &arguments)
    {
        Outcome outcome;
        const std::string &path = job.path;
        const auto fail = [&](std::string_view why) {
            outcome.failed = true;
            outcome.line = arguments.json ? JsonError(path, why) : "Error loading picture ";
            if (!arguments.json)
                outcome.line += path;
            return outcome;
        };
        if (job.unreadableFolder)
            return fail("the folder could not be read");
        if (job.fromWalk && !LooksLikePicture(path)) {
            outcome.skipped = true;
            return outcome;
        }
        // The text line shows the means alone: the other figures are not worked out for it.
        analysis::StatisticsSink sink(!arguments.json);
        bool drawn = false;
        if (path == "-") {
            modGDIPlusResize::PictureBytes picture;
            if (!ReadAllOf(stdin, picture.bytes))
                return fail("standard input could not be read");
            drawn = modGDIPlusResize::DrawPictureRows(picture, sink, arguments.background)
                == imaging::LoadFailure::None;
        } else {
            // The name goes to the file system as the shell gave it, whatever its encoding.
            drawn = modGDIPlusResize::DrawPictureRows(
                        modGDIPlusResize::NativePath { path }, sink, arguments.background)
                == imaging::LoadFailure::None;
        }
        if (!drawn)
            return fail("not a complete, readable picture");
        const analysis::PictureStatistics statistics = sink.Statistics();
        if (arguments.json) {
            outcome.line = FormatJsonLine(statistics, path);
        } else {
            const analysis::ColourSummary summary = analysis::Summarise(statistics.totals);
            outcome.line = FormatAvgLine(summary.hexText, summary.infoText, path);
        }
        return outcome;
    }

    // "[#####.....] 12/100 files  8.3 files/s" on one terminal line, redrawn in place.
    class ProgressBar
    {
    public:
        ProgressBar(bool shown, std::size_t total)
            : shown(shown)
            , total(total)
            , start(std::chrono::steady_clock::now())
        {
        }

        void Draw(std::size_t done)
        {
            if (!shown)
                return;
            constexpr std::size_t kWidth = 30;
            const std::size_t filled = total == 0 ? kWidth : done * kWidth / total;
            const double seconds
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
            char text[160];
            std::snprintf(text, sizeof text, "\r[%s%s] %zu/%zu files  %.1f files/s\033[K",
                std::string(filled, '#').c_str(), std::string(kWidth - filled, '.').c_str(), done,
                total, rate);
            imaging::WriteToStderr(text);
        }

        [[nodiscard]] bool Shown() const { return shown; }

        // Takes the bar off the line, so that a message or the shell prompt starts clean.
        void Clear()
        {
            if (!shown)
                return;
            imaging::WriteToStderr("\r\033[K");
        }

    private:
        bool shown;
        std::size_t total;
        std::chrono::steady_clock::time_point start;
    };

    // Works through the jobs on the given number of threads; prints each outcome as soon as it
    // and all before it are known. Returns whether every picture loaded.
    bool RunJobs(const std::vector<Job> &jobs, const AvgArguments &arguments, int threads)
    {
        std::vector<Outcome> outcomes(jobs.size());
        std::mutex mutex;
        std::condition_variable finished;
        std::atomic<std::size_t> next { 0 };
        const auto work = [&] {
            for (std::size_t i = next++; i < jobs.size(); i = next++) {
                Outcome outcome;
                try {
                    outcome = RunJob(jobs[i], arguments);
                } catch (const std::exception &) {
                    // Out of memory for a picture read from a pipe, say: that file fails.
                    outcome = Outcome {};
                    outcome.failed = true;
                    outcome.line = arguments.json ? JsonError(jobs[i].path, "out of memory")
                                                  : "Error loading picture " + jobs[i].path;
                }
                outcome.done = true;
                {
                    const std::lock_guard lock(mutex);
                    outcomes[i] = std::move(outcome);
                }
                finished.notify_one();
            }
        };
        // With one job at a time the printing thread decodes as well; otherwise it only prints,
        // and N workers decode.
        std::vector<std::thread> workers;
        const auto count = std::min(static_cast<std::size_t>(std::max(1, threads)), jobs.size());
        for (std::size_t t = 0; count > 1 && t < count; ++t)
            workers.emplace_back(work);
        if (workers.empty())
            work();

        ProgressBar bar(::isatty(STDERR_FILENO) == 1 && jobs.size() > 1, jobs.size());
        bool allLoaded = true;
        std::size_t printed = 0;
        bar.Draw(0);
        std::unique_lock lock(mutex);
        while (printed < jobs.size()) {
            if (!outcomes[printed].done) {
                bar.Draw(printed);
                finished.wait_for(lock, std::chrono::milliseconds(200));
                continue;
            }
            Outcome outcome = std::move(outcomes[printed]);
            ++printed;
            lock.unlock();
            if (!outcome.skipped) {
                if (outcome.failed)
                    allLoaded = false;
                // Standard output may be the same terminal: every line starts where the bar was.
                bar.Clear();
                if (outcome.failed && !arguments.json) {
                    std::fflush(stdout); // keeps the error line in order with the lines before it
                    PrintLine(stderr, outcome.line);
                } else {
                    PrintLine(stdout, outcome.line);
                    if (bar.Shown())
                        std::fflush(stdout);
                }
            }
            lock.lock();
        }
        lock.unlock();
        bar.Clear();
        for (std::thread &worker : workers)
            worker.join();
        return allLoaded;
    }

    // The cores this process may run on (a container or taskset may allow fewer than the
    // machine has).
    int CoresToUse()
    {
        cpu_set_t allowed;
        CPU_ZERO(&allowed);
        if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
            return std::max(1, CPU_COUNT(&allowed));
        return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
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
    // The value of an option given either as "--name value" or as "--name=value" (or, for a
    // short option, "-xvalue"); nothing when the value is missing.
    const auto valueOf = [argc, argv](std::string_view arg, std::string_view name,
                             int &i) -> std::optional<std::string_view> {
        if (arg != name)
            return arg.substr(name.size() + (name.starts_with("--") ? 1 : 0));
        if (i + 1 >= argc)
            return std::nullopt;
        return std::string_view(argv[++i]);
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
        } else if (arg == "--json") {
            parsed.json = true;
        } else if (arg == "-r" || arg == "--recursive") {
            parsed.recursive = true;
        } else if (arg.starts_with("-j") || arg == "--jobs" || arg.starts_with("--jobs=")) {
            const std::string_view name = arg.starts_with("-j") ? "-j" : "--jobs";
            const std::optional<std::string_view> value = valueOf(arg, name, i);
            if (!value)
                return fail(std::string(name) + " needs a number of jobs");
            int jobs = 0;
            for (const char c : *value) {
                if (c < '0' || c > '9' || jobs > 1024) {
                    jobs = -1;
                    break;
                }
                jobs = jobs * 10 + (c - '0');
            }
            if (jobs < 1 || jobs > 1024)
                return fail("bad number of jobs '" + std::string(*value) + "', expected 1..1024");
            parsed.jobs = jobs;
        } else if (arg == "--background" || arg.starts_with("--background=")) {
            const std::optional<std::string_view> value = valueOf(arg, "--background", i);
            if (!value)
                return fail("--background needs a colour #RRGGBB");
            const std::optional<analysis::ColourValue> colour = ParseHexColour(*value);
            if (!colour)
                return fail("bad colour '" + std::string(*value) + "', expected #RRGGBB");
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

std::string FormatJsonPath(std::string_view path)
{
    std::string text = "\"path\":\"";
    bool valid = true;
    for (std::size_t i = 0; i < path.size();) {
        const std::size_t length = Utf8SequenceLength(path.substr(i));
        if (length == 0) {
            text += "\xEF\xBF\xBD"; // U+FFFD
            valid = false;
            ++i;
            continue;
        }
        const char c = path[i];
        if (c == '"' || c == '\\') {
            text += '\\';
            text += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            text += escaped;
        } else {
            text.append(path.substr(i, length));
        }
        i += length;
    }
    text += '"';
    if (!valid)
        text += ",\"path_bytes\":\"" + Base64(path) + "\"";
    return text;
}

std::string FormatJsonLine(const analysis::PictureStatistics &s, std::string_view path)
{
    const analysis::ColourSummary mean = analysis::Summarise(s.totals);
    std::string line(1, '{');
    line += FormatJsonPath(path);
    line += ",\"width\":" + std::to_string(s.width);
    line += ",\"height\":" + std::to_string(s.height);
    line += ",\"pixels\":" + std::to_string(s.totals.count);
    line += ",\"mean\":{\"hex\":\"" + mean.hexText + "\","
        + Channels(mean.avgR, mean.avgG, mean.avgB) + ",\"h\":" + std::to_string(mean.hsl.H)
        + ",\"s\":" + std::to_string(mean.hsl.S) + ",\"l\":" + std::to_string(mean.hsl.L) + "}";
    line += ",\"linear_mean\":{\"hex\":\"" + analysis::HexText(s.linearR, s.linearG, s.linearB)
        + "\"," + Channels(s.linearR, s.linearG, s.linearB) + "}";
    line += ",\"stddev\":{\"r\":" + JsonNumber(s.r.stddev) + ",\"g\":" + JsonNumber(s.g.stddev)
        + ",\"b\":" + JsonNumber(s.b.stddev) + "}";
    line += ",\"min\":{" + Channels(s.r.min, s.g.min, s.b.min) + "}";
    line += ",\"max\":{" + Channels(s.r.max, s.g.max, s.b.max) + "}}";
    return line;
}

int RunAvg(int argc, const char *const *argv)
{
    const AvgArguments arguments = ParseAvgArguments(argc, argv);
    switch (arguments.action) {
    case AvgArguments::Action::Help:
        PrintLine(stdout, kAvgUsage);
        PrintLine(stdout, kHelpText);
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

    const std::vector<Job> jobs = ListJobs(arguments);
    const int threads = arguments.jobs > 0 ? arguments.jobs : CoresToUse();
    const bool allLoaded = RunJobs(jobs, arguments, threads);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        PrintLine(stderr, "quillmere-avg: could not write the results");
        return 1;
    }
    return allLoaded ? 0 : 1;
}

} // namespace tools
