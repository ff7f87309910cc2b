#pragma once

#include "capture/overlay_host.h"

#include <QRect>
#include <QWidget>

namespace capture {

// What every overlay window is: borderless, above the rest, without a shadow.
inline constexpr Qt::WindowFlags kOverlayWindowFlags
    = Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint;

// Sets up a window that shows a frozen copy: it paints every pixel itself, shows a crosshair,
// follows the pointer without a button held (band and magnifier move with it), takes Esc from
// the keyboard, and does not keep the program alive once the main window is closed.
void PrepareOverlaySurface(QWidget &window);

// One screen's part of the overlay where a window can neither be placed nor span screens
// (Wayland), or where one window cannot show screens of different pixel ratios (X11 with
// per-screen scales): full screen on its own screen, it paints that screen's frozen copy and
// hands every pointer and key event to its host (Form2) in overlay pixels.
class OverlayWindow : public QWidget
{
    Q_OBJECT

public:
    explicit OverlayWindow(OverlayHost &owner);

    // Where this window's screen lies on the overlay, in logical pixels.
    void SetArea(const QRect &overlayArea);
    [[nodiscard]] const QRect &Area() const { return area; }

    // Repaints the part of `overlayArea` (overlay pixels) that lies on this window.
    void UpdateArea(const QRect &overlayArea);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    [[nodiscard]] QPointF ToOverlay(QPointF position) const;

    OverlayHost &owner;
    QRect area;
};

} // namespace capture
