#pragma once

#include "platform/tests/xvfb_server.h"

#include <QPoint>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>
#include <vector>

// Reading the built program's window on a test's own X server.
namespace app::testing {

[[nodiscard]] QStringList Lines(const std::optional<QString> &output);

// Visible top-level windows of a process.
[[nodiscard]] QStringList WindowsOf(const platform::testing::XvfbServer &server, qint64 pid);

// xdotool's geometry of a window: X, Y, WIDTH, HEIGHT.
[[nodiscard]] std::map<QString, int> Geometry(
    const platform::testing::XvfbServer &server, const QString &window);

// "#RRGGBB" of each screen point, read from a grab of the whole screen.
[[nodiscard]] QStringList ScreenColours(
    const platform::testing::XvfbServer &server, const std::vector<QPoint> &points);

// Where the main window's swatch and pane show on screen at 96 dpi (15 twips a pixel).
struct MainWindowPoints
{
    QString window;
    QPoint fileOpen;
    QPoint swatch;
    QPoint paneCorner;
};

// Waits for the process's one main window and returns its points; nothing when it never shows.
[[nodiscard]] std::optional<MainWindowPoints> WaitForMainWindow(
    const platform::testing::XvfbServer &server, const QProcess &program);

// Kills the program when the test leaves, also through a failed assertion.
struct KillAtExit
{
    QProcess &program;
    ~KillAtExit()
    {
        program.kill();
        program.waitForFinished(10000);
    }
};

} // namespace app::testing
