#pragma once

#include "capture/form2.h"
#include "platform/screen_source_factory.h"

#include <QImage>
#include <QObject>
#include <QRect>

#include <functional>
#include <memory>

class QWidget;

namespace capture {

// The screen capture command of the main window. The overlay is made on the first capture and
// then only hidden and shown again; it lives as long as this command.
class ScreenCapture : public QObject
{
    Q_OBJECT

public:
    using CreateSource = std::function<std::unique_ptr<platform::ScreenSource>()>;

    // `mainWindow` (may be null) is the window the command belongs to; see Form2.
    explicit ScreenCapture(QWidget *mainWindow,
        CreateSource createSource = &platform::CreateScreenSource,
        Form2::ShowMessage showMessage = {});
    ~ScreenCapture() override;

    ScreenCapture(const ScreenCapture &) = delete;
    ScreenCapture &operator=(const ScreenCapture &) = delete;

    // Creates the overlay if there is none yet, then arms its delay timer; nothing else.
    void Run();

    // The overlay, or null before the first capture.
    [[nodiscard]] Form2 *Overlay() const { return overlay.get(); }

signals:
    // Form2::BlockCaptured of whichever overlay the command made.
    void BlockCaptured(const QImage &pixels, const QRect &block);

private:
    QWidget *mainWindow = nullptr;
    CreateSource createSource;
    Form2::ShowMessage showMessage;
    std::unique_ptr<Form2> overlay;
};

} // namespace capture
