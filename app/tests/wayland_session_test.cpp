// The program's screen capture on a real Wayland desktop: run by wayland_session.sh inside
// headless sway, with xdg-desktop-portal-wlr (grim) behind the portal and the pointer moved and
// clicked through the compositor. The screen is sway's #336699 background with the main window
// and one window of a known colour floating on it; a second output, where there is one, is
// #996633 and at scale 1.
#include "app/application.h"
#include "app/form1.h"
#include "capture/form2.h"
#include "capture/readout_panel.h"
#include "platform/pic_box.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr QRgb kBackground = qRgb(0x33, 0x66, 0x99);
constexpr QRgb kSecondBackground = qRgb(0x99, 0x66, 0x33);
constexpr QRgb kMarker = qRgb(0xCC, 0x33, 0x00);
const QString kMarkerTitle = QStringLiteral("quillmere marker");

// The pointer of the session, moved by the compositor itself (a virtual pointer device).
class Pointer
{
public:
    explicit Pointer(QSize layout)
    {
        process.start(QString::fromLocal8Bit(std::getenv("QUILLMERE_VIRTUAL_POINTER")),
            { QString::number(layout.width()), QString::number(layout.height()) });
    }

    ~Pointer()
    {
        process.closeWriteChannel();
        if (!process.waitForFinished(5000))
            process.kill();
    }

    // Layout (logical) pixels. Each returns once the compositor has taken the event.
    bool Move(QPoint at) { return Send(QStringLiteral("move %1 %2").arg(at.x()).arg(at.y())); }
    bool Press() { return Send(QStringLiteral("press")); }
    bool Release() { return Send(QStringLiteral("release")); }

private:
    bool Send(const QString &command)
    {
        process.write((command + QLatin1Char('\n')).toUtf8());
        // The program's own event loop keeps running meanwhile, so it sees the events arrive.
        return QTest::qWaitFor(
            [this] {
                return process.canReadLine()
                    && process.readLine().trimmed() == QByteArrayLiteral("ok");
            },
            10000);
    }

    QProcess process;
};

// The places on the desktop (logical pixels) of the windows in sway's tree that `match` accepts,
// sorted by position.
template <typename Match> std::vector<QRect> FindSwayWindows(Match &&match)
{
    QProcess swaymsg;
    swaymsg.start(QStringLiteral("swaymsg"),
        { QStringLiteral("-r"), QStringLiteral("-t"), QStringLiteral("get_tree") });
    if (!swaymsg.waitForFinished(10000))
        return {};
    std::vector<QRect> found;
    std::vector<QJsonObject> nodes {
        QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object()
    };
    while (!nodes.empty()) {
        const QJsonObject node = nodes.back();
        nodes.pop_back();
        if (node.value(QStringLiteral("type")).toString() != QLatin1String("output")
            && node.contains(QStringLiteral("pid")) && match(node)) {
            const QJsonObject rect = node.value(QStringLiteral("rect")).toObject();
            found.emplace_back(rect.value(QStringLiteral("x")).toInt(),
                rect.value(QStringLiteral("y")).toInt(),
                rect.value(QStringLiteral("width")).toInt(),
                rect.value(QStringLiteral("height")).toInt());
        }
        for (const char *key : { "nodes", "floating_nodes" })
            for (const QJsonValue child : node.value(QLatin1String(key)).toArray())
                nodes.push_back(child.toObject());
    }
    std::sort(found.begin(), found.end(), [](const QRect &a, const QRect &b) {
        return std::pair(a.x(), a.y()) < std::pair(b.x(), b.y());
    });
    return found;
}

QRect SwayWindowRect(const QString &title)
{
    const std::vector<QRect> found = FindSwayWindows([&title](const QJsonObject &node) {
        return node.value(QStringLiteral("name")).toString() == title;
    });
    return found.empty() ? QRect() : found.front();
}

// The windows sway shows full-screen.
std::vector<QRect> SwayFullScreenRects()
{
    return FindSwayWindows([](const QJsonObject &node) {
        return node.value(QStringLiteral("fullscreen_mode")).toInt() == 1;
    });
}

// Every output's place, sorted as sway's windows are.
std::vector<QRect> OutputRects()
{
    std::vector<QRect> rects;
    for (const QScreen *output : QGuiApplication::screens())
        rects.push_back(output->geometry());
    std::sort(rects.begin(), rects.end(), [](const QRect &a, const QRect &b) {
        return std::pair(a.x(), a.y()) < std::pair(b.x(), b.y());
    });
    return rects;
}

// The colour of the screen at a point of the layout (logical pixels), as grim reads it.
QRgb ScreenPixel(QPoint at)
{
    QProcess grim;
    grim.start(QStringLiteral("grim"),
        { QStringLiteral("-g"), QStringLiteral("%1,%2 1x1").arg(at.x()).arg(at.y()),
            QStringLiteral("-t"), QStringLiteral("ppm"), QStringLiteral("-") });
    if (!grim.waitForFinished(10000))
        return 0;
    const QByteArray ppm = grim.readAllStandardOutput();
    if (ppm.size() < 3)
        return 0;
    const auto *rgb = reinterpret_cast<const unsigned char *>(ppm.constData() + ppm.size() - 3);
    return qRgb(rgb[0], rgb[1], rgb[2]);
}

// What the screen shows in `area` (logical pixels), at grim's scale.
QImage ScreenRegion(const QRect &area)
{
    QProcess grim;
    grim.start(QStringLiteral("grim"),
        { QStringLiteral("-g"),
            QStringLiteral("%1,%2 %3x%4")
                .arg(area.x())
                .arg(area.y())
                .arg(area.width())
                .arg(area.height()),
            QStringLiteral("-t"), QStringLiteral("ppm"), QStringLiteral("-") });
    if (!grim.waitForFinished(10000))
        return {};
    return QImage::fromData(grim.readAllStandardOutput(), "PPM");
}

class WaylandCapture : public testing::Test
{
protected:
    static void SetUpTestSuite() { app::PrepareApplication(); }

    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("wayland"))
            << "run inside wayland_session.sh";
        screen = QGuiApplication::primaryScreen();
        ASSERT_NE(screen, nullptr);
        scale = screen->devicePixelRatio();

        // The main window, floated by sway at the middle of the screen.
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 10000));
        ASSERT_TRUE(QTest::qWaitFor(
            [this] {
                windowRect = SwayWindowRect(window.windowTitle());
                return windowRect.size() == window.size();
            },
            10000))
            << "sway did not float the main window";

        // A window of a known colour, floated by sway to the left edge, below the middle.
        marker.setWindowTitle(kMarkerTitle);
        marker.setWindowFlag(Qt::FramelessWindowHint);
        marker.setFixedSize(200, 100);
        marker.setAutoFillBackground(true);
        QPalette palette = marker.palette();
        palette.setColor(QPalette::Window, QColor(kMarker));
        marker.setPalette(palette);
        marker.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&marker, 10000));
        ASSERT_TRUE(QTest::qWaitFor(
            [this] {
                markerRect = SwayWindowRect(kMarkerTitle);
                return markerRect == QRect(0, 412, 200, 100);
            },
            10000))
            << "sway did not place the marker window";
        // On screen, not only mapped: the portal's picture must show both windows.
        const QPoint probe = markerRect.topLeft() + QPoint(10, 10);
        ASSERT_TRUE(QTest::qWaitFor([probe] { return ScreenPixel(probe) == kMarker; }, 10000));
        const QPoint inWindow = windowRect.topLeft() + QPoint(2, 2);
        ASSERT_TRUE(
            QTest::qWaitFor([inWindow] { return ScreenPixel(inWindow) != kBackground; }, 10000));
    }

    // A click on "屏幕截图" and a drag from `from` to `to` (logical), all with the real pointer.
    void CaptureAndDrag(QPoint from, QPoint to)
    {
        ASSERT_FALSE(QRect(from, to).normalized().intersects(windowRect))
            << "the drag would cover the main window";
        const QString before = window.Text1->text();
        // The virtual pointer's grid covers the whole layout, every output.
        Pointer pointer(screen->virtualGeometry().size());
        const QPoint button = windowRect.topLeft()
            + window.ScreenCap->mapTo(&window, window.ScreenCap->rect().center());
        int clicks = 0;
        const QMetaObject::Connection counting
            = QObject::connect(window.ScreenCap, &QPushButton::clicked, [&clicks] { ++clicks; });
        ASSERT_TRUE(Hover(pointer, button, window.ScreenCap));
        ASSERT_TRUE(pointer.Press());
        ASSERT_TRUE(pointer.Release());

        ASSERT_TRUE(QTest::qWaitFor(
            [this] {
                form2 = FindOverlay();
                return form2 && form2->IsShown();
            },
            10000))
            << "the overlay was not shown; clicks on the button: " << clicks
            << ", messages: " << messages.size() << " "
            << (messages.empty() ? std::string() : messages.back().toStdString());
        QObject::disconnect(counting);
        // One window full screen on each output, through the compositor, each of its output's
        // size: the windows' origins are the outputs'.
        std::vector<QWidget *> windows;
        ASSERT_TRUE(QTest::qWaitFor(
            [&windows] {
                windows = OverlayWindows();
                return qsizetype(windows.size()) == QGuiApplication::screens().size()
                    && std::all_of(windows.begin(), windows.end(),
                        [](const QWidget *w) {
                            return w->windowHandle()->isExposed()
                                && w->size() == w->screen()->geometry().size();
                        })
                    && SwayFullScreenRects() == OutputRects();
            },
            10000))
            << windows.size() << " overlay windows, " << SwayFullScreenRects().size()
            << " full-screen in sway";
        // Esc needs one of them to have the keyboard.
        ASSERT_TRUE(QTest::qWaitFor(
            [] {
                const QWidget *active = QApplication::activeWindow();
                return active && active->objectName() == QLatin1String("OverlayWindow");
            },
            10000))
            << "no overlay window has the keyboard";

        QWidget *pressed = WindowAt(windows, from);
        ASSERT_NE(pressed, nullptr) << "no overlay window where the drag starts";
        ASSERT_TRUE(Hover(pointer, from, pressed));
        ASSERT_TRUE(pointer.Press());
        ASSERT_TRUE(pointer.Move((from + to) / 2));
        ASSERT_TRUE(pointer.Move(to));
        // The band is drawn where it is, on the output where it was pressed: its top edge, dashes
        // of black over white.
        const QRect band = QRect(from, to).normalized().intersected(pressed->screen()->geometry());
        const QRect topEdge(band.left() + 2, band.top(), std::min(20, band.width() - 4), 1);
        EXPECT_TRUE(QTest::qWaitFor(
            [&topEdge] {
                const QImage shown = ScreenRegion(topEdge);
                for (int y = 0; y < shown.height(); ++y)
                    for (int x = 0; x < shown.width(); ++x)
                        if (const QRgb p = shown.pixel(x, y) & 0xFFFFFF; p == 0 || p == 0xFFFFFF)
                            return true;
                return false;
            },
            10000))
            << "no band on the screen at " << topEdge.x() << "," << topEdge.y();
        // The readout stays with the band, on the output where it was pressed.
        EXPECT_TRUE(QTest::qWaitFor(
            [this, pressed] {
                return form2->Readout().window() == pressed && form2->Readout().isVisible();
            },
            10000))
            << "the readout panel is not on the output of the band";
        ASSERT_TRUE(pointer.Release());
        ASSERT_TRUE(QTest::qWaitFor([this] { return !form2->IsShown(); }, 10000))
            << "the release did not reach the overlay";
        ASSERT_TRUE(QTest::qWaitFor(
            [this, &before] {
                return window.Text1->text() != before && !window.Scanner().IsCalculating();
            },
            10000))
            << "no analysis after the release";
        // The wlr portal's picture file, removed once read.
        EXPECT_FALSE(QFile::exists(QStringLiteral("/tmp/out.png")));
    }

    // Moves the pointer to `at` and waits until `widget` knows the pointer is over it. A busy
    // compositor may still be settling a newly mapped window and not yet give it the pointer; a
    // press then would go nowhere, so the pointer is moved again (a person's hand is never still).
    // Only the pointer's arrival counts: a window hidden under the pointer and shown again still
    // believes the pointer is over it.
    static bool Hover(Pointer &pointer, QPoint at, QWidget *widget)
    {
        struct Arrival : QObject
        {
            bool eventFilter(QObject *, QEvent *event) override
            {
                const QEvent::Type type = event->type();
                arrived = arrived || type == QEvent::Enter || type == QEvent::MouseMove
                    || type == QEvent::HoverEnter || type == QEvent::HoverMove;
                return false;
            }
            bool arrived = false;
        } arrival;
        widget->installEventFilter(&arrival);
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (attempt > 0 && !pointer.Move(at + QPoint(1, 0)))
                break;
            if (!pointer.Move(at))
                break;
            if (QTest::qWaitFor([&] { return arrival.arrived && widget->underMouse(); }, 1000)) {
                widget->removeEventFilter(&arrival);
                return true;
            }
        }
        widget->removeEventFilter(&arrival);
        return false;
    }

    // The overlay is a top-level window of its own, not a child of the main window.
    static capture::Form2 *FindOverlay()
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *overlay = qobject_cast<capture::Form2 *>(widget))
                return overlay;
        return nullptr;
    }

    // The shown windows of the overlay, one per output on Wayland.
    static std::vector<QWidget *> OverlayWindows()
    {
        std::vector<QWidget *> found;
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->objectName() == QLatin1String("OverlayWindow") && widget->isVisible())
                found.push_back(widget);
        return found;
    }

    static QWidget *WindowAt(const std::vector<QWidget *> &windows, QPoint at)
    {
        for (QWidget *window : windows)
            if (window->screen()->geometry().contains(at))
                return window;
        return nullptr;
    }

    // Pane pixels that are not `expected(x)` for column x (device pixels): count and first one.
    template <typename Expected> std::string PaneMismatches(Expected &&expected) const
    {
        int count = 0;
        std::string first;
        const QImage &raster = pane().Raster();
        for (int y = 0; y < raster.height(); ++y)
            for (int x = 0; x < raster.width(); ++x)
                if (raster.pixel(x, y) != expected(x) && count++ == 0)
                    first = " first at " + std::to_string(x) + "," + std::to_string(y);
        return std::to_string(count) + first;
    }

    [[nodiscard]] const platform::PicBox &pane() const { return *window.PicBox; }

    static Form1::Seams TestSeams(std::vector<QString> &messages)
    {
        Form1::Seams seams;
        seams.showError = [&messages](QWidget *, const QString &text, const QString &) {
            messages.push_back(text);
        };
        // Closing is not part of these tests; the process must end through gtest.
        seams.endProgram = [] {};
        return seams;
    }

    QScreen *screen = nullptr;
    qreal scale = 1.0;
    std::vector<QString> messages;
    Form1 window { TestSeams(messages) };
    QRect windowRect;
    QWidget marker;
    QRect markerRect;
    capture::Form2 *form2 = nullptr;
};

TEST_F(WaylandCapture, ADragOverTheBackgroundGivesItsColour)
{
    ASSERT_NO_FATAL_FAILURE(CaptureAndDrag(QPoint(10, 10), QPoint(110, 60)));
    EXPECT_TRUE(messages.empty()) << messages.front().toStdString();
    const QImage &frozen = form2->FrozenCopy();
    EXPECT_EQ(frozen.size(), screen->geometry().size() * scale);
    EXPECT_DOUBLE_EQ(frozen.devicePixelRatio(), scale);

    EXPECT_EQ(pane().Raster().size(), QSize(100, 50) * scale);
    EXPECT_EQ(PaneMismatches([](int) { return kBackground; }), "0");
    EXPECT_EQ(window.Text1->text(), QStringLiteral("#336699"));
}

TEST_F(WaylandCapture, PointerPositionsFindThePixelsUnderThem)
{
    // From 60 pixels left of the marker's right edge to 40 right of it, inside its height; drawn
    // up and to the left, then again down and to the right, with the overlay reused.
    const QPoint a = QPoint(markerRect.right() + 1 - 60, markerRect.top() + 20);
    const QPoint b = QPoint(markerRect.right() + 1 + 40, markerRect.top() + 70);
    const int edge = static_cast<int>(60 * scale);
    const auto expected = [edge](int x) { return x < edge ? kMarker : kBackground; };
    // 60 columns of the marker and 40 of background, means truncated.
    const auto mean
        = [](int marker, int background) { return (60 * marker + 40 * background) / 100; };
    const QString hex = QStringLiteral("#%1%2%3")
                            .arg(mean(0xCC, 0x33), 2, 16, QLatin1Char('0'))
                            .arg(mean(0x33, 0x66), 2, 16, QLatin1Char('0'))
                            .arg(mean(0x00, 0x99), 2, 16, QLatin1Char('0'))
                            .toUpper();
    for (const auto &[from, to] : { std::pair(b, a), std::pair(a, b) }) {
        SCOPED_TRACE(from.x() < to.x() ? "down-right" : "up-left");
        window.Text1->clear();
        ASSERT_NO_FATAL_FAILURE(CaptureAndDrag(from, to));
        EXPECT_EQ(pane().Raster().size(), QSize(100, 50) * scale);
        EXPECT_EQ(PaneMismatches(expected), "0");
        EXPECT_EQ(window.Text1->text(), hex);
    }
    EXPECT_TRUE(messages.empty());
}

// Run with two outputs: the first copy is the primary output's part of the portal's picture of the
// whole desktop.
TEST_F(WaylandCapture, WithTwoOutputsTheCopyIsThePrimaryOutputsPart)
{
    if (QGuiApplication::screens().size() < 2)
        GTEST_SKIP() << "a session with one output";
    ASSERT_NO_FATAL_FAILURE(CaptureAndDrag(QPoint(10, 10), QPoint(110, 60)));
    EXPECT_TRUE(messages.empty());
    const QImage &frozen = form2->FrozenCopy();
    EXPECT_EQ(frozen.size(), screen->geometry().size() * scale);
    // Only this output's background, the marker and the main window; never the other output's
    // #996633 (sampled on a grid).
    int others = 0;
    for (int y = 0; y < frozen.height(); y += 7)
        for (int x = 0; x < frozen.width(); x += 7)
            others += frozen.pixel(x, y) == qRgb(0x99, 0x66, 0x33);
    EXPECT_EQ(others, 0) << "pixels of the other output in the copy";
    EXPECT_EQ(window.Text1->text(), QStringLiteral("#336699"));
}

// Run with two outputs, the second at scale 1 whatever the first's (wlr's picture then has the
// first's scale throughout): a band on the second output is that output's pixels at its own
// scale, held to its edges when dragged onto the first.
TEST_F(WaylandCapture, WithTwoOutputsABandOnTheSecondIsItsPixelsAtItsScale)
{
    if (QGuiApplication::screens().size() < 2)
        GTEST_SKIP() << "a session with one output";
    const QScreen *second = QGuiApplication::screens().at(1);
    ASSERT_EQ(second->geometry(), QRect(1280, 0, 800, 600)) << "as wayland_session.sh sets it";
    const qreal ratio = second->devicePixelRatio();
    const QPoint origin = second->geometry().topLeft();
    struct Case
    {
        const char *what;
        QPoint from, to;
        QSize logical; // of the band
        bool inside; // wholly inside the output, away from its edges
    };
    const Case cases[] = {
        { "down-right", origin + QPoint(100, 100), origin + QPoint(300, 200), QSize(200, 100),
            true },
        { "up-left", origin + QPoint(700, 500), origin + QPoint(450, 350), QSize(250, 150), true },
        { "onto the first output", origin + QPoint(100, 300), origin + QPoint(-150, 350),
            QSize(100, 50), false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        window.Text1->clear();
        ASSERT_NO_FATAL_FAILURE(CaptureAndDrag(c.from, c.to));
        EXPECT_EQ(pane().Raster().size(), c.logical * ratio);
        // grim blends the outermost pixels of a scaled output with their neighbours, a step or
        // two per channel; anything of the first output is far off.
        int far = 0;
        const QImage &raster = pane().Raster();
        for (int y = 0; y < raster.height(); ++y)
            for (int x = 0; x < raster.width(); ++x) {
                const QRgb pixel = raster.pixel(x, y);
                far += std::abs(qRed(pixel) - qRed(kSecondBackground)) > 3
                    || std::abs(qGreen(pixel) - qGreen(kSecondBackground)) > 3
                    || std::abs(qBlue(pixel) - qBlue(kSecondBackground)) > 3;
            }
        EXPECT_EQ(far, 0) << "pixels not of the second output";
        if (c.inside) {
            EXPECT_EQ(window.Text1->text(), QStringLiteral("#996633"));
        }
    }
    EXPECT_TRUE(messages.empty());
}

} // namespace
