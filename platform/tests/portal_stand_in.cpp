// A stand-in for the desktop portal on a private bus, for the portal screen-grab tests: it owns
// org.freedesktop.portal.Desktop and answers Screenshot the way its mode says. Every call it
// receives is written to stdout, one line each, so a test can check what was asked.
//
//   portal_stand_in ADDRESS MODE [FILE]
//
// With mode "access" it is instead the Access backend that xdg-desktop-portal needs to find
// before it offers Screenshot at all; then FILE is the bus name to own.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QTimer>
#include <QUrl>

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>

namespace {

const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

void Report(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

class StandIn : public QDBusVirtualObject
{
public:
    StandIn(QString mode, QString file, QDBusConnection spoofer)
        : mode(std::move(mode))
        , file(std::move(file))
        , spoofer(std::move(spoofer))
    {
    }

    QString introspect(const QString &) const override
    {
        if (mode == QLatin1String("access"))
            return QStringLiteral(R"(<interface name="org.freedesktop.impl.portal.Access">
  <method name="AccessDialog">
    <arg type="o" name="handle" direction="in"/><arg type="s" name="app_id" direction="in"/>
    <arg type="s" name="parent_window" direction="in"/><arg type="s" name="title" direction="in"/>
    <arg type="s" name="subtitle" direction="in"/><arg type="s" name="body" direction="in"/>
    <arg type="a{sv}" name="options" direction="in"/>
    <arg type="u" name="response" direction="out"/>
    <arg type="a{sv}" name="results" direction="out"/>
  </method>
</interface>)");
        return QStringLiteral(R"(<interface name="org.freedesktop.portal.Screenshot">
  <method name="Screenshot">
    <arg type="s" name="parent_window" direction="in"/>
    <arg type="a{sv}" name="options" direction="in"/>
    <arg type="o" name="handle" direction="out"/>
  </method>
</interface>)");
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.type() != QDBusMessage::MethodCallMessage)
            return false;
        const QString member = message.member();
        if (member == QLatin1String("AccessDialog")) {
            Report(QStringLiteral("access"));
            connection.send(message.createReply({ 2u, QVariantMap() }));
            return true;
        }
        if (member == QLatin1String("Close")) {
            Report(QStringLiteral("close ") + message.path());
            connection.send(message.createReply());
            return true;
        }
        if (member != QLatin1String("Screenshot") || message.signature() != QLatin1String("sa{sv}"))
            return false;

        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().at(1));
        const QString token = options.value(QStringLiteral("handle_token")).toString();
        Report(QStringLiteral("screenshot token=%1 interactive=%2 modal=%3")
                   .arg(token, options.value(QStringLiteral("interactive")).toString(),
                       options.value(QStringLiteral("modal")).toString()));

        if (mode == QLatin1String("fail")) {
            connection.send(message.createErrorReply(
                QStringLiteral("org.freedesktop.portal.Error.Failed"), QStringLiteral("no")));
            return true;
        }
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender
            + QLatin1Char('/') + token;
        if (mode == QLatin1String("elsewhere"))
            path = QStringLiteral("/org/freedesktop/portal/desktop/request/old/1");

        const QDBusMessage reply = message.createReply(QVariant::fromValue(QDBusObjectPath(path)));
        QDBusMessage response = QDBusMessage::createTargetedSignal(
            message.service(), path, kRequestInterface, QStringLiteral("Response"));
        const QString uri = QUrl::fromLocalFile(file).toString();

        if (mode == QLatin1String("picture") || mode == QLatin1String("elsewhere")
            || mode == QLatin1String("early")) {
            response << 0u << QVariantMap { { QStringLiteral("uri"), uri } };
        } else if (mode == QLatin1String("refuse")) {
            response << 1u << QVariantMap();
        } else if (mode == QLatin1String("error")) {
            response << 2u << QVariantMap();
        } else if (mode == QLatin1String("no-uri")) {
            response << 0u << QVariantMap { { QStringLiteral("other"), uri } };
        } else if (mode == QLatin1String("uri-not-text")) {
            response << 0u << QVariantMap { { QStringLiteral("uri"), 42 } };
        } else if (mode == QLatin1String("remote-uri")) {
            response << 0u
                     << QVariantMap { { QStringLiteral("uri"),
                            QStringLiteral("https://localhost/a.png") } };
        } else if (mode == QLatin1String("bad-signature")) {
            response << uri;
        } else if (mode == QLatin1String("spoof")) {
            // Another bus client answers first with a picture; the portal itself refuses.
            // A message of its own: copies of a QDBusMessage share their arguments.
            QDBusMessage forged = QDBusMessage::createTargetedSignal(
                message.service(), path, kRequestInterface, QStringLiteral("Response"));
            forged << 0u << QVariantMap { { QStringLiteral("uri"), uri } };
            connection.send(reply);
            spoofer.send(forged);
            response << 1u << QVariantMap();
            // Later than the forged one, so a source that took the forgery has done so by then.
            QTimer::singleShot(200, [connection, response] { connection.send(response); });
            return true;
        } else {
            // "silent": a request that is never answered.
            connection.send(reply);
            return true;
        }

        if (mode == QLatin1String("early")) {
            connection.send(response);
            connection.send(reply);
        } else if (mode == QLatin1String("elsewhere")) {
            // A caller cannot listen on a path it learns from the reply before it has read the
            // reply; portals of that age took their time for the picture anyway.
            connection.send(reply);
            QTimer::singleShot(100, [connection, response] { connection.send(response); });
        } else {
            connection.send(reply);
            connection.send(response);
        }
        return true;
    }

private:
    QString mode;
    QString file;
    QDBusConnection spoofer;
};

} // namespace

int main(int argc, char **argv)
{
    // Gone with whoever started it, so a test that dies leaves nothing behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: portal_stand_in ADDRESS MODE [FILE]\n");
        return 2;
    }
    const QString mode = args.at(2);
    const QString file = args.size() > 3 ? args.at(3) : QString();

    QDBusConnection bus = QDBusConnection::connectToBus(args.at(1), QStringLiteral("stand-in"));
    QDBusConnection spoofer = QDBusConnection::connectToBus(args.at(1), QStringLiteral("spoofer"));
    if (!bus.isConnected() || !spoofer.isConnected()) {
        std::fprintf(stderr, "portal_stand_in: cannot reach %s\n", qPrintable(args.at(1)));
        return 1;
    }
    StandIn standIn(mode, file, spoofer);
    bus.registerVirtualObject(
        QStringLiteral("/org/freedesktop/portal/desktop"), &standIn, QDBusConnection::SubPath);
    const QString name
        = mode == QLatin1String("access") ? file : QStringLiteral("org.freedesktop.portal.Desktop");
    if (!bus.registerService(name)) {
        std::fprintf(stderr, "portal_stand_in: cannot own %s\n", qPrintable(name));
        return 1;
    }
    Report(QStringLiteral("ready"));
    return app.exec();
}
