#include "capture/overlay_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace capture {

void PrepareOverlaySurface(QWidget &window)
{
    window.setAttribute(Qt::WA_QuitOnClose, false);
    window.setAttribute(Qt::WA_OpaquePaintEvent);
    window.setAttribute(Qt::WA_NoSystemBackground);
    window.setCursor(Qt::CrossCursor);
    window.setMouseTracking(true);
    window.setFocusPolicy(Qt::StrongFocus);
}

OverlayWindow::OverlayWindow(OverlayHost &owner)
    : QWidget(nullptr, kOverlayWindowFlags)
    , owner(owner)
{
    setObjectName(QStringLiteral("OverlayWindow"));
    PrepareOverlaySurface(*this);
}

void OverlayWindow::SetArea(const QRect &overlayArea)
{
    area = overlayArea;
    update();
}

void OverlayWindow::UpdateArea(const QRect &overlayArea)
{
    const QRect mine = overlayArea.intersected(area);
    if (!mine.isEmpty())
        update(mine.translated(-area.topLeft()));
}

QPointF OverlayWindow::ToOverlay(QPointF position) const
{
    // A drag begun here keeps coming here when the pointer crosses onto another screen, with
    // positions beyond this window's edges; they still map to the right overlay pixels.
    return position + QPointF(area.topLeft());
}

void OverlayWindow::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.translate(-area.topLeft());
    owner.PaintArea(painter, event->rect().translated(area.topLeft()));
}

void OverlayWindow::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    owner.PressAt(ToOverlay(event->position()));
}

void OverlayWindow::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    owner.MoveTo(ToOverlay(event->position()));
}

void OverlayWindow::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    owner.ReleaseAt(ToOverlay(event->position()));
}

void OverlayWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        owner.Cancel();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        event->accept();
        owner.CopyReadout();
        return;
    }
    QWidget::keyPressEvent(event);
}

void OverlayWindow::closeEvent(QCloseEvent *event)
{
    // Closed by the compositor: the whole overlay backs out, not this screen's part alone.
    event->ignore();
    owner.Cancel();
}

} // namespace capture
