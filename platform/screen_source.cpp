#include "platform/screen_source.h"

#include "platform/portal_screen_source.h"
#include "platform/x11_screen_source.h"

#include <QGuiApplication>
#include <QScreen>

namespace platform {

void ScreenSource::GrabScreens(GrabScreensDone done)
{
    GrabScreen([done = std::move(done)](QImage screen) {
        std::vector<ScreenPicture> screens;
        const QScreen *primary = QGuiApplication::primaryScreen();
        if (!screen.isNull() && primary)
            screens.push_back({ primary->geometry(), std::move(screen) });
        done(std::move(screens));
    });
}

std::unique_ptr<ScreenSource> CreateScreenSource()
{
    // On Wayland a program cannot read the screen itself; only the desktop portal may.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
        || !X11ScreenSource::Available())
        return std::make_unique<PortalScreenSource>();
    return std::make_unique<X11ScreenSource>();
}

} // namespace platform
