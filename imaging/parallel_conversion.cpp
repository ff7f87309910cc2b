#include "imaging/parallel_conversion.h"

#include <new>
#include <system_error>
#include <utility>

namespace imaging {

namespace {

    // Three parts keep the decoder writing while one is converted and one waits.
    constexpr std::size_t kSlots = 3;
    constexpr std::int64_t kLeastPixels = std::int64_t { 1 } << 20;

} // namespace

bool ConvertsInParallel(std::int64_t pixels)
{
    static const unsigned cores = std::thread::hardware_concurrency();
    return pixels >= kLeastPixels && cores >= 2;
}

ParallelConversion::ParallelConversion(
    analysis::RowSink &sinkIn, std::function<void(std::uint32_t *, std::int32_t)> convertIn)
    : sink(sinkIn)
    , convert(std::move(convertIn))
{
}

ParallelConversion::~ParallelConversion()
{
    {
        const std::lock_guard lock(mutex);
        stop = true;
    }
    changed.notify_all();
    if (worker.joinable())
        worker.join();
}

bool ParallelConversion::Start(std::int32_t widthIn, std::int32_t height)
{
    if (!sink.Start(widthIn, height))
        return false;
    width = widthIn;
    try {
        parts.resize(kSlots);
        for (Slot &slot : parts)
            slot.pixels.resize(static_cast<std::size_t>(width) * kSlotRows);
        worker = std::thread(&ParallelConversion::Convert, this);
    } catch (const std::bad_alloc &) {
        sinkFailed = true; // RowSpace says there is no memory
    } catch (const std::system_error &) {
        sinkFailed = true;
    }
    return true;
}

std::uint32_t *ParallelConversion::RowSpace(
    std::int32_t, std::int32_t count, std::ptrdiff_t &stride)
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return sinkFailed || !parts[writing].full; });
    if (sinkFailed || count > kSlotRows)
        return nullptr;
    stride = width;
    return parts[writing].pixels.data();
}

void ParallelConversion::RowsDone(std::int32_t y, std::int32_t count)
{
    {
        const std::lock_guard lock(mutex);
        Slot &slot = parts[writing];
        slot.y = y;
        slot.count = count;
        slot.full = true;
        writing = (writing + 1) % parts.size();
    }
    changed.notify_all();
}

void ParallelConversion::Convert()
{
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return stop || parts[converting].full; });
        if (stop)
            return;
        Slot &slot = parts[converting];
        // Past a row the sink had no memory for, later rows would leave a gap: they are dropped.
        const bool deliver = !sinkFailed;
        lock.unlock();
        bool taken = true;
        if (deliver) {
            for (std::int32_t i = 0; i < slot.count; ++i)
                convert(slot.pixels.data() + static_cast<std::ptrdiff_t>(i) * width, width);
            taken = sink.TakeRows(slot.y, slot.count, width, slot.pixels.data(), width);
        }
        lock.lock();
        slot.full = false;
        sinkFailed = sinkFailed || !taken;
        converting = (converting + 1) % parts.size();
        changed.notify_all();
    }
}

bool ParallelConversion::Finish()
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] {
        if (sinkFailed || !worker.joinable())
            return true;
        for (const Slot &slot : parts) {
            if (slot.full)
                return false;
        }
        return true;
    });
    return !sinkFailed;
}

} // namespace imaging
