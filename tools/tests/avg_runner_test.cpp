// The ordered runner in-process: jobs that finish out of order still print in order, each line as
// soon as it and those before it are known, and the bar never shares a line with one.
#include "tools/avg_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using tools::Outcome;
using Where = Outcome::Where;

TEST(AvgRunner, PrintsInOrderWhateverOrderJobsFinishIn)
{
    const struct
    {
        std::size_t count;
        int threads;
    } cases[] = { { 0, 1 }, { 0, 4 }, { 1, 1 }, { 5, 1 }, { 7, 3 }, { 20, 8 }, { 3, 1024 } };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " jobs on " + std::to_string(c.threads));
        // Early numbers take longest; every third fails, every fifth is passed over.
        const auto work = [&c](std::size_t i) {
            std::this_thread::sleep_for(std::chrono::milliseconds((c.count - i) % 4 * 3));
            Outcome outcome { i % 5 == 4 ? Where::Nowhere : (i % 3 == 2 ? Where::Err : Where::Out),
                std::to_string(i), i % 3 == 2 };
            return outcome;
        };
        std::vector<std::string> printed, expected;
        bool anyFailed = false;
        for (std::size_t i = 0; i < c.count; ++i) {
            anyFailed = anyFailed || i % 3 == 2;
            if (i % 5 != 4)
                expected.push_back(std::to_string(i));
        }
        tools::ProgressBar bar(false, c.count);
        const bool allLoaded = tools::RunInOrder(
            c.count, c.threads, work,
            [&](const Outcome &outcome) {
                EXPECT_NE(outcome.where, Where::Nowhere);
                EXPECT_EQ(outcome.where == Where::Err, outcome.failed);
                printed.push_back(outcome.line);
            },
            bar);
        EXPECT_EQ(printed, expected);
        EXPECT_EQ(allLoaded, !anyFailed);
    }
}

// Job 1 waits until line 0 is out: a runner that held the lines back until the end would keep it
// waiting until the time-out.
TEST(AvgRunner, ALineIsPrintedAsSoonAsItAndThoseBeforeItAreKnown)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool firstPrinted = false;
    bool waitedInVain = false;
    const auto work = [&](std::size_t i) {
        if (i == 1) {
            std::unique_lock lock(mutex);
            waitedInVain = !changed.wait_for(
                lock, std::chrono::seconds(10), [&firstPrinted] { return firstPrinted; });
        }
        return Outcome { Where::Out, std::to_string(i), false };
    };
    tools::ProgressBar bar(false, 3);
    const bool allLoaded = tools::RunInOrder(
        3, 2, work,
        [&](const Outcome &) {
            {
                const std::lock_guard lock(mutex);
                firstPrinted = true;
            }
            changed.notify_all();
        },
        bar);
    EXPECT_TRUE(allLoaded);
    EXPECT_FALSE(waitedInVain);
}

TEST(AvgRunner, TheBarIsTakenOffBeforeEveryLineAndAtTheEnd)
{
    const std::string clear = "\r\033[K";
    for (const int threads : { 1, 3 }) {
        SCOPED_TRACE(threads);
        std::string shown;
        std::mutex mutex;
        const auto write = [&](std::string_view text) {
            const std::lock_guard lock(mutex);
            shown += text;
        };
        tools::ProgressBar bar(true, 4, write);
        const auto work = [](std::size_t i) {
            return Outcome { i == 2 ? Where::Nowhere : Where::Out, std::to_string(i), false };
        };
        (void)tools::RunInOrder(
            4, threads, work, [&](const Outcome &o) { write("<" + o.line + ">"); }, bar);
        EXPECT_TRUE(shown.starts_with("\r[")) << shown;
        EXPECT_TRUE(shown.ends_with(clear)) << shown;
        for (const char *line : { "<0>", "<1>", "<3>" }) {
            const std::size_t at = shown.find(line);
            ASSERT_NE(at, std::string::npos) << line;
            EXPECT_EQ(shown.substr(at - clear.size(), clear.size()), clear) << shown;
        }
        EXPECT_EQ(shown.find("<2>"), std::string::npos);
    }
    std::string hidden;
    tools::ProgressBar off(false, 2, [&hidden](std::string_view text) { hidden += text; });
    (void)tools::RunInOrder(
        2, 2,
        [](std::size_t) {
            return Outcome { Where::Out, "x", false };
        },
        [](const Outcome &) {}, off);
    EXPECT_EQ(hidden, "");
}

// Marks round down, so the bar is full only when all are done; a total of 0 is all done.
TEST(AvgRunner, ProgressText)
{
    const struct
    {
        std::size_t done, total;
        double seconds;
        const char *text;
    } cases[] = {
        { 0, 2, 0, "\r[..............................] 0/2 files  0.0 files/s\033[K" },
        { 99, 100, 10, "\r[#############################.] 99/100 files  9.9 files/s\033[K" },
        { 0, 0, 0, "\r[##############################] 0/0 files  0.0 files/s\033[K" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text + 1);
        EXPECT_EQ(tools::ProgressText(c.done, c.total, c.seconds), c.text);
    }
}

} // namespace
