#include "tools/avg_command.h"

#include "imaging/quiet_stderr.h"
#include "tools/avg_job.h"
#include "tools/avg_options.h"
#include "tools/avg_runner.h"
#include "tools/avg_system.h"
#include "tools/avg_walk.h"

#include <cstdio>
#include <string>
#include <vector>

namespace tools {
namespace {

    int PrintAndExit(std::string text)
    {
        text += '\n';
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

} // namespace

int RunAvg(int argc, const char *const *argv)
{
    const AvgArguments arguments = ParseAvgArguments(argc, argv);
    switch (arguments.action) {
    case AvgArguments::Action::Help:
        return PrintAndExit(std::string(kAvgUsage) + '\n' + AvgHelpText());
    case AvgArguments::Action::Version:
        return PrintAndExit("quillmere-avg " QUILLMERE_VERSION_TEXT);
    case AvgArguments::Action::UsageError:
        imaging::WriteToStderr(
            "quillmere-avg: " + arguments.problem + "; " + std::string(kAvgUsage) + '\n');
        return 2;
    case AvgArguments::Action::Run:
        break;
    }

    const std::vector<AvgJob> jobs = ListJobs(arguments.files, arguments.recursive);
    const JobSettings settings { arguments.background, arguments.json, arguments.raw,
        arguments.area, arguments.colours, arguments.forms };
    bool usage = false;
    ProgressBar bar(StderrIsTerminal() && jobs.size() > 1, jobs.size());
    const bool allLoaded = RunInOrder(
        jobs.size(), arguments.jobs > 0 ? arguments.jobs : CoresToUse(),
        [&](std::size_t i) { return WorkOut(jobs[i], settings); },
        [&bar, &usage](const Outcome &outcome) {
            usage = usage || outcome.usage;
            PrintOutcome(outcome, bar.Shown());
        },
        bar);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        imaging::WriteToStderr("quillmere-avg: could not write the results\n");
        return 1;
    }
    if (usage)
        return 2;
    return allLoaded ? 0 : 1;
}

} // namespace tools
