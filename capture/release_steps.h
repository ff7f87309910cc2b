#pragma once

#include "capture/band_geometry.h"

#include <QImage>
#include <QPoint>
#include <QRect>

#include <concepts>
#include <utility>

namespace capture {

// What a release needs of the image pane (platform::PicBox has all of it).
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
// point and is hidden; the pane takes the size of the block under the band (in the frozen
// copy's pixels; `origin` is where the copy's screen starts, in overlay pixels), is shown if it
// was hidden, cleared, and filled from the frozen copy at (0, 0); then the overlay is hidden and
// the analysis runs over the pane.
template <CapturePane Pane, std::invocable HideOverlay, std::invocable CalcColor>
void ReleaseBand(const StartPoint &startPt, Band &band, float x, float y, const QImage &frozen,
    QPoint origin, Pane &pane, HideOverlay &&hideOverlay, CalcColor &&calcColor)
{
    SpanBand(startPt, band, x, y);
    band.Visible = false;

    const qreal ratio = frozen.isNull() ? 1.0 : frozen.devicePixelRatio();
    // The block is cut to the copy, so the pane holds the band's pixels and nothing else; the
    // live readout averaged this same block.
    const QRect source = BandBlock(band, origin, ratio, frozen.rect());
    pane.SetSize(source.width(), source.height());
    if (!pane.IsPaneVisible())
        pane.SetPaneVisible(true);
    pane.Clear();
    // An empty block copies nothing; some painters read an empty source rect as "everything".
    if (!source.isEmpty())
        pane.BlockCopy(DevicePixels(frozen), source, QPoint(0, 0));

    hideOverlay();
    calcColor();
}

// The same on a desktop of one screen starting at the overlay's corner.
template <CapturePane Pane, std::invocable HideOverlay, std::invocable CalcColor>
void ReleaseBand(const StartPoint &startPt, Band &band, float x, float y, const QImage &frozen,
    Pane &pane, HideOverlay &&hideOverlay, CalcColor &&calcColor)
{
    ReleaseBand(startPt, band, x, y, frozen, QPoint(0, 0), pane,
        std::forward<HideOverlay>(hideOverlay), std::forward<CalcColor>(calcColor));
}

} // namespace capture
