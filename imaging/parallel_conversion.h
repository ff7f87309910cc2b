#pragma once

#include "analysis/row_sink.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The conversion to sRGB on a thread of its own: the decoder writes its rows into a few parts
// here and goes on with the next ones while the thread converts the finished parts in place and
// hands them to the sink, in order. On two cores a big tagged picture then costs about what its
// decode costs, where one core pays for both.
namespace imaging {

// Whether a picture of this many pixels gains by it on this machine: a million pixels or more,
// and a second core.
[[nodiscard]] bool ConvertsInParallel(std::int64_t pixels);

class ParallelConversion final : public analysis::RowSink
{
public:
    // Rows a RowSpace call may ask for, at most.
    static constexpr std::int32_t kSlotRows = 16;

    // convert(row, n): the conversion of n pixels in place, called on the thread only.
    ParallelConversion(
        analysis::RowSink &sink, std::function<void(std::uint32_t *, std::int32_t)> convert);
    // Stops the thread; rows not yet handed over are dropped.
    ~ParallelConversion() override;
    ParallelConversion(const ParallelConversion &) = delete;
    ParallelConversion &operator=(const ParallelConversion &) = delete;

    [[nodiscard]] bool Start(std::int32_t width, std::int32_t height) override;
    // Null once the sink had no memory for rows handed over, or when count > kSlotRows.
    [[nodiscard]] std::uint32_t *RowSpace(
        std::int32_t y, std::int32_t count, std::ptrdiff_t &stride) override;
    void RowsDone(std::int32_t y, std::int32_t count) override;

    // Waits until every finished row has reached the sink; false when the sink had no memory for
    // some. Call it before reading what the sink made of the picture.
    [[nodiscard]] bool Finish();

private:
    struct Slot
    {
        std::vector<std::uint32_t> pixels;
        std::int32_t y = 0;
        std::int32_t count = 0;
        bool full = false;
    };

    void Convert();

    analysis::RowSink &sink;
    std::function<void(std::uint32_t *, std::int32_t)> convert;
    std::int32_t width = 0;
    std::vector<Slot> parts;
    // The slot the decoder writes next, and the one the thread converts next.
    std::size_t writing = 0;
    std::size_t converting = 0;
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    bool sinkFailed = false;
    std::thread worker;
};

} // namespace imaging
