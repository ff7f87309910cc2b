#include "capture/magnifier.h"

#include <QPaintEvent>
#include <QPainter>

namespace capture {

Magnifier::Magnifier(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Magnifier"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(sizeHint());
}

QSize Magnifier::sizeHint() const { return QSize(kSpan * kZoom, kSpan * kZoom); }

void Magnifier::ShowAround(const QImage &picture, QPoint centre)
{
    const int half = kSpan / 2;
    // copy() gives zero, which is black in this format, where the rectangle leaves the picture.
    view = picture.copy(QRect(centre - QPoint(half, half), QSize(kSpan, kSpan)));
    if (!view.isNull()) {
        view.setDevicePixelRatio(1.0);
        if (view.format() != QImage::Format_RGB32)
            view = view.convertToFormat(QImage::Format_RGB32);
    }
    update();
}

void Magnifier::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect whole(0, 0, kSpan * kZoom, kSpan * kZoom);
    painter.fillRect(rect(), Qt::black);
    // Without smoothing each pixel stays a hard-edged square.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (!view.isNull())
        painter.drawImage(whole, view);
    // Black inside white: the outline shows on any pixel colour.
    const int middle = (kSpan / 2) * kZoom;
    const QRect cell(middle, middle, kZoom, kZoom);
    painter.setPen(QPen(Qt::white, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(cell.adjusted(-1, -1, 0, 0));
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(cell.adjusted(-2, -2, 1, 1));
}

} // namespace capture
