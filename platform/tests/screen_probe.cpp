// Test helper run on a test's own X display: reads the screen through the X11 source and prints
// "WIDTH HEIGHT RATIO", then "#RRGGBB" for each "x y" pair given (device pixels). With
// --clipboard it prints the clipboard's text instead. Exit code 2: the screen could not be read.
#include "platform/x11_screen_source.h"

#include <QClipboard>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--clipboard")) {
        std::printf("%s\n", QGuiApplication::clipboard()->text().toUtf8().constData());
        return 0;
    }
    QImage screen;
    platform::X11ScreenSource().GrabScreen([&screen](QImage grabbed) { screen = grabbed; });
    if (screen.isNull())
        return 2;
    std::printf("%d %d %g\n", screen.width(), screen.height(), screen.devicePixelRatio());
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        const QRgb p = screen.pixel(args[i].toInt(), args[i + 1].toInt());
        std::printf("#%02X%02X%02X\n", qRed(p), qGreen(p), qBlue(p));
    }
    return 0;
}
