#pragma once

#include <QPointF>
#include <QRect>

class QPainter;

namespace capture {

// What an overlay window hands its painting and its pointer and key events to, all in overlay
// pixels, so that the band and the readout stay in one place whichever window shows them.
class OverlayHost
{
public:
    // Paints the part `dirty` of the overlay: the frozen copies and the band.
    virtual void PaintArea(QPainter &painter, const QRect &dirty) const = 0;
    virtual void PressAt(QPointF position) = 0;
    virtual void MoveTo(QPointF position) = 0;
    virtual void ReleaseAt(QPointF position) = 0;
    // The whole overlay backs out, as on Esc.
    virtual void Cancel() = 0;
    // Ctrl+C: the band's live average goes to the clipboard.
    virtual void CopyReadout() = 0;

protected:
    ~OverlayHost() = default;
};

} // namespace capture
