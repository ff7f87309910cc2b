#pragma once

#include <QImage>
#include <QRect>

#include <functional>
#include <memory>
#include <vector>

namespace platform {

// One screen of the desktop as read: where it lies in logical desktop pixels, and its pixels at
// its own full size, devicePixelRatio() set to image pixels per logical pixel.
struct ScreenPicture
{
    QRect geometry;
    QImage image;
};

// Reads the whole primary screen at its full pixel size, from its top-left corner, or every
// screen of the desktop.
class ScreenSource
{
public:
    // The grabbed screen; a null image when the screen could not be read. The image's
    // devicePixelRatio() is how many of its pixels make one logical pixel of the screen.
    using GrabDone = std::function<void(QImage screen)>;

    virtual ~ScreenSource() = default;

    // Starts a grab. `done` runs exactly once: before the call returns where the grab is
    // synchronous (X11), or later from the event loop (the desktop portal).
    virtual void GrabScreen(GrabDone done) = 0;

    // Every screen, or nothing when any of them could not be read; `done` runs exactly once, as
    // for GrabScreen. Sources that can read only one picture give the primary screen alone.
    using GrabScreensDone = std::function<void(std::vector<ScreenPicture> screens)>;
    virtual void GrabScreens(GrabScreensDone done);
};

// The source that fits the running session: the desktop portal on Wayland, the screen grab on X11.
std::unique_ptr<ScreenSource> CreateScreenSource();

} // namespace platform
