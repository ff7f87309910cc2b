#include "app/main_colours_finder.h"

#include <algorithm>
#include <exception>
#include <system_error>

namespace app {
namespace {

    // Rows of a block counted into a histogram of its own, until a stop.
    void CountRows(const QImage &raster, const QRect &block, int top, int bottom,
        const std::atomic<bool> &stop, analysis::ColourHistogram &histogram)
    {
        for (int y = top; y < bottom && !stop.load(std::memory_order_relaxed); ++y) {
            const auto *row = reinterpret_cast<const std::uint32_t *>(raster.constScanLine(y));
            histogram.AddPixels(row + block.x(), block.width());
        }
    }

} // namespace

MainColoursFinder::MainColoursFinder(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("MainColoursFinder"));
}

MainColoursFinder::~MainColoursFinder()
{
    Stop();
    for (auto &[run, worker] : workers)
        worker.join();
}

void MainColoursFinder::Count(Run &run)
{
    // The picture's rows split between two threads: the machines this runs on have two cores,
    // and the window's own thread is idle once the mean is shown.
    const QRect block = run.block.intersected(run.raster.rect());
    if (block.isEmpty())
        return;
    const int middle = block.top() + block.height() / 2;
    analysis::ColourHistogram lower;
    std::thread helper;
    try {
        helper = std::thread(
            [&] { CountRows(run.raster, block, middle, block.bottom() + 1, run.stop, lower); });
    } catch (const std::system_error &) {
        CountRows(run.raster, block, middle, block.bottom() + 1, run.stop, lower);
    }
    analysis::ColourHistogram histogram;
    CountRows(run.raster, block, block.top(), middle, run.stop, histogram);
    if (helper.joinable())
        helper.join();
    if (run.stop)
        return;
    histogram.Merge(lower);
    run.colours = analysis::DominantColours(histogram, kColours, &run.stop);
}

void MainColoursFinder::Start(const QImage &raster, const QRect &block)
{
    Stop();
    auto run = std::make_shared<Run>();
    run->raster = raster;
    run->block = block;
    newest = run;
    // Behind the events already waiting, the paint of the mean among them: two counting threads
    // on a machine of two cores would slow it down.
    QMetaObject::invokeMethod(
        this, [this, run] { Launch(run); }, Qt::QueuedConnection);
}

void MainColoursFinder::Launch(const std::shared_ptr<Run> &run)
{
    if (run != newest)
        return; // stopped or overtaken before it began
    const auto work = [run] {
        // Nothing may escape a worker thread: a run that fails finds no colours.
        try {
            Count(*run);
        } catch (const std::exception &) {
            run->colours.clear();
        }
    };
    try {
        workers.emplace(run.get(), std::thread([this, run, work] {
            work();
            QMetaObject::invokeMethod(
                this, [this, run] { Finish(run); }, Qt::QueuedConnection);
        }));
    } catch (const std::system_error &) {
        work(); // no thread to be had: the colours are found here, after the mean
        Finish(run);
    }
}

void MainColoursFinder::Stop()
{
    if (newest)
        newest->stop = true;
    newest.reset();
}

void MainColoursFinder::Finish(const std::shared_ptr<Run> &run)
{
    // The worker's last act was to post this, so the join is immediate.
    const auto worker = workers.find(run.get());
    if (worker != workers.end()) {
        worker->second.join();
        workers.erase(worker);
    }
    if (run != newest)
        return;
    newest.reset();
    emit Found(run->colours);
}

} // namespace app
