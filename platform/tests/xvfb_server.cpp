#include "platform/tests/xvfb_server.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <unistd.h>

namespace platform::testing {

bool WaitFor(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

XvfbServer::XvfbServer(QSize size)
    : size(size)
{
    // Start somewhere that depends on the process id, so parallel test runs rarely collide;
    // a collision only costs a retry.
    const int first = 40 + static_cast<int>(getpid() % 400);
    for (int i = 0; i < 60; ++i)
        if (TryDisplay(first + i))
            break;
}

bool XvfbServer::TryDisplay(int number)
{
    const QString lock = QStringLiteral("/tmp/.X%1-lock").arg(number);
    if (QFile::exists(lock) || QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
        return false;
    server.setProgram(QStringLiteral("Xvfb"));
    server.setArguments({ QStringLiteral(":%1").arg(number), QStringLiteral("-screen"),
        QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(size.width()).arg(size.height()),
        QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-noreset") });
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start();
    if (!server.waitForStarted(5000))
        return false;
    const qint64 pid = server.processId();

    // Ready when the lock holds our server's pid (not a rival's) and a client can connect.
    display = number;
    const bool ready = WaitFor([&] {
        if (server.state() != QProcess::Running)
            return true;
        QFile file(lock);
        if (!file.open(QIODevice::ReadOnly) || file.readAll().trimmed().toLongLong() != pid)
            return false;
        return Run(QStringLiteral("xdpyinfo"), {}, std::chrono::seconds(5)).has_value();
    });
    if (ready && server.state() == QProcess::Running)
        return true;
    display = -1;
    server.kill();
    server.waitForFinished(5000);
    return false;
}

XvfbServer::~XvfbServer()
{
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished(5000);
        }
    }
}

QProcessEnvironment XvfbServer::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), Display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
    for (const char *name : { "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS",
             "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS", "XAUTHORITY" })
        env.remove(QString::fromLatin1(name));
    return env;
}

std::optional<QString> XvfbServer::Run(
    const QString &program, const QStringList &arguments, std::chrono::milliseconds timeout) const
{
    QProcess process;
    process.setProcessEnvironment(Environment());
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(static_cast<int>(timeout.count()))) {
        process.kill();
        process.waitForFinished(5000);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace platform::testing
