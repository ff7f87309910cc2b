#include "capture/screen_capture.h"

namespace capture {

ScreenCapture::ScreenCapture(
    QWidget *mainWindow, CreateSource createSource, Form2::ShowMessage showMessage)
    : mainWindow(mainWindow)
    , createSource(std::move(createSource))
    , showMessage(std::move(showMessage))
{
}

ScreenCapture::~ScreenCapture() = default;

void ScreenCapture::Run()
{
    if (!overlay) {
        overlay = std::make_unique<Form2>(mainWindow, createSource(), showMessage);
        connect(overlay.get(), &Form2::BlockCaptured, this, &ScreenCapture::BlockCaptured);
    }
    overlay->ArmTimer();
}

} // namespace capture
