#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

// One screen of the desktop as read: where it lies in logical desktop pixels, and its pixels at
// its own full size, devicePixelRatio() set to image pixels per logical pixel.
struct ScreenPicture
{
    QRect geometry;
    QImage image;
};

// Why the screens could not be read. None means they could.
enum class ScreenGrabFailure : std::uint8_t {
    None,
    NoPicture, // the window system gave no picture of a screen
    NoPortal, // no desktop portal answers on the session bus
    Refused, // the portal (or the user through it) declined the screenshot
    TimedOut, // the portal did not answer in time
    BadAnswer, // the portal's answer or its picture file could not be used
};

// What a grab gives: every screen, or no screens and the reason.
struct ScreenGrab
{
    std::vector<ScreenPicture> screens;
    ScreenGrabFailure failure = ScreenGrabFailure::None;
};

// Reads every screen of the desktop at its full pixel size.
class ScreenSource
{
public:
    using GrabScreensDone = std::function<void(ScreenGrab grab)>;

    virtual ~ScreenSource() = default;

    // Every screen, or none with the reason when any of them could not be read. `done` runs
    // exactly once: before the call returns where the grab is synchronous (X11), or later from
    // the event loop (the desktop portal). Sources that can read only one picture give the
    // primary screen alone.
    virtual void GrabScreens(GrabScreensDone done) = 0;
};

} // namespace platform
