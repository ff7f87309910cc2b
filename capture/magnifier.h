#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

namespace capture {

// The frozen pixels around the pointer, each drawn as a square of kZoom logical pixels, with the
// pixel under the pointer outlined so a band's corner can be put on an exact pixel.
class Magnifier : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kZoom = 8;
    // Pixels shown each way; odd, so one of them sits in the middle.
    static constexpr int kSpan = 15;

    explicit Magnifier(QWidget *parent = nullptr);

    // Shows the pixels of `picture` around `centre` (its own pixels); parts beyond the picture
    // show black.
    void ShowAround(const QImage &picture, QPoint centre);

    [[nodiscard]] QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage view;
};

} // namespace capture
