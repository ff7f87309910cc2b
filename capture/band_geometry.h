#pragma once

#include <QRect>
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

} // namespace capture
