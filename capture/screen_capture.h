#pragma once

#include "capture/form2.h"
#include "platform/screen_source_factory.h"

#include <functional>
#include <memory>

namespace platform {
class PicBox;
}

namespace capture {

// The screen capture command of the main window. The overlay is made on the first capture and
// then only hidden and shown again; it lives as long as this command.
class ScreenCapture
{
public:
    using CreateSource = std::function<std::unique_ptr<platform::ScreenSource>()>;

    ScreenCapture(platform::PicBox &pane, std::function<void()> calcColor,
        CreateSource createSource = &platform::CreateScreenSource,
        Form2::ShowMessage showMessage = {});
    ~ScreenCapture();

    ScreenCapture(const ScreenCapture &) = delete;
    ScreenCapture &operator=(const ScreenCapture &) = delete;

    // Creates the overlay if there is none yet, then arms its delay timer; nothing else.
    void Run();

    // The overlay, or null before the first capture.
    [[nodiscard]] Form2 *Overlay() const { return overlay.get(); }

private:
    platform::PicBox &pane;
    std::function<void()> calcColor;
    CreateSource createSource;
    Form2::ShowMessage showMessage;
    std::unique_ptr<Form2> overlay;
};

} // namespace capture
