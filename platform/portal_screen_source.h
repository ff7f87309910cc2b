#pragma once

#include "platform/screen_source.h"

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <vector>

class QDBusMessage;
class QTimer;

namespace platform {

// The picture a portal's answer gives, or a null picture and the reason.
struct PortalPicture
{
    QImage picture;
    ScreenGrabFailure failure = ScreenGrabFailure::None;
};

// The screen grab of Wayland desktops, where a program cannot read the screen itself: the desktop
// portal's Screenshot request, answered later by a Response signal on a Request object with the
// URI of a picture file that the portal wrote. The picture is read at its full pixel size and the
// file removed; a missing portal, a refusal, an error, a malformed answer or no answer within the
// timeout all give no screens, each with its own reason.
class PortalScreenSource : public QObject, public ScreenSource
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultTimeout { 5000 };

    explicit PortalScreenSource(QDBusConnection bus = QDBusConnection::sessionBus(),
        std::chrono::milliseconds timeout = kDefaultTimeout);
    ~PortalScreenSource() override;

    // The portal's one picture of the whole desktop, split into the screens.
    void GrabScreens(GrabScreensDone done) override;

private slots:
    void HandleResponse(const QDBusMessage &message);

private:
    // Takes the picture of the whole desktop, or a null image and the reason.
    using DesktopDone = std::function<void(const PortalPicture &desktop)>;

    struct Request
    {
        DesktopDone done;
        QTimer *timer = nullptr;
        // The caller has had its failure already; a late answer only gets its file removed.
        bool abandoned = false;
    };

    void RequestDesktop(DesktopDone done);
    void Subscribe(const QString &path);
    void Unsubscribe(const QString &path);
    void HandleCallFinished(
        const QString &predictedPath, const QString &path, ScreenGrabFailure failure);
    void HandleTimeout(const QString &path);
    void Finish(const QString &path, const PortalPicture &desktop);

    QDBusConnection bus;
    std::chrono::milliseconds timeout;
    // Pending requests by the path of their Request object.
    std::map<QString, Request> requests;
};

// The portal's picture of the whole desktop, read from the Response's results: a null picture
// unless the response code is 0 and "uri" names a local picture file (Refused for the codes that
// decline, BadAnswer for anything malformed or unreadable). The file is removed once read,
// whether or not it could be decoded.
[[nodiscard]] PortalPicture ReadPortalResponse(const QDBusMessage &response);

// The reason a failed Screenshot call gives: NoPortal when nobody on the bus offers the portal,
// Refused for any other error reply.
[[nodiscard]] ScreenGrabFailure PortalCallFailure(const QString &errorName);

// The part of `desktop` (a picture of the whole desktop, `desktopGeometry` in logical pixels) that
// shows `screen` (logical pixels, same origin), with the device pixel ratio set to picture pixels
// per logical pixel. A picture whose proportions are not the desktop's is taken as the screen
// alone.
[[nodiscard]] QImage CropToScreen(
    const QImage &desktop, const QRect &screen, const QRect &desktopGeometry);

// One screen as the desktop's picture is split: its place in logical desktop pixels and how many
// of its own pixels make one logical pixel.
struct ScreenLayout
{
    QRect geometry;
    qreal devicePixelRatio = 1.0;
};

// `desktop` (one picture of every screen of `screens`, the primary first, at one scale over the
// box they span) as one picture per screen. A screen whose own ratio is below the picture's scale
// gets its part averaged down to its own pixels (the wlr portal renders every screen at the
// largest scale); any other screen gets its part as it is. A picture whose proportions are not the
// desktop's is taken as the primary screen alone. Nothing for a null picture or no screens.
[[nodiscard]] std::vector<ScreenPicture> SplitDesktopPicture(
    const QImage &desktop, const std::vector<ScreenLayout> &screens);

} // namespace platform
