// Test helper run on a test's own X display: reads every screen through the X11 source and prints
// "WIDTH HEIGHT RATIO" of the primary one, then "#RRGGBB" for each "x y" pair given (device
// pixels of the desktop, read from the screen they fall on; "#------" where none is). With
// --count #RRGGBB it prints how many pixels of the desktop have that colour; with --clipboard the
// clipboard's text; with --set-profile NAME FILE it puts FILE's bytes on the root window as the
// property NAME, as colour managers put a display profile there (no FILE: removes it; xprop can set
// no more than 64 bytes). Exit code 2: the screen could not be read.
#include "platform/x11_screen_source.h"

#include <QClipboard>
#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool SetRootProperty(const QByteArray &name, const QString &file)
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.constData()),
        nullptr);
    if (!atom)
        return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    if (file.isEmpty()) {
        xcb_delete_property(connection, root, atom->atom);
    } else {
        QFile bytes(file);
        if (!bytes.open(QIODevice::ReadOnly))
            return false;
        const QByteArray profile = bytes.readAll();
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, atom->atom, XCB_ATOM_CARDINAL,
            8, static_cast<std::uint32_t>(profile.size()), profile.constData());
    }
    std::free(atom);
    // Round trip, so the property is there before this program ends.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--set-profile"))
        return SetRootProperty(args.value(1).toLatin1(), args.value(2)) ? 0 : 1;
    if (args.value(0) == QLatin1String("--clipboard")) {
        std::printf("%s\n", QGuiApplication::clipboard()->text().toUtf8().constData());
        return 0;
    }
    std::vector<platform::ScreenPicture> screens;
    platform::X11ScreenSource().GrabScreens(
        [&screens](platform::ScreenGrab grabbed) { screens = std::move(grabbed.screens); });
    if (screens.empty())
        return 2;
    // Device pixels of a screen start where its logical geometry does, scaled by its ratio.
    const auto deviceArea = [](const platform::ScreenPicture &s) {
        const qreal ratio = s.image.devicePixelRatio();
        return QRect((QPointF(s.geometry.topLeft()) * ratio).toPoint(), s.image.size());
    };
    if (args.value(0) == QLatin1String("--count")) {
        const QRgb wanted = QColor(args.value(1)).rgb() & 0xFFFFFFu;
        long long count = 0;
        for (const platform::ScreenPicture &s : screens)
            for (int y = 0; y < s.image.height(); ++y) {
                const auto *row = reinterpret_cast<const QRgb *>(s.image.constScanLine(y));
                for (int x = 0; x < s.image.width(); ++x)
                    count += (row[x] & 0xFFFFFFu) == wanted;
            }
        std::printf("%lld\n", count);
        return 0;
    }
    const QImage &primary = screens.front().image;
    std::printf("%d %d %g\n", primary.width(), primary.height(), primary.devicePixelRatio());
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        const QPoint at(args[i].toInt(), args[i + 1].toInt());
        bool found = false;
        for (const platform::ScreenPicture &s : screens) {
            const QRect area = deviceArea(s);
            if (!area.contains(at))
                continue;
            const QRgb p = s.image.pixel(at - area.topLeft());
            std::printf("#%02X%02X%02X\n", qRed(p), qGreen(p), qBlue(p));
            found = true;
            break;
        }
        if (!found)
            std::printf("#------\n");
    }
    return 0;
}
