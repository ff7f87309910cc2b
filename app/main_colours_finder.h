#pragma once

#include "analysis/dominant_colours.h"

#include <QImage>
#include <QObject>
#include <QRect>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace app {

// Finds the main colours of a block of the pane's raster on worker threads, after the mean is
// shown, so that they never hold it up. A newer run, or Stop, ends the one going on; only the
// newest run's colours are ever reported.
class MainColoursFinder : public QObject
{
    Q_OBJECT

public:
    static constexpr int kColours = 5;

    explicit MainColoursFinder(QObject *parent = nullptr);
    // Stops every run and waits for its workers: none may outlive the finder.
    ~MainColoursFinder() override;

    // Starts on `block` of `raster` (Format_RGB32, shared, so later changes of the pane leave this
    // run's pixels alone); a run still going is stopped and dropped. The counting begins once the
    // event loop has handled what was already waiting, such as the paint of the mean.
    void Start(const QImage &raster, const QRect &block);
    void Stop();
    [[nodiscard]] bool IsRunning() const { return newest != nullptr; }
    // Workers not ended yet, also those of stopped runs.
    [[nodiscard]] std::size_t WorkersRunning() const { return workers.size(); }

signals:
    // Up to kColours colours, largest share first.
    void Found(const std::vector<analysis::DominantColour> &colours);

private:
    struct Run
    {
        QImage raster;
        QRect block;
        std::atomic<bool> stop { false };
        std::vector<analysis::DominantColour> colours;
    };

    static void Count(Run &run);
    void Launch(const std::shared_ptr<Run> &run);
    void Finish(const std::shared_ptr<Run> &run);

    std::shared_ptr<Run> newest;
    std::map<const Run *, std::thread> workers;
};

} // namespace app
