#pragma once

#include "analysis/calc_color.h"
#include "capture/band_geometry.h"

#include <QObject>
#include <QPointF>
#include <QRect>

#include <optional>

class QScrollArea;
class QWidget;

namespace capture {
class ReadoutPanel;
}

namespace platform {
class PicBox;
}

namespace app {

// The band dragged over the image pane to choose a part of the picture: drawn on the pane as the
// capture draws its band, with the capture's live readout (size, swatch, hex, magnifier) floating
// in the window. A release with a band chooses its block of the raster; a click without a drag,
// or Cancel, goes back to the whole picture.
class PaneSelection : public QObject
{
    Q_OBJECT

public:
    // Watches `pane`'s pointer events; `scroller` shows the pane, and the readout floats in
    // `window`, which must contain both.
    PaneSelection(platform::PicBox &pane, QScrollArea &scroller, QWidget &window);

    // The chosen block in raster pixels; empty while the whole picture is chosen.
    [[nodiscard]] QRect Part() const { return part; }
    [[nodiscard]] bool IsDragging() const { return dragging; }
    // The mean of the band being dragged, as the readout shows it; none outside a drag.
    [[nodiscard]] const std::optional<analysis::ColourSummary> &LiveAverage() const
    {
        return liveAverage;
    }
    [[nodiscard]] capture::ReadoutPanel &Readout() const { return *panel; }

    // Esc: a drag ends without choosing, and a chosen part gives way to the whole picture.
    void Cancel();
    // A new picture in the pane: no band and no part, and nothing emitted.
    void Forget();

signals:
    void PartChosen(const QRect &block);
    void WholeChosen();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Press(QPointF position);
    void Move(QPointF position);
    void Release(QPointF position);
    void EndDrag();
    void ChooseWhole();
    void RefreshReadout(QPointF pointer, QPointF corner);
    [[nodiscard]] QPointF HeldToPane(QPointF position) const;
    [[nodiscard]] QRect BandBlock() const;

    platform::PicBox &pane;
    QScrollArea &scroller;
    QWidget &window;
    capture::ReadoutPanel *panel = nullptr;
    capture::StartPoint startPt;
    capture::Band band;
    bool dragging = false;
    QRect part;
    std::optional<analysis::ColourSummary> liveAverage;
    // The readout's own scan, so it never touches the window's running flag.
    analysis::ColourScanner liveScanner;
};

} // namespace app
