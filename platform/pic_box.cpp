#include "platform/pic_box.h"

#include "analysis/calc_color.h"
#include "imaging/compose.h"
#include "imaging/raster_memory.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace platform {
namespace {

    // The pane holds every picture the loader accepts, so the scan never reads past a cut-off
    // raster; a bigger pane side would only hold background.
    constexpr int kLargestSide = imaging::kMaxRasterSide;

    int PixelCount(double pixels)
    {
        return std::clamp(analysis::RoundPaneSize(pixels), 0, kLargestSide);
    }

} // namespace

PicBox::PicBox(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("PicBox"));
    setAttribute(Qt::WA_StaticContents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Hidden until a picture source shows it, also when the parent is shown first.
    QWidget::setVisible(false);
    RasterChanged();
}

QSize PicBox::RasterSize() const { return QSize(PixelCount(paneWidth), PixelCount(paneHeight)); }

void PicBox::SetSize(double width, double height)
{
    paneWidth = width;
    paneHeight = height;
    const QSize size = RasterSize();
    if (size != raster.size())
        Redraw(size);
    UpdateWidgetSize();
}

void PicBox::SetPaneVisible(bool visible)
{
    paneVisible = visible;
    // A pane without a container stays off screen: it is a raster only.
    if (parentWidget())
        QWidget::setVisible(visible);
}

void PicBox::Clear() { Redraw(RasterSize()); }

void PicBox::SetPicture(const QImage &newPicture)
{
    if (newPicture.isNull() || newPicture.format() == QImage::Format_RGB32)
        picture = newPicture;
    else
        picture = newPicture.convertToFormat(QImage::Format_RGB32);
    Redraw(RasterSize());
}

void PicBox::SetPictureAndSize(const QImage &newPicture, double width, double height)
{
    paneWidth = width;
    paneHeight = height;
    SetPicture(newPicture);
    UpdateWidgetSize();
}

void PicBox::SetBackColor(analysis::ColourValue colour)
{
    backColor = colour;
    Clear();
}

void PicBox::Redraw(QSize size)
{
    if (!picture.isNull() && picture.size() == size) {
        // The picture covers every pixel: share its storage instead of copying it.
        raster = picture;
    } else {
        // Reuse our own storage when it already has the size; a fresh big raster costs page
        // faults.
        if (raster.size() != size || !raster.isDetached()
            || raster.format() != QImage::Format_RGB32)
            raster = QImage(size, QImage::Format_RGB32);
        if (!raster.isNull()) {
            raster.fill(imaging::ToQRgb(ResolveColour(backColor)));
            if (!picture.isNull()) {
                const int columns = std::min(picture.width(), raster.width());
                const int rows = std::min(picture.height(), raster.height());
                const auto bytes = static_cast<std::size_t>(columns) * sizeof(QRgb);
                for (int y = 0; y < rows; ++y)
                    std::memcpy(raster.scanLine(y), picture.constScanLine(y), bytes);
            }
        }
    }
    RasterChanged();
    update();
}

void PicBox::BlockCopy(const QImage &source, const QRect &sourceRect, const QPoint &destination)
{
    // Clip against the source, then against the raster, moving the other side along.
    QRect from = sourceRect.intersected(source.rect());
    if (from.isEmpty())
        return;
    QPoint to = destination + (from.topLeft() - sourceRect.topLeft());
    const QRect target = QRect(to, from.size()).intersected(raster.rect());
    if (target.isEmpty())
        return;
    from = QRect(from.topLeft() + (target.topLeft() - to), target.size());
    to = target.topLeft();

    QImage block;
    if (source.format() == QImage::Format_RGB32)
        block = source;
    else {
        block = source.copy(from).convertToFormat(QImage::Format_RGB32);
        from.moveTopLeft(QPoint(0, 0));
    }
    const auto bytes = static_cast<std::size_t>(from.width()) * sizeof(QRgb);
    for (int row = 0; row < from.height(); ++row) {
        const auto *in = reinterpret_cast<const QRgb *>(block.constScanLine(from.y() + row));
        auto *out = reinterpret_cast<QRgb *>(raster.scanLine(to.y() + row));
        std::memcpy(out + to.x(), in + from.x(), bytes);
    }
    RasterChanged();
    const qreal ratio = devicePixelRatioF();
    update(QRectF(QPointF(to) / ratio, QSizeF(from.size()) / ratio).toAlignedRect());
}

void PicBox::RasterChanged()
{
    rasterBits = raster.constBits();
    rasterStride = raster.bytesPerLine();
    rasterWidth = raster.width();
    rasterHeight = raster.height();
}

void PicBox::UpdateWidgetSize()
{
    // One raster pixel is one device pixel on screen.
    const qreal ratio = devicePixelRatioF();
    const QSize size = raster.size();
    resize(static_cast<int>(std::ceil(size.width() / ratio)),
        static_cast<int>(std::ceil(size.height() / ratio)));
}

void PicBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect dirty = event->rect();
    const qreal ratio = devicePixelRatioF();
    const QRectF source(QPointF(dirty.topLeft()) * ratio, QSizeF(dirty.size()) * ratio);
    if (!QRectF(raster.rect()).contains(source))
        painter.fillRect(dirty, QColor(imaging::ToQRgb(ResolveColour(backColor))));
    if (!raster.isNull())
        painter.drawImage(QRectF(dirty), raster, source);
    if (marked) {
        // Dashes of black over white, as the capture draws its band: they show on any picture.
        painter.setPen(QPen(Qt::white, 0));
        painter.drawRect(markArea);
        painter.setPen(QPen(Qt::black, 0, Qt::DashLine));
        painter.drawRect(markArea);
    }
}

void PicBox::SetMark(const QRectF &area, bool shown)
{
    if (marked)
        update(MarkOutline());
    markArea = area;
    marked = shown;
    if (marked)
        update(MarkOutline());
}

QRect PicBox::MarkOutline() const { return markArea.toAlignedRect().adjusted(-2, -2, 2, 2); }

void PicBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (paneVisible)
        emit DoubleClicked();
    event->accept();
}

} // namespace platform
