#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QtGlobal>

#include <cstdint>

namespace capture {

// The overlay's start point: where the last press was, rounded half to even into 16 bits.
struct StartPoint
{
    std::int16_t X = 0;
    std::int16_t Y = 0;
};

// The rubber band's state in overlay (logical) pixels, kept as 32-bit floats as the pointer gave
// them; rounding happens only where pixels are copied.
struct Band
{
    float Left = 0;
    float Top = 0;
    float Width = 0;
    float Height = 0;
    bool Visible = false;
};

// Nearest integer, halves to even; out-of-range values saturate and NaN gives 0.
[[nodiscard]] std::int16_t RoundToInt16(double value);
[[nodiscard]] std::int32_t RoundToInt32(double value);

// Press at (x, y): the start point becomes the rounded press point, and the band a visible
// zero-size band at the unrounded point.
void PressBand(StartPoint &startPt, Band &band, float x, float y);

// The band spans the start point and (x, y); its visible flag is left alone, so before the first
// press the band follows the pointer while hidden.
void SpanBand(const StartPoint &startPt, Band &band, float x, float y);

// The block of the frozen copy under the band, in the copy's own pixels: the band's four values
// scaled by devicePixelRatio (image pixels per logical pixel), then each rounded half to even.
// Columns Left .. Left + Width - 1 and rows Top .. Top + Height - 1, so the larger end of a drag
// is not part of it. Width and height are never negative.
[[nodiscard]] QRect BandSourceRect(const Band &band, qreal devicePixelRatio);

// The block of one screen's frozen picture under the band: the band taken relative to `origin`
// (the screen's top-left, logical pixels), as BandSourceRect, then cut to `image` (its pixels).
// This one block is what the readout averages and what a release copies.
[[nodiscard]] QRect BandBlock(
    const Band &band, QPoint origin, qreal devicePixelRatio, const QRect &image);

// A pointer position held to `area` (logical pixels): the far edges are allowed, since a band's
// larger end is not part of it, so a band can reach the area's last column and row.
[[nodiscard]] QPointF ClampToArea(QPointF point, const QRect &area);

// How far the readout panel keeps from the pointer and the band's free corner: half a crosshair
// pointer and some room.
inline constexpr int kReadoutGap = 24;

// Top-left of the readout panel of `panel` size: wholly inside `screen` where it fits, and no
// nearer than kReadoutGap to the pointer or the band's free corner. It prefers the side of the
// free corner away from `start`, so the band itself stays in view.
[[nodiscard]] QPoint PlaceReadout(
    QSize panel, QPoint pointer, QPoint freeCorner, QPoint start, const QRect &screen);

} // namespace capture
