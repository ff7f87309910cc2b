#include "capture/form2.h"

#include "capture/magnifier.h"
#include "capture/overlay_window.h"
#include "capture/readout_panel.h"
#include "capture/release_steps.h"
#include "platform/dialogs.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <limits>

namespace capture {

Form2::Form2(
    QWidget *mainWindow, std::unique_ptr<platform::ScreenSource> source, ShowMessage showMessage)
    : QWidget(nullptr, kOverlayWindowFlags)
    , mainWindow(mainWindow)
    , source(std::move(source))
    , showMessage(std::move(showMessage))
    , onWayland(QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
{
    setObjectName(QStringLiteral("Form2"));
    PrepareOverlaySurface(*this);

    if (!this->showMessage) {
        this->showMessage = [mainWindow](const QString &text, const QString &details) {
            platform::ShowError(mainWindow, text, details);
        };
    }

    timer1.setObjectName(QStringLiteral("Timer1"));
    timer1.setInterval(kTimerInterval);
    timer1.setSingleShot(true);
    connect(&timer1, &QTimer::timeout, this, &Form2::Freeze);

    panel = new ReadoutPanel(this);
    panel->hide();

    // Without a window manager a full-screen request alone leaves a 640 x 480 window: the
    // geometry itself must be the desktop's.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->virtualGeometry());
}

Form2::~Form2() = default;

void Form2::ArmTimer() { timer1.start(); }

bool Form2::IsShown() const
{
    return isVisible()
        || std::any_of(windows.begin(), windows.end(),
            [](const std::unique_ptr<OverlayWindow> &window) { return window->isVisible(); });
}

const QImage &Form2::FrozenCopy() const
{
    static const QImage none;
    return screens.empty() ? none : screens.front().image;
}

void Form2::Freeze()
{
    // The portal answers later from the event loop; the overlay may be gone by then.
    QPointer<Form2> self(this);
    source->GrabScreens([self](platform::ScreenGrab grab) {
        if (self)
            self->FinishFreeze(std::move(grab));
    });
}

QString Form2::GrabFailureText(platform::ScreenGrabFailure failure)
{
    using platform::ScreenGrabFailure;
    switch (failure) {
    case ScreenGrabFailure::None:
        break;
    case ScreenGrabFailure::NoPicture:
        return tr("窗口系统没有给出屏幕的图像");
    case ScreenGrabFailure::NoPortal:
        return tr("没有可以截取屏幕的桌面门户");
    case ScreenGrabFailure::Refused:
        return tr("桌面门户拒绝了截图");
    case ScreenGrabFailure::TimedOut:
        return tr("桌面门户没有及时回答");
    case ScreenGrabFailure::BadAnswer:
        return tr("桌面门户的回答无法使用");
    }
    return {};
}

void Form2::FinishFreeze(platform::ScreenGrab grab)
{
    std::vector<platform::ScreenPicture> &pictures = grab.screens;
    if (pictures.empty()) {
        // Analysing a stale or black copy would report a made-up colour as a result.
        timer1.stop();
        showMessage(tr(kUnreadableScreenText), GrabFailureText(grab.failure));
        return;
    }
    QRect desktop;
    for (const platform::ScreenPicture &picture : pictures)
        desktop = desktop.united(picture.geometry);
    // The tables keep their storage from one freeze to the next: fresh memory doubles the cost
    // of a build.
    screens.resize(pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        FrozenScreen &frozen = screens[i];
        frozen.area = pictures[i].geometry.translated(-desktop.topLeft());
        frozen.image = std::move(pictures[i].image);
        if (frozen.image.format() != QImage::Format_RGB32) {
            const qreal ratio = frozen.image.devicePixelRatio();
            frozen.image = frozen.image.convertToFormat(QImage::Format_RGB32);
            frozen.image.setDevicePixelRatio(ratio);
        }
        frozen.table.Build(reinterpret_cast<const std::uint32_t *>(frozen.image.constBits()),
            frozen.image.width(), frozen.image.height(), frozen.image.bytesPerLine() / 4,
            analysis::ChannelOrder::kXrgb);
    }
    // Screens added or moved since the overlay was made.
    if (geometry() != desktop)
        setGeometry(desktop);
    timer1.stop();
    startPtAtShow = startPt;
    const QList<QScreen *> desktopScreens = QGuiApplication::screens();
    windowPerScreen = onWayland
        || std::any_of(desktopScreens.begin(), desktopScreens.end(), [&](const QScreen *screen) {
               return screen->devicePixelRatio() != desktopScreens.front()->devicePixelRatio();
           });
    if (windowPerScreen) {
        ShowWindowPerScreen();
        return;
    }
    update();
    RefreshReadout(QPointF(mapFromGlobal(QCursor::pos())));
    panel->show();
    // Window managers hold even a frameless window to one monitor's free area, and full screen
    // to one monitor: over several, the overlay passes the window manager by.
    const bool spanning = screens.size() > 1;
    if (windowFlags().testFlag(Qt::X11BypassWindowManagerHint) != spanning)
        setWindowFlag(Qt::X11BypassWindowManagerHint, spanning);
    if (spanning) {
        setGeometry(desktop);
        show();
        raise();
        // A window the window manager does not know cannot be made active through it, and the
        // main window could not be given back afterwards: Esc comes through a keyboard grab.
        grabKeyboard();
    } else {
        // Full-screen state as well as the geometry: window managers then keep panels below it.
        showFullScreen();
        raise();
        activateWindow();
        setFocus(Qt::ActiveWindowFocusReason);
    }
}

void Form2::ShowWindowPerScreen()
{
    // Screens gone since the last capture take their windows along; the panel stays.
    while (windows.size() > screens.size()) {
        if (panel->parentWidget() == windows.back().get())
            panel->setParent(this);
        windows.pop_back();
    }
    while (windows.size() < screens.size())
        windows.push_back(std::make_unique<OverlayWindow>(static_cast<OverlayHost &>(*this)));
    const QList<QScreen *> qtScreens = QGuiApplication::screens();
    const QWidget *main = mainWindow;
    OverlayWindow *focused = windows.front().get();
    for (std::size_t i = 0; i < screens.size(); ++i) {
        OverlayWindow &window = *windows[i];
        window.SetArea(screens[i].area);
        const QRect place = screens[i].area.translated(geometry().topLeft());
        const auto same = std::find_if(qtScreens.begin(), qtScreens.end(),
            [&place](const QScreen *screen) { return screen->geometry() == place; });
        // The compositor puts a full-screen window on the screen it was asked for, and only
        // that way: positions are not ours to choose.
        if (same != qtScreens.end()) {
            window.setScreen(*same);
            if (main && main->isVisible() && main->screen() == *same)
                focused = &window;
        }
        window.setGeometry(place);
    }
    RefreshReadout(QPointF(mapFromGlobal(QCursor::pos())));
    panel->show();
    for (const std::unique_ptr<OverlayWindow> &window : windows) {
        window->showFullScreen();
        window->raise();
    }
    // Esc goes to the window on the main window's screen, where the command was given.
    focused->activateWindow();
    focused->setFocus(Qt::ActiveWindowFocusReason);
}

void Form2::HideOverlay()
{
    hide();
    for (const std::unique_ptr<OverlayWindow> &window : windows)
        window->hide();
}

void Form2::hideEvent(QHideEvent *event)
{
    releaseKeyboard();
    QWidget::hideEvent(event);
}

void Form2::Cancel()
{
    if (!IsShown())
        return;
    const Band before = shape1;
    shape1.Visible = false;
    startPt = startPtAtShow;
    UpdateBand(before);
    HideOverlay();
    // The main window is under where the overlay was; give it the keyboard again.
    if (mainWindow && mainWindow->isVisible()) {
        mainWindow->raise();
        mainWindow->activateWindow();
    }
}

void Form2::CopyReadout()
{
    if (shape1.Visible)
        panel->CopyHex();
}

void Form2::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    PaintArea(painter, event->rect());
}

void Form2::PaintArea(QPainter &painter, const QRect &dirty) const
{
    QRegion uncovered(dirty);
    for (const FrozenScreen &frozen : screens)
        uncovered -= frozen.area;
    // Black where no screen lies, e.g. below a shorter screen beside a taller one.
    for (const QRect &part : uncovered)
        painter.fillRect(part, Qt::black);
    for (const FrozenScreen &frozen : screens) {
        const QRect target = dirty.intersected(frozen.area);
        if (target.isEmpty())
            continue;
        const qreal ratio = frozen.image.devicePixelRatio();
        const QRectF from(QPointF(target.topLeft() - frozen.area.topLeft()) * ratio,
            QSizeF(target.size()) * ratio);
        painter.drawImage(QRectF(target), frozen.image, from);
    }
    if (shape1.Visible) {
        // Dashes of black over white show on any screen content.
        const QRectF outline(shape1.Left, shape1.Top, shape1.Width, shape1.Height);
        painter.setPen(QPen(Qt::white, 0));
        painter.drawRect(outline);
        painter.setPen(QPen(Qt::black, 0, Qt::DashLine));
        painter.drawRect(outline);
    }
}

QRect Form2::BandOutline(const Band &band) const
{
    return QRectF(band.Left, band.Top, band.Width, band.Height)
        .toAlignedRect()
        .adjusted(-2, -2, 2, 2);
}

void Form2::UpdateArea(const QRect &area)
{
    if (!windowPerScreen) {
        update(area);
        return;
    }
    for (const std::unique_ptr<OverlayWindow> &window : windows)
        window->UpdateArea(area);
}

void Form2::UpdateBand(const Band &before)
{
    if (before.Visible)
        UpdateArea(BandOutline(before));
    if (shape1.Visible)
        UpdateArea(BandOutline(shape1));
}

const Form2::FrozenScreen *Form2::ScreenNear(QPointF point) const
{
    const FrozenScreen *nearest = nullptr;
    qreal best = std::numeric_limits<qreal>::max();
    for (const FrozenScreen &frozen : screens) {
        const QPointF inside = ClampToArea(point, frozen.area.adjusted(0, 0, -1, -1));
        const qreal distance = QLineF(point, inside).length();
        if (distance < best) {
            best = distance;
            nearest = &frozen;
        }
    }
    return nearest;
}

const Form2::FrozenScreen *Form2::BandScreen() const
{
    return ScreenNear(QPointF(startPt.X, startPt.Y));
}

QPointF Form2::HeldToBandScreen(QPointF point) const
{
    const FrozenScreen *frozen = BandScreen();
    return frozen ? ClampToArea(point, frozen->area) : point;
}

QWidget *Form2::WindowOf(const FrozenScreen &frozen)
{
    const auto index = static_cast<std::size_t>(&frozen - screens.data());
    if (!windowPerScreen || index >= windows.size())
        return this;
    return windows[index].get();
}

void Form2::RefreshReadout(QPointF pointer)
{
    const bool dragging = shape1.Visible;
    // During a drag everything follows the band's free corner, which stays on the band's screen.
    const QPointF corner = dragging ? HeldToBandScreen(pointer) : pointer;
    const FrozenScreen *under = dragging ? BandScreen() : ScreenNear(corner);
    if (!under)
        return;
    const qreal ratio = under->image.devicePixelRatio();
    const QPointF inScreen = (corner - QPointF(under->area.topLeft())) * ratio;
    panel->Zoom().ShowAround(under->image,
        QPoint(static_cast<int>(std::floor(inScreen.x())),
            static_cast<int>(std::floor(inScreen.y()))));

    if (dragging) {
        const QRect block = BandBlock(shape1, under->area.topLeft(), ratio, under->image.rect());
        const analysis::ColourSummary summary = analysis::Summarise(
            under->table.Totals(block.x(), block.y(), block.width(), block.height()));
        panel->SetReadout(block.size(), summary);
    }
    panel->ShowReadout(dragging);
    const QPoint start = dragging ? QPoint(startPt.X, startPt.Y) : corner.toPoint();
    const QPoint placed
        = PlaceReadout(panel->size(), pointer.toPoint(), corner.toPoint(), start, under->area);
    // With a window per screen the panel goes into the window of the screen it is placed on.
    QWidget *host = WindowOf(*under);
    if (panel->parentWidget() != host) {
        panel->setParent(host);
        panel->show();
    }
    panel->move(host == this ? placed : placed - under->area.topLeft());
    panel->raise();
}

void Form2::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    PressAt(event->position());
}

void Form2::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    MoveTo(event->position());
}

void Form2::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    ReleaseAt(event->position());
}

void Form2::PressAt(QPointF position)
{
    if (!IsShown())
        return;
    const Band before = shape1;
    // A press where no screen lies (beside a shorter screen) starts on the nearest one.
    const FrozenScreen *frozen = ScreenNear(position);
    const QPointF at
        = frozen ? ClampToArea(position, frozen->area.adjusted(0, 0, -1, -1)) : position;
    PressBand(startPt, shape1, static_cast<float>(at.x()), static_cast<float>(at.y()));
    UpdateBand(before);
    RefreshReadout(position);
}

void Form2::MoveTo(QPointF position)
{
    if (!IsShown())
        return;
    const Band before = shape1;
    const QPointF at = HeldToBandScreen(position);
    SpanBand(startPt, shape1, static_cast<float>(at.x()), static_cast<float>(at.y()));
    UpdateBand(before);
    RefreshReadout(position);
}

void Form2::ReleaseAt(QPointF position)
{
    // After Esc a button still held is let go over whatever lies below: no capture from it.
    if (!IsShown())
        return;
    const Band before = shape1;
    const QPointF at = HeldToBandScreen(position);
    const FrozenScreen *frozen = BandScreen();
    static const QImage none;
    ReleaseBand(
        startPt, shape1, static_cast<float>(at.x()), static_cast<float>(at.y()),
        frozen ? frozen->image : none, frozen ? frozen->area.topLeft() : QPoint(),
        [this, &before] {
            UpdateBand(before);
            HideOverlay();
        },
        [this](const QImage &pixels, const QRect &block) { emit BlockCaptured(pixels, block); });
}

void Form2::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        Cancel();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        event->accept();
        CopyReadout();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace capture
