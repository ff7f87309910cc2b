#pragma once

#include "analysis/summed_area_table.h"
#include "capture/band_geometry.h"
#include "capture/overlay_host.h"
#include "platform/screen_source.h"

#include <QImage>
#include <QPointF>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QPainter;

namespace capture {

class OverlayWindow;
class ReadoutPanel;

// The capture overlay: a borderless window over every screen showing a frozen copy of each, on
// which the user drags the band whose pixels go to the image pane. A panel near the pointer
// magnifies the copy and, while a band is dragged, reads out its size and average; Esc backs out.
// Where a window cannot span screens (Wayland), one OverlayWindow per screen shows the copy and
// this one, never shown, keeps the band; positions are the same overlay pixels either way.
class Form2 : public QWidget, private OverlayHost
{
    Q_OBJECT

public:
    // Shows a short message to the user; a seam so tests need no modal box.
    // Shows a message and, behind it, the details (the reason, where known).
    using ShowMessage = std::function<void(const QString &text, const QString &details)>;

    // Sized to the desktop here, once: later captures reuse the overlay as it is. The main window
    // (may be null) owns the default message box and gets the keyboard back after a cancel.
    Form2(QWidget *mainWindow, std::unique_ptr<platform::ScreenSource> source,
        ShowMessage showMessage = {});
    ~Form2() override;

    // The capture command's part: Timer1 on; its tick freezes the screens and shows the overlay.
    void ArmTimer();

    // Esc: the overlay goes and nothing else changes; the main window comes back to the front.
    void Cancel() override;
    // Ctrl+C while a band is dragged: its average as "#RRGGBB" on the clipboard.
    void CopyReadout() override;

    // Whether the overlay is up: this window, or the windows of the screens.
    [[nodiscard]] bool IsShown() const;

    [[nodiscard]] const QTimer &Timer1() const { return timer1; }
    [[nodiscard]] const Band &Shape1() const { return shape1; }
    [[nodiscard]] StartPoint StartPt() const { return startPt; }
    // The first screen's frozen copy (the primary screen's where the source says which it is).
    [[nodiscard]] const QImage &FrozenCopy() const;
    [[nodiscard]] ReadoutPanel &Readout() const { return *panel; }

    static constexpr int kTimerInterval = 100;
    static constexpr const char *kUnreadableScreenText = QT_TR_NOOP("无法读取屏幕内容");

    // Why the screen could not be read, in the desktop's language; empty for None.
    [[nodiscard]] static QString GrabFailureText(platform::ScreenGrabFailure failure);

signals:
    // A release ended the capture, the overlay already hidden: `block` is the part of `pixels`
    // (the band's screen as frozen, in device pixels at ratio 1) under the band, and may be
    // empty. `pixels` may share the frozen copy's memory, which the next capture replaces.
    void BlockCaptured(const QImage &pixels, const QRect &block);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // One screen as frozen: its place on the overlay (logical pixels), its pixels, and the
    // table that gives any block's average in constant time.
    struct FrozenScreen
    {
        QRect area;
        QImage image;
        analysis::SummedAreaTable table;
    };

    void Freeze();
    void FinishFreeze(platform::ScreenGrab grab);
    void ShowWindowPerScreen();
    void HideOverlay();
    // The events and painting of the overlay, in overlay pixels, from whichever window has them.
    void PressAt(QPointF position) override;
    void MoveTo(QPointF position) override;
    void ReleaseAt(QPointF position) override;
    void PaintArea(QPainter &painter, const QRect &dirty) const override;
    void UpdateArea(const QRect &area);
    void UpdateBand(const Band &before);
    void RefreshReadout(QPointF pointer);
    [[nodiscard]] QRect BandOutline(const Band &band) const;
    // The screen containing `point`, else the nearest one; null before the first freeze.
    [[nodiscard]] const FrozenScreen *ScreenNear(QPointF point) const;
    // The screen of the last press, to which the band is held.
    [[nodiscard]] const FrozenScreen *BandScreen() const;
    [[nodiscard]] QPointF HeldToBandScreen(QPointF point) const;
    // The window showing `frozen`, which the readout panel must be a child of to show there.
    [[nodiscard]] QWidget *WindowOf(const FrozenScreen &frozen);

    QWidget *mainWindow = nullptr;
    std::unique_ptr<platform::ScreenSource> source;
    ShowMessage showMessage;

    QTimer timer1 { this };
    Band shape1;
    StartPoint startPt;
    // Where a cancel puts the start point back: as the overlay found it.
    StartPoint startPtAtShow;
    std::vector<FrozenScreen> screens;
    ReadoutPanel *panel = nullptr;
    // A Wayland window can neither be placed nor span screens, and an X11 window has one pixel
    // ratio: one window per screen on Wayland, and on X11 where the screens' ratios differ.
    const bool onWayland;
    bool windowPerScreen = false;
    // Same order as `screens` while the overlay is up.
    std::vector<std::unique_ptr<OverlayWindow>> windows;
};

} // namespace capture
