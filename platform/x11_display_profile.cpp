#include "platform/x11_display_profile.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace platform {
namespace {

    struct FreeReply
    {
        void operator()(void *reply) const { std::free(reply); }
    };

    // A profile beyond this is no display profile; it is not read.
    constexpr std::uint32_t kMaxProfileBytes = 16u << 20;

} // namespace

QByteArray X11DisplayProfile(int index)
{
    const auto *x11
        = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return {};
    const QByteArray name = index == 0
        ? QByteArrayLiteral("_ICC_PROFILE")
        : QByteArrayLiteral("_ICC_PROFILE_") + QByteArray::number(index);
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> atom(xcb_intern_atom_reply(connection,
        xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(name.size()), name.constData()),
        nullptr));
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return {};
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return {};
    // The length is in 32-bit units.
    const std::unique_ptr<xcb_get_property_reply_t, FreeReply> property(
        xcb_get_property_reply(connection,
            xcb_get_property(connection, 0, screen->root, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0,
                kMaxProfileBytes / 4),
            nullptr));
    if (!property || property->format != 8 || property->bytes_after != 0)
        return {};
    const int length = xcb_get_property_value_length(property.get());
    return QByteArray(static_cast<const char *>(xcb_get_property_value(property.get())), length);
}

} // namespace platform
