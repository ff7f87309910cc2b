#pragma once

#include "capture/band_geometry.h"
#include "platform/screen_source.h"

#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace platform {
class PicBox;
}

namespace capture {

// The capture overlay: a borderless window over the whole screen showing a frozen copy of it, on
// which the user drags the band whose pixels go to the image pane.
class Form2 : public QWidget
{
    Q_OBJECT

public:
    // Shows a short message to the user; a seam so tests need no modal box.
    using ShowMessage = std::function<void(const QString &text)>;

    // Sized to the primary screen here, once: later captures reuse the overlay as it is.
    Form2(platform::PicBox &pane, std::function<void()> calcColor,
        std::unique_ptr<platform::ScreenSource> source, ShowMessage showMessage = {});
    ~Form2() override;

    // The capture command's part: Timer1 on; its tick freezes the screen and shows the overlay.
    void ArmTimer();

    [[nodiscard]] const QTimer &Timer1() const { return timer1; }
    [[nodiscard]] const Band &Shape1() const { return shape1; }
    [[nodiscard]] StartPoint StartPt() const { return startPt; }
    [[nodiscard]] const QImage &FrozenCopy() const { return frozen; }

    static constexpr int kTimerInterval = 100;
    static const QString kUnreadableScreenText;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void Freeze();
    void FinishFreeze(QImage screen);
    void UpdateBand(const Band &before);
    [[nodiscard]] QRect BandOutline(const Band &band) const;

    platform::PicBox &pane;
    std::function<void()> calcColor;
    std::unique_ptr<platform::ScreenSource> source;
    ShowMessage showMessage;

    QTimer timer1 { this };
    Band shape1;
    StartPoint startPt;
    QImage frozen;
};

} // namespace capture
