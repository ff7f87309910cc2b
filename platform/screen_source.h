#pragma once

#include <QImage>

#include <functional>
#include <memory>

namespace platform {

// Reads the whole primary screen at its full pixel size, from its top-left corner.
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
};

// The source that fits the running session: the desktop portal on Wayland, the screen grab on X11.
std::unique_ptr<ScreenSource> CreateScreenSource();

} // namespace platform
