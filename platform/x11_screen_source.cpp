#include "platform/x11_screen_source.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

namespace platform {

bool X11ScreenSource::Available()
{
    return QGuiApplication::platformName() == QLatin1String("xcb")
        && QGuiApplication::primaryScreen() != nullptr;
}

void X11ScreenSource::GrabScreen(GrabDone done)
{
    QImage screen;
    if (Available()) {
        QScreen *primary = QGuiApplication::primaryScreen();
        screen = primary->grabWindow(0).toImage();
        if (!screen.isNull()) {
            if (screen.format() != QImage::Format_RGB32)
                screen = screen.convertToFormat(QImage::Format_RGB32);
            // The grab is in device pixels; say how many make one logical pixel, so that band
            // positions (logical) find the pixels under them.
            screen.setDevicePixelRatio(primary->devicePixelRatio());
        }
    }
    done(std::move(screen));
}

} // namespace platform
