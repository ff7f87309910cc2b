#include "app/tests/x11_program.h"

namespace app::testing {

using platform::testing::WaitFor;
using platform::testing::XvfbServer;

QStringList Lines(const std::optional<QString> &output)
{
    return output ? output->split('\n', Qt::SkipEmptyParts) : QStringList {};
}

QStringList WindowsOf(const XvfbServer &server, qint64 pid)
{
    return Lines(server.Run(
        "xdotool", { "search", "--onlyvisible", "--pid", QString::number(pid), "--name", "." }));
}

std::map<QString, int> Geometry(const XvfbServer &server, const QString &window)
{
    std::map<QString, int> geometry;
    for (const QString &line :
        Lines(server.Run("xdotool", { "getwindowgeometry", "--shell", window }))) {
        const QStringList pair = line.split('=');
        if (pair.size() == 2)
            geometry[pair[0]] = pair[1].toInt();
    }
    return geometry;
}

QStringList ScreenColours(const XvfbServer &server, const std::vector<QPoint> &points)
{
    QStringList arguments;
    for (const QPoint &p : points)
        arguments << QString::number(p.x()) << QString::number(p.y());
    QStringList lines = Lines(server.Run(QStringLiteral(QUILLMERE_SCREEN_PROBE), arguments));
    if (!lines.isEmpty())
        lines.removeFirst(); // the screen's size
    return lines;
}

std::optional<MainWindowPoints> WaitForMainWindow(const XvfbServer &server, const QProcess &program)
{
    QString window;
    if (!WaitFor([&] {
            const QStringList windows = WindowsOf(server, program.processId());
            window = windows.value(0);
            return windows.size() == 1;
        }))
        return std::nullopt;
    auto geometry = Geometry(server, window);
    const QPoint origin(geometry["X"], geometry["Y"]);
    // Centres of FileOpen (5385, 120, 1455 x 375 twips) and LblClr (5385, 1080, same size).
    return MainWindowPoints { window, origin + QPoint(359 + 48, 8 + 12),
        origin + QPoint(359 + 48, 72 + 12), origin + QPoint(4, 4) };
}

} // namespace app::testing
