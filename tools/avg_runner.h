#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Working on several files at once while printing their lines in the order they were given.
namespace tools {

// One file's result: a line for standard output or standard error, or nothing at all.
struct Outcome
{
    enum class Where { Nowhere, Out, Err };
    Where where = Where::Nowhere;
    std::string line; // without the line break
    bool failed = false; // counts towards the exit status
    bool usage = false; // a request the picture cannot meet: exit status 2
};

// "\r[#####.....] 12/100 files  8.3 files/s" and the erase to the end of the line: 30 marks, done
// of total filled (all of them for a total of 0), the rate with one decimal (0 before any time).
[[nodiscard]] std::string ProgressText(std::size_t done, std::size_t total, double seconds);

// The bar, redrawn in place on standard error when shown.
class ProgressBar
{
public:
    using Writer = std::function<void(std::string_view)>;

    // Writes through the loader's stderr writer unless given another.
    ProgressBar(bool shown, std::size_t total, Writer write = {});

    void Draw(std::size_t done);
    // Takes the bar off the line, so that a message or the shell prompt starts clean.
    void Clear();
    [[nodiscard]] bool Shown() const { return shown; }

private:
    bool shown = false;
    std::size_t total = 0;
    std::chrono::steady_clock::time_point start;
    Writer write;
};

// Works out outcomes 0..count-1 with work, on up to threads threads at once (on the calling thread
// alone for one), and hands each to print in order of its number as soon as it and all before it
// are known; the bar is drawn while it waits and cleared before each line. work must not throw.
// Returns whether no outcome failed.
[[nodiscard]] bool RunInOrder(std::size_t count, int threads,
    const std::function<Outcome(std::size_t)> &work,
    const std::function<void(const Outcome &)> &print, ProgressBar &bar);

// Prints the outcome's line where it says. A line on standard error first flushes standard
// output, which keeps it in order with the lines before it; with flush, a line on standard
// output is flushed at once, so that it shows before the bar is drawn again on the same terminal.
void PrintOutcome(const Outcome &outcome, bool flush);

// The cores this process may run on (a container or taskset may allow fewer than the machine
// has), at least 1.
[[nodiscard]] int CoresToUse();

} // namespace tools
