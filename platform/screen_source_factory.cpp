#include "platform/screen_source_factory.h"

#include "platform/portal_screen_source.h"
#include "platform/x11_screen_source.h"

#include <QGuiApplication>

namespace platform {

std::unique_ptr<ScreenSource> CreateScreenSource()
{
    // On Wayland a program cannot read the screen itself; only the desktop portal may.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))
        || !X11ScreenSource::Available())
        return std::make_unique<PortalScreenSource>();
    return std::make_unique<X11ScreenSource>();
}

} // namespace platform
