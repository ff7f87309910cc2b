#include "tools/avg_runner.h"

#include "imaging/quiet_stderr.h"
#include "tools/avg_system.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tools {

std::string ProgressText(std::size_t done, std::size_t total, double seconds)
{
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = total == 0 ? kWidth : done * kWidth / total;
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    char text[160];
    std::snprintf(text, sizeof text, "\r[%s%s] %zu/%zu files  %.1f files/s\033[K",
        std::string(filled, '#').c_str(), std::string(kWidth - filled, '.').c_str(), done, total,
        rate);
    return text;
}

ProgressBar::ProgressBar(bool shown, std::size_t total, Writer write)
    : shown(shown)
    , total(total)
    , start(std::chrono::steady_clock::now())
    , write(write ? std::move(write) : Writer(imaging::WriteToStderr))
{
}

void ProgressBar::Draw(std::size_t done)
{
    if (!shown)
        return;
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    write(ProgressText(done, total, seconds.count()));
}

void ProgressBar::Clear()
{
    if (shown)
        write("\r\033[K");
}

namespace {

    // With one job at a time the calling thread works and prints file by file.
    void RunHere(std::size_t count, const std::function<Outcome(std::size_t)> &work,
        const std::function<void(const Outcome &)> &hand, ProgressBar &bar)
    {
        for (std::size_t i = 0; i < count; ++i) {
            bar.Draw(i);
            hand(work(i));
        }
    }

    // Otherwise the calling thread only prints, and the workers take the next number in turn.
    void RunOnWorkers(std::size_t count, std::size_t workers,
        const std::function<Outcome(std::size_t)> &work,
        const std::function<void(const Outcome &)> &hand, ProgressBar &bar)
    {
        std::vector<std::optional<Outcome>> outcomes(count);
        std::mutex mutex;
        std::condition_variable finished;
        std::size_t next = 0;
        const auto takeJobs = [&] {
            for (;;) {
                std::size_t i = 0;
                {
                    const std::lock_guard lock(mutex);
                    if (next == count)
                        return;
                    i = next++;
                }
                Outcome outcome = work(i);
                {
                    const std::lock_guard lock(mutex);
                    outcomes[i] = std::move(outcome);
                }
                finished.notify_one();
            }
        };
        std::vector<std::thread> pool;
        for (std::size_t t = 0; t < workers; ++t)
            pool.emplace_back(takeJobs);

        bar.Draw(0);
        std::unique_lock lock(mutex);
        for (std::size_t printed = 0; printed < count;) {
            if (!outcomes[printed]) {
                bar.Draw(printed);
                finished.wait_for(lock, std::chrono::milliseconds(200));
                continue;
            }
            const Outcome outcome = std::move(*outcomes[printed]);
            outcomes[printed].reset();
            ++printed;
            lock.unlock();
            hand(outcome);
            lock.lock();
        }
        lock.unlock();
        for (std::thread &worker : pool)
            worker.join();
    }

} // namespace

bool RunInOrder(std::size_t count, int threads, const std::function<Outcome(std::size_t)> &work,
    const std::function<void(const Outcome &)> &print, ProgressBar &bar)
{
    bool allLoaded = true;
    const std::function<void(const Outcome &)> hand = [&](const Outcome &outcome) {
        allLoaded = allLoaded && !outcome.failed;
        if (outcome.where == Outcome::Where::Nowhere)
            return;
        // Standard output may be the same terminal: every line starts where the bar was.
        bar.Clear();
        print(outcome);
    };
    const std::size_t workers = std::min(static_cast<std::size_t>(std::max(1, threads)), count);
    if (workers <= 1)
        RunHere(count, work, hand, bar);
    else
        RunOnWorkers(count, workers, work, hand, bar);
    bar.Clear();
    return allLoaded;
}

void PrintOutcome(const Outcome &outcome, bool flush)
{
    switch (outcome.where) {
    case Outcome::Where::Nowhere:
        break;
    case Outcome::Where::Err:
        std::fflush(stdout);
        // Through the loader's writer: a decode on another thread may have pointed file
        // descriptor 2 away to keep a library quiet.
        imaging::WriteToStderr(outcome.line + '\n');
        break;
    case Outcome::Where::Out:
        std::fwrite(outcome.line.data(), 1, outcome.line.size(), stdout);
        std::fputc('\n', stdout);
        if (flush)
            std::fflush(stdout);
        break;
    }
}

int CoresToUse() { return CoresAllowed(); }

} // namespace tools
