#pragma once

#include "capture/band_geometry.h"

#include <QImage>
#include <QPoint>
#include <QRect>

#include <concepts>
#include <utility>

namespace capture {

// What showing a captured block needs of the image pane (platform::PicBox has all of it).
template <typename P>
concept CapturePane = requires(P &pane, const QImage &image, const QRect &rect, QPoint at)
{
    pane.SetSize(1.0, 1.0);
    {
        pane.IsPaneVisible()
        } -> std::convertible_to<bool>;
    pane.SetPaneVisible(true);
    pane.Clear();
    pane.BlockCopy(image, rect, at);
};

// The frozen copy's pixels as an image of ratio 1, sharing its memory, so a painter-based copy
// takes source pixels one for one instead of scaling a high-dpi copy down to logical size.
[[nodiscard]] inline QImage DevicePixels(const QImage &frozen)
{
    if (frozen.isNull() || frozen.devicePixelRatio() == 1.0)
        return frozen;
    return QImage(frozen.constBits(), frozen.width(), frozen.height(), frozen.bytesPerLine(),
        frozen.format());
}

// A release at (x, y), in its binding order: the band spans the start point and the release
// point and is hidden, the overlay is hidden, and `handOver` gets the frozen copy's pixels at
// ratio 1 and the block under the band in them (`origin` is where the copy's screen starts, in
// overlay pixels). The block is cut to the copy, so it holds the band's pixels and nothing else;
// the live readout averaged this same block.
template <std::invocable HideOverlay, std::invocable<const QImage &, const QRect &> HandOver>
void ReleaseBand(const StartPoint &startPt, Band &band, float x, float y, const QImage &frozen,
    QPoint origin, HideOverlay &&hideOverlay, HandOver &&handOver)
{
    SpanBand(startPt, band, x, y);
    band.Visible = false;

    const qreal ratio = frozen.isNull() ? 1.0 : frozen.devicePixelRatio();
    const QRect block = BandBlock(band, origin, ratio, frozen.rect());
    hideOverlay();
    handOver(DevicePixels(frozen), block);
}

// The same on a desktop of one screen starting at the overlay's corner.
template <std::invocable HideOverlay, std::invocable<const QImage &, const QRect &> HandOver>
void ReleaseBand(const StartPoint &startPt, Band &band, float x, float y, const QImage &frozen,
    HideOverlay &&hideOverlay, HandOver &&handOver)
{
    ReleaseBand(startPt, band, x, y, frozen, QPoint(0, 0), std::forward<HideOverlay>(hideOverlay),
        std::forward<HandOver>(handOver));
}

// What the window does with a handed-over block before analysing it: the pane takes the
// block's size, is shown if it was hidden, cleared, and filled from `pixels` at (0, 0).
template <CapturePane Pane> void ShowBlock(Pane &pane, const QImage &pixels, const QRect &block)
{
    pane.SetSize(block.width(), block.height());
    if (!pane.IsPaneVisible())
        pane.SetPaneVisible(true);
    pane.Clear();
    // An empty block copies nothing; some painters read an empty source rect as "everything".
    if (!block.isEmpty())
        pane.BlockCopy(pixels, block, QPoint(0, 0));
}

} // namespace capture
