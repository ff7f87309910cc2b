#include "capture/tests/capture_fixture.h"

#include "capture/release_steps.h"

#include <QTest>

namespace capture::testing {

QImage NumberedScreen(int width, int height, qreal ratio)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x & 0xFF, y & 0xFF, ((x >> 8) << 4 | (y >> 8)) & 0xFF));
    image.setDevicePixelRatio(ratio);
    return image;
}

std::string OverlayMismatches(QWidget &overlay, const QImage &expected)
{
    const QImage shown = overlay.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (shown.size() != expected.size())
        return "size differs";
    const QWidget *panel = overlay.findChild<QWidget *>(QStringLiteral("ReadoutPanel"));
    // grab() is in device pixels; the panel's geometry in logical ones.
    const qreal ratio = shown.devicePixelRatio();
    const QRect skipped = panel && panel->isVisible()
        ? QRectF(QPointF(panel->pos()) * ratio, QSizeF(panel->size()) * ratio).toAlignedRect()
        : QRect();
    int count = 0;
    std::string first;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            if (!skipped.contains(x, y) && shown.pixel(x, y) != expected.pixel(x, y)
                && count++ == 0)
                first = " first at " + std::to_string(x) + "," + std::to_string(y);
    return std::to_string(count) + first;
}

CaptureFixture::CaptureFixture(QWidget *mainWindow)
    : capture(
        mainWindow,
        [this] {
            ++sourcesCreated;
            return std::make_unique<FakeScreenSource>(screen);
        },
        [this](const QString &text, const QString &details) {
            messages.push_back(text);
            messageDetails.push_back(details);
        })
{
    QObject::connect(
        &capture, &ScreenCapture::BlockCaptured, [this](const QImage &pixels, const QRect &block) {
            ShowBlock(pane, pixels, block);
            ++analyses;
            overlayShownAtAnalysis = capture.Overlay() && capture.Overlay()->isVisible();
            paneShownAtAnalysis = pane.IsPaneVisible();
            bandShownAtAnalysis = capture.Overlay() && capture.Overlay()->Shape1().Visible;
            scanner.CalcColor(
                pane, [] {}, *this);
        });
}

bool CaptureFixture::CaptureAndWaitForOverlay()
{
    capture.Run();
    return QTest::qWaitFor([this] { return capture.Overlay()->isVisible(); }, 5000);
}

void CaptureFixture::Drag(QPoint from, QPoint to, Qt::MouseButton button)
{
    Form2 *overlay = capture.Overlay();
    QTest::mousePress(overlay, button, Qt::NoModifier, from);
    QTest::mouseMove(overlay, (from + to) / 2);
    QTest::mouseRelease(overlay, button, Qt::NoModifier, to);
}

std::string CaptureFixture::PaneMismatches(const QImage &screenImage, QPoint origin) const
{
    int count = 0;
    std::string first;
    const QImage &raster = pane.Raster();
    for (int y = 0; y < raster.height(); ++y)
        for (int x = 0; x < raster.width(); ++x) {
            const QRgb want = screenImage.pixel(origin.x() + x, origin.y() + y);
            const analysis::ColourValue bgr
                = analysis::MakeColour(qRed(want), qGreen(want), qBlue(want));
            if (pane.ReadPixel(x, y) != bgr && count++ == 0)
                first = " first at " + std::to_string(x) + "," + std::to_string(y);
        }
    return std::to_string(count) + first;
}

} // namespace capture::testing
