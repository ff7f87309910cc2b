#include "platform/x11_screen_source.h"

#include "imaging/colour_converter.h"
#include "platform/x11_display_profile.h"

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

    // The screen's pixels are in its display's colours; the rest of the program works in sRGB.
    void ConvertFromDisplayProfile(QImage &image, const QByteArray &profile)
    {
        if (profile.isEmpty())
            return;
        imaging::ColourDescription description;
        description.kind = imaging::ColourDescription::Kind::Icc;
        description.icc.assign(profile.begin(), profile.end());
        imaging::ColourConverter converter = imaging::ColourConverter::For(description);
        if (converter.IsIdentity())
            return;
        for (int y = 0; y < image.height(); ++y)
            converter.ConvertRow(
                reinterpret_cast<std::uint32_t *>(image.scanLine(y)), image.width());
    }

    QImage GrabOne(QScreen *screen, int index)
    {
        QImage image = screen->grabWindow(0).toImage();
        if (!image.isNull()) {
            if (image.format() != QImage::Format_RGB32)
                image = image.convertToFormat(QImage::Format_RGB32);
            ConvertFromDisplayProfile(image, X11DisplayProfile(index));
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
        // Colour managers number the profiles in the desktop's screen order.
        const QList<QScreen *> screens = QGuiApplication::screens();
        for (int index = 0; index < screens.size(); ++index) {
            QScreen *screen = screens[index];
            QImage image = GrabOne(screen, index);
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
