#include "platform/portal_screen_source.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <cmath>
#include <utility>

namespace platform {

namespace {

    const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
    const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
    const QString kScreenshotInterface = QStringLiteral("org.freedesktop.portal.Screenshot");
    const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");

    // A late answer is still awaited this long after the timeout, only to remove its file.
    constexpr int kLateAnswerFactor = 10;

    // Bigger pictures than this (a wall of 8K screens) are refused rather than risk the allocation.
    constexpr qint64 kMaxPictureBytes = qint64(1) << 30;

    QString NextHandleToken()
    {
        // Unique within the process; the portal scopes tokens by the caller's bus name.
        static std::atomic<unsigned> counter { 0 };
        return QStringLiteral("quillmere%1").arg(++counter);
    }

    // The path on which the portal exports the Request object of a call made with `token`: the
    // caller's unique name without its ':' and with '.' as '_'.
    QString PredictRequestPath(const QString &uniqueName, const QString &token)
    {
        QString sender = uniqueName;
        if (sender.startsWith(QLatin1Char(':')))
            sender.remove(0, 1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return kPortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
    }

    QImage LoadPicture(const QString &path)
    {
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        const QSize size = reader.size();
        if (!size.isValid() || size.isEmpty())
            return {};
        const qint64 bytes = qint64(size.width()) * size.height() * 4;
        if (bytes > kMaxPictureBytes)
            return {};
        // Qt's default allocation limit (128 MiB) is below a large multi-screen desktop; the limit
        // is process-wide, so it is raised for this read only.
        const int previousLimit = QImageReader::allocationLimit();
        const int neededLimit = static_cast<int>(bytes / (1024 * 1024)) + 1;
        if (previousLimit != 0 && previousLimit < neededLimit)
            QImageReader::setAllocationLimit(neededLimit);
        QImage picture = reader.read();
        QImageReader::setAllocationLimit(previousLimit);
        if (picture.isNull())
            return {};
        return picture.convertToFormat(QImage::Format_RGB32);
    }

    void RemovePortalFile(const QString &path)
    {
        // Only the regular file itself; a link would make us remove something the portal did not
        // write.
        const QFileInfo info(path);
        if (info.isFile() && !info.isSymLink())
            QFile::remove(path);
    }

} // namespace

PortalScreenSource::PortalScreenSource(QDBusConnection bus, std::chrono::milliseconds timeout)
    : bus(std::move(bus))
    , timeout(timeout)
{
}

PortalScreenSource::~PortalScreenSource()
{
    for (const auto &[path, request] : requests)
        Unsubscribe(path);
}

void PortalScreenSource::GrabScreens(GrabScreensDone done)
{
    RequestDesktop([done = std::move(done)](const PortalPicture &desktop) {
        if (desktop.picture.isNull()) {
            done({ {}, desktop.failure });
            return;
        }
        // The screens as they are when the picture comes, the primary first as Qt lists them.
        std::vector<ScreenLayout> screens;
        for (const QScreen *screen : QGuiApplication::screens())
            screens.push_back({ screen->geometry(), screen->devicePixelRatio() });
        ScreenGrab grab { SplitDesktopPicture(desktop.picture, screens) };
        if (grab.screens.empty())
            grab.failure = ScreenGrabFailure::BadAnswer;
        done(std::move(grab));
    });
}

void PortalScreenSource::RequestDesktop(DesktopDone done)
{
    if (!bus.isConnected() || bus.baseService().isEmpty()) {
        // Still from the event loop, as a portal answer would come.
        QTimer::singleShot(0, this, [done = std::move(done)] {
            done({ QImage(), ScreenGrabFailure::NoPortal });
        });
        return;
    }

    const QString token = NextHandleToken();
    const QString path = PredictRequestPath(bus.baseService(), token);

    // The answer can come before the call's reply is read, so listen before calling.
    Subscribe(path);
    Request &request = requests[path];
    request.done = std::move(done);
    request.timer = new QTimer(this);
    request.timer->setSingleShot(true);
    connect(request.timer, &QTimer::timeout, this, [this, path] { HandleTimeout(path); });
    request.timer->start(timeout);

    QDBusMessage call = QDBusMessage::createMethodCall(
        kPortalService, kPortalPath, kScreenshotInterface, QStringLiteral("Screenshot"));
    const QVariantMap options {
        { QStringLiteral("handle_token"), token },
        { QStringLiteral("modal"), false },
        { QStringLiteral("interactive"), false },
    };
    call << QString() << options;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
        [this, path](QDBusPendingCallWatcher *finished) {
            finished->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *finished;
            if (reply.isError())
                HandleCallFinished(path, QString(), PortalCallFailure(reply.error().name()));
            else
                HandleCallFinished(path, reply.value().path(), ScreenGrabFailure::None);
        });
}

void PortalScreenSource::HandleCallFinished(
    const QString &predictedPath, const QString &path, ScreenGrabFailure failure)
{
    const auto it = requests.find(predictedPath);
    if (it == requests.end())
        return; // answered already, through the predicted path
    if (failure != ScreenGrabFailure::None) {
        Finish(predictedPath, { QImage(), failure });
        return;
    }
    if (path == predictedPath || path.isEmpty())
        return;
    // Portals older than the handle_token option put the Request elsewhere; follow it there.
    Request request = std::move(it->second);
    requests.erase(it);
    Unsubscribe(predictedPath);
    Subscribe(path);
    disconnect(request.timer, &QTimer::timeout, this, nullptr);
    connect(request.timer, &QTimer::timeout, this, [this, path] { HandleTimeout(path); });
    requests[path] = std::move(request);
}

void PortalScreenSource::HandleTimeout(const QString &path)
{
    const auto it = requests.find(path);
    if (it == requests.end())
        return;
    Request &request = it->second;
    if (request.abandoned) {
        Unsubscribe(path);
        request.timer->deleteLater();
        requests.erase(it);
        return;
    }
    // Tell the portal we gave up; if it answers anyway, the answer's file is still removed.
    bus.asyncCall(QDBusMessage::createMethodCall(
        kPortalService, path, kRequestInterface, QStringLiteral("Close")));
    request.abandoned = true;
    request.timer->start(timeout * kLateAnswerFactor);
    DesktopDone done = std::move(request.done);
    request.done = nullptr;
    done({ QImage(), ScreenGrabFailure::TimedOut });
}

void PortalScreenSource::HandleResponse(const QDBusMessage &message)
{
    if (requests.find(message.path()) == requests.end())
        return;
    Finish(message.path(), ReadPortalResponse(message));
}

void PortalScreenSource::Finish(const QString &path, const PortalPicture &desktop)
{
    const auto it = requests.find(path);
    if (it == requests.end())
        return;
    // Out of the table before the caller runs: it may start the next grab at once.
    Request request = std::move(it->second);
    requests.erase(it);
    Unsubscribe(path);
    request.timer->deleteLater();
    if (request.abandoned)
        return;
    request.done(desktop);
}

void PortalScreenSource::Subscribe(const QString &path)
{
    // A message-only slot takes the Response whatever its signature, so a malformed one is read
    // and refused at once instead of waiting for the timeout.
    bus.connect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this,
        SLOT(HandleResponse(QDBusMessage)));
}

void PortalScreenSource::Unsubscribe(const QString &path)
{
    bus.disconnect(kPortalService, path, kRequestInterface, QStringLiteral("Response"), this,
        SLOT(HandleResponse(QDBusMessage)));
}

PortalPicture ReadPortalResponse(const QDBusMessage &response)
{
    const PortalPicture bad { QImage(), ScreenGrabFailure::BadAnswer };
    const QList<QVariant> arguments = response.arguments();
    if (response.signature() != QLatin1String("ua{sv}") || arguments.size() != 2)
        return bad;
    // 0 is success; 1 is the user's refusal, 2 any other end.
    if (arguments.at(0).toUInt() != 0)
        return { QImage(), ScreenGrabFailure::Refused };
    const QVariantMap results = qdbus_cast<QVariantMap>(arguments.at(1));
    const QVariant uri = results.value(QStringLiteral("uri"));
    if (uri.metaType() != QMetaType::fromType<QString>())
        return bad;
    const QUrl url(uri.toString(), QUrl::StrictMode);
    if (!url.isValid() || !url.isLocalFile())
        return bad;
    const QString path = url.toLocalFile();
    QImage picture = LoadPicture(path);
    RemovePortalFile(path);
    if (picture.isNull())
        return bad;
    return { std::move(picture), ScreenGrabFailure::None };
}

ScreenGrabFailure PortalCallFailure(const QString &errorName)
{
    // The bus's own errors for a name or an interface nobody provides.
    static const QStringList kNobodyThere {
        QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
        QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
        QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
    };
    return kNobodyThere.contains(errorName) ? ScreenGrabFailure::NoPortal
                                            : ScreenGrabFailure::Refused;
}

QImage CropToScreen(const QImage &desktop, const QRect &screen, const QRect &desktopGeometry)
{
    if (desktop.isNull() || screen.isEmpty())
        return desktop;
    QImage result = desktop;
    const double scaleX = double(desktop.width()) / desktopGeometry.width();
    const double scaleY = double(desktop.height()) / desktopGeometry.height();
    // Proportional within a pixel of rounding: a picture of the whole desktop.
    const bool wholeDesktop = !desktopGeometry.isEmpty()
        && std::abs(scaleX * desktopGeometry.height() - desktop.height()) <= 1.0;
    if (wholeDesktop && desktopGeometry != screen) {
        const QRect part(static_cast<int>(std::lround((screen.x() - desktopGeometry.x()) * scaleX)),
            static_cast<int>(std::lround((screen.y() - desktopGeometry.y()) * scaleY)),
            static_cast<int>(std::lround(screen.width() * scaleX)),
            static_cast<int>(std::lround(screen.height() * scaleY)));
        result = desktop.copy(part.intersected(desktop.rect()));
        result.setDevicePixelRatio(scaleX);
    } else {
        result.setDevicePixelRatio(double(desktop.width()) / screen.width());
    }
    return result;
}

namespace {

    // Each pixel the rounded mean of a `factor` x `factor` block: the whole part, so a band's
    // average over the result is the average over the same place in the picture.
    QImage AverageBlocks(const QImage &picture, int factor)
    {
        const QImage source = picture.convertToFormat(QImage::Format_RGB32);
        QImage result(source.width() / factor, source.height() / factor, QImage::Format_RGB32);
        const int count = factor * factor;
        for (int y = 0; y < result.height(); ++y) {
            auto *out = reinterpret_cast<QRgb *>(result.scanLine(y));
            for (int x = 0; x < result.width(); ++x) {
                int red = count / 2, green = count / 2, blue = count / 2;
                for (int dy = 0; dy < factor; ++dy) {
                    const auto *in
                        = reinterpret_cast<const QRgb *>(source.constScanLine(y * factor + dy))
                        + x * factor;
                    for (int dx = 0; dx < factor; ++dx) {
                        red += qRed(in[dx]);
                        green += qGreen(in[dx]);
                        blue += qBlue(in[dx]);
                    }
                }
                out[x] = qRgb(red / count, green / count, blue / count);
            }
        }
        return result;
    }

    // `part` (a screen of `logical` size at the picture's scale) at `ratio` pixels per logical
    // pixel where that is fewer than the picture has; the picture's own pixels otherwise, since
    // more pixels than the picture holds would only be made up.
    QImage AtScreenRatio(const QImage &part, QSize logical, qreal ratio)
    {
        const qreal scale = part.devicePixelRatio();
        if (ratio >= scale - 0.01)
            return part;
        const QSize size(static_cast<int>(std::lround(logical.width() * ratio)),
            static_cast<int>(std::lround(logical.height() * ratio)));
        if (size.isEmpty())
            return {};
        const int factor = static_cast<int>(std::lround(scale / ratio));
        QImage result = factor >= 2 && part.size() == size * factor
            ? AverageBlocks(part, factor)
            : part.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                  .convertToFormat(QImage::Format_RGB32);
        result.setDevicePixelRatio(qreal(size.width()) / logical.width());
        return result;
    }

} // namespace

std::vector<ScreenPicture> SplitDesktopPicture(
    const QImage &desktop, const std::vector<ScreenLayout> &screens)
{
    if (desktop.isNull() || screens.empty())
        return {};
    QRect layout;
    for (const ScreenLayout &screen : screens)
        layout = layout.united(screen.geometry);
    const double scale = double(desktop.width()) / layout.width();
    if (layout.isEmpty() || std::abs(scale * layout.height() - desktop.height()) > 1.0) {
        // Not the whole desktop: a portal that gives the primary screen only.
        const ScreenLayout &primary = screens.front();
        return { { primary.geometry, CropToScreen(desktop, primary.geometry, primary.geometry) } };
    }
    std::vector<ScreenPicture> pictures;
    for (const ScreenLayout &screen : screens) {
        const QImage part = CropToScreen(desktop, screen.geometry, layout);
        QImage image = screen.geometry.isEmpty()
            ? QImage()
            : AtScreenRatio(part, screen.geometry.size(), screen.devicePixelRatio);
        // A desktop with one screen missing would show a made-up part: nothing at all.
        if (image.isNull())
            return {};
        pictures.push_back({ screen.geometry, std::move(image) });
    }
    return pictures;
}

} // namespace platform
