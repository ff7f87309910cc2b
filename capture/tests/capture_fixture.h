#pragma once

#include "analysis/calc_color.h"
#include "capture/screen_capture.h"
#include "imaging/colour_text.h"
#include "platform/pic_box.h"
#include "platform/screen_source.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace capture::testing {

// The "live screen" of a fake source: tests change it after a freeze to tell the frozen copy
// from what the screen shows later.
struct FakeScreen
{
    QImage image;
    int grabs = 0;
    // A desktop of several screens; when set, a grab of every screen gives these instead.
    std::vector<platform::ScreenPicture> desktop;
};

class FakeScreenSource : public platform::ScreenSource
{
public:
    explicit FakeScreenSource(std::shared_ptr<FakeScreen> screen)
        : screen(std::move(screen))
    {
    }
    void GrabScreens(GrabScreensDone done) override
    {
        ++screen->grabs;
        if (!screen->desktop.empty()) {
            done({ screen->desktop });
            return;
        }
        // One picture: the primary screen's, as a source that reads one picture gives it.
        platform::ScreenGrab grab;
        const QScreen *primary = QGuiApplication::primaryScreen();
        if (!screen->image.isNull() && primary)
            grab.screens.push_back({ primary->geometry(), screen->image });
        else
            grab.failure = platform::ScreenGrabFailure::NoPicture;
        done(std::move(grab));
    }

private:
    std::shared_ptr<FakeScreen> screen;
};

// A screen whose every pixel differs: red counts columns, green rows, blue their high bits.
QImage NumberedScreen(int width, int height, qreal ratio = 1.0);

// Pixels of the shown overlay differing from `expected`, outside the readout panel that floats
// above the frozen copy: count, first one.
std::string OverlayMismatches(QWidget &overlay, const QImage &expected);

// The main window's side of a capture: the pane it fills from the handed-over block, the analysis
// and its outputs as the window writes them, and what the window looked like when the analysis
// started.
class CaptureFixture
{
public:
    // `mainWindow` is the window the capture command belongs to, if the test has one.
    explicit CaptureFixture(QWidget *mainWindow = nullptr);

    void ScanStarted() { }
    void ScanProgress(std::int32_t, std::int32_t) { }
    void ScanFinished(const analysis::ColourSummary &summary)
    {
        infoText = imaging::InfoText(summary);
        hexText = imaging::HexText(summary);
        swatch = summary.swatch;
    }

    // The capture command followed by the wait for its delayed freeze to show the overlay.
    [[nodiscard]] bool CaptureAndWaitForOverlay();

    // A press, one move and a release of the same button on the overlay, in logical pixels.
    void Drag(QPoint from, QPoint to, Qt::MouseButton button = Qt::LeftButton);

    // Pane pixels differing from the screen block at `origin` (device pixels): count, first one.
    [[nodiscard]] std::string PaneMismatches(const QImage &screen, QPoint origin) const;

    std::shared_ptr<FakeScreen> screen = std::make_shared<FakeScreen>();
    platform::PicBox pane;
    analysis::ColourScanner scanner;
    std::vector<QString> messages;
    std::vector<QString> messageDetails;
    int sourcesCreated = 0;
    ScreenCapture capture;

    std::string infoText;
    std::string hexText = "#000000";
    analysis::ColourValue swatch = 0xFFFFFF;
    int analyses = 0;
    bool overlayShownAtAnalysis = false;
    bool paneShownAtAnalysis = false;
    bool bandShownAtAnalysis = false;
};

} // namespace capture::testing
