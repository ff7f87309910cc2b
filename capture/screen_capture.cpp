#include "capture/screen_capture.h"

#include "platform/pic_box.h"

namespace capture {

ScreenCapture::ScreenCapture(platform::PicBox &pane, std::function<void()> calcColor,
    CreateSource createSource, Form2::ShowMessage showMessage)
    : pane(pane)
    , calcColor(std::move(calcColor))
    , createSource(std::move(createSource))
    , showMessage(std::move(showMessage))
{
}

ScreenCapture::~ScreenCapture() = default;

void ScreenCapture::Run()
{
    if (!overlay)
        overlay = std::make_unique<Form2>(pane, calcColor, createSource(), showMessage);
    overlay->ArmTimer();
}

} // namespace capture
