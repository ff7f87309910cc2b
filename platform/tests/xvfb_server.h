#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <optional>

namespace platform::testing {

// An Xvfb server of the tests' own on a free display, 1280 x 1024 x 24 unless told another size,
// stopped with the object. -noreset keeps the root window's contents when a client such as
// xsetroot leaves.
class XvfbServer
{
public:
    explicit XvfbServer(QSize size = QSize(1280, 1024));
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    [[nodiscard]] bool IsRunning() const { return display >= 0; }
    [[nodiscard]] QString Display() const { return QStringLiteral(":%1").arg(display); }

    // An environment for programs on this display: DISPLAY set, the xcb platform, a private
    // runtime dir, and no session bus or accessibility bus of the caller's.
    [[nodiscard]] QProcessEnvironment Environment() const;

    // Runs a short command on this display; its standard output, or nothing when it fails.
    [[nodiscard]] std::optional<QString> Run(const QString &program, const QStringList &arguments,
        std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

private:
    [[nodiscard]] bool TryDisplay(int number);

    QSize size;
    QProcess server;
    QTemporaryDir runtimeDir;
    int display = -1;
};

// Calls `condition` until it is true or `timeout` has passed, processing events in between.
bool WaitFor(const std::function<bool()> &condition,
    std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace platform::testing
