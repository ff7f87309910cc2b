#include "platform/tests/portal_test_support.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

namespace platform::testing {

PrivateBus::PrivateBus()
{
    const QString config = dir.filePath(QStringLiteral("bus.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QStringLiteral(R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)")
                   .arg(dir.path())
                   .toUtf8());
    file.close();
    daemon.start(QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")),
        { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
            QStringLiteral("--print-address") });
    if (!daemon.waitForStarted(10000))
        return;
    if (!QTest::qWaitFor([this] { return daemon.canReadLine(); }, 10000))
        return;
    address = QString::fromUtf8(daemon.readLine()).trimmed();
    connectionName = QStringLiteral("portal-test-%1").arg(daemon.processId());
    bus = QDBusConnection::connectToBus(address, connectionName);
}

PrivateBus::~PrivateBus()
{
    bus = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(connectionName);
    daemon.kill();
    daemon.waitForFinished(10000);
}

StandIn::StandIn(const PrivateBus &bus, const QString &mode, const QString &file)
{
    process.start(QStringLiteral(QUILLMERE_PORTAL_STAND_IN), { bus.address, mode, file });
    ready = QTest::qWaitFor(
        [this] { return ReadLines(), lines.contains(QStringLiteral("ready")); }, 10000);
    // Owned from the test's own connection's point of view too, not only announced.
    ready = ready
        && QTest::qWaitFor(
            [&bus] {
                return bus.bus.interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.portal.Desktop"));
            },
            10000);
}

StandIn::~StandIn()
{
    process.kill();
    process.waitForFinished(10000);
}

QStringList StandIn::Lines()
{
    ReadLines();
    return lines;
}

void StandIn::ReadLines()
{
    while (process.canReadLine())
        lines << QString::fromUtf8(process.readLine()).trimmed();
}

QImage TestPicture(QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.setPixel(x, y, qRgb(x * 7 % 256, y * 13 % 256, (x + y) % 256));
    return picture;
}

} // namespace platform::testing
