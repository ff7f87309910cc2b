#include "capture/form2.h"

#include "capture/release_steps.h"
#include "platform/dialogs.h"
#include "platform/pic_box.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>

#include <cmath>

namespace capture {

const QString Form2::kUnreadableScreenText = QStringLiteral("无法读取屏幕内容");

Form2::Form2(platform::PicBox &pane, std::function<void()> calcColor,
    std::unique_ptr<platform::ScreenSource> source, ShowMessage showMessage)
    : QWidget(nullptr,
        Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
            | Qt::NoDropShadowWindowHint)
    , pane(pane)
    , calcColor(std::move(calcColor))
    , source(std::move(source))
    , showMessage(std::move(showMessage))
{
    setObjectName(QStringLiteral("Form2"));
    // The main window's close ends the program; a hidden overlay must not keep it alive.
    setAttribute(Qt::WA_QuitOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setCursor(Qt::CrossCursor);
    // Moves without a button held also move the (hidden) band.
    setMouseTracking(true);

    if (!this->showMessage) {
        QWidget *owner = pane.window();
        this->showMessage = [owner](const QString &text) { platform::ShowError(owner, text); };
    }

    timer1.setObjectName(QStringLiteral("Timer1"));
    timer1.setInterval(kTimerInterval);
    timer1.setSingleShot(true);
    connect(&timer1, &QTimer::timeout, this, &Form2::Freeze);

    // Without a window manager a full-screen request alone leaves a 640 x 480 window: the
    // geometry itself must be the screen's.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
}

Form2::~Form2() = default;

void Form2::ArmTimer() { timer1.start(); }

void Form2::Freeze()
{
    // The portal answers later from the event loop; the overlay may be gone by then.
    QPointer<Form2> self(this);
    source->GrabScreen([self](QImage screen) {
        if (self)
            self->FinishFreeze(std::move(screen));
    });
}

void Form2::FinishFreeze(QImage screen)
{
    if (screen.isNull()) {
        // Analysing a stale or black copy would report a made-up colour as a result.
        timer1.stop();
        showMessage(kUnreadableScreenText);
        return;
    }
    frozen = std::move(screen);
    update();
    timer1.stop();
    // Full-screen state as well as the geometry: window managers then keep panels below it.
    showFullScreen();
    activateWindow();
}

void Form2::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect dirty = event->rect();
    if (frozen.isNull()) {
        painter.fillRect(dirty, Qt::black);
    } else {
        const QSizeF logical = frozen.deviceIndependentSize();
        if (!QRectF(QPointF(0, 0), logical).contains(QRectF(dirty)))
            painter.fillRect(dirty, Qt::black);
        const qreal ratio = frozen.devicePixelRatio();
        const QRectF from(QPointF(dirty.topLeft()) * ratio, QSizeF(dirty.size()) * ratio);
        painter.drawImage(QRectF(dirty), frozen, from);
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

void Form2::UpdateBand(const Band &before)
{
    if (before.Visible)
        update(BandOutline(before));
    if (shape1.Visible)
        update(BandOutline(shape1));
}

void Form2::mousePressEvent(QMouseEvent *event)
{
    const Band before = shape1;
    const QPointF at = event->position();
    PressBand(startPt, shape1, static_cast<float>(at.x()), static_cast<float>(at.y()));
    UpdateBand(before);
    event->accept();
}

void Form2::mouseMoveEvent(QMouseEvent *event)
{
    const Band before = shape1;
    const QPointF at = event->position();
    SpanBand(startPt, shape1, static_cast<float>(at.x()), static_cast<float>(at.y()));
    UpdateBand(before);
    event->accept();
}

void Form2::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const Band before = shape1;
    const QPointF at = event->position();
    ReleaseBand(
        startPt, shape1, static_cast<float>(at.x()), static_cast<float>(at.y()), frozen, pane,
        [this, &before] {
            UpdateBand(before);
            hide();
        },
        calcColor);
}

} // namespace capture
