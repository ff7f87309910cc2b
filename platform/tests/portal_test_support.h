#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace platform::testing {

// A session bus of our own, with no service directories: nothing on it starts by activation,
// so "no portal" really is none. `address` stays empty when the daemon could not start.
class PrivateBus
{
public:
    PrivateBus();
    ~PrivateBus();

    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    QString connectionName;
    QDBusConnection bus { QString() };
};

// The stand-in portal (tests/portal_stand_in.cpp) in one of its modes; its report lines are what
// the portal was asked. `ready` once it owns the portal's name.
class StandIn
{
public:
    StandIn(const PrivateBus &bus, const QString &mode, const QString &file);
    ~StandIn();

    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;

    QStringList Lines();

    QProcess process;
    bool ready = false;

private:
    void ReadLines();

    QStringList lines;
};

// A picture with no two neighbouring pixels alike, so any shift, flip or scaling shows.
QImage TestPicture(QSize size);

} // namespace platform::testing
