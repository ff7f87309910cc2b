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

namespace {

    QImage GrabOne(QScreen *screen)
    {
        QImage image = screen->grabWindow(0).toImage();
        if (!image.isNull()) {
            if (image.format() != QImage::Format_RGB32)
                image = image.convertToFormat(QImage::Format_RGB32);
            // The grab is in device pixels; say how many make one logical pixel, so that band
            // positions (logical) find the pixels under them.
            image.setDevicePixelRatio(screen->devicePixelRatio());
        }
        return image;
    }

} // namespace

void X11ScreenSource::GrabScreens(GrabScreensDone done)
{
    ScreenGrab grab;
    if (Available()) {
        for (QScreen *screen : QGuiApplication::screens()) {
            QImage image = GrabOne(screen);
            if (image.isNull()) {
                // A desktop with one screen unread would show a made-up part: nothing at all.
                grab.screens.clear();
                break;
            }
            grab.screens.push_back({ screen->geometry(), std::move(image) });
        }
    }
    if (grab.screens.empty())
        grab.failure = ScreenGrabFailure::NoPicture;
    done(std::move(grab));
}

} // namespace platform
