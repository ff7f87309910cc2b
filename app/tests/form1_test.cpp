#include "app/application.h"
#include "app/main_colour_row.h"
#include "app/tests/form1_fixture.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <map>

namespace {

// Pixels of a length in twips, as the window places its controls.
int Px(const Form1 &window, double twips)
{
    return static_cast<int>(std::nearbyint(twips / window.TwipsPerPixel()));
}

void ShowAndSettle(Form1 &window)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

TEST(Form1Start, ShowsTheInitialState)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    ShowAndSettle(window);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    EXPECT_EQ(window.windowTitle(), "Quillmere");
    EXPECT_EQ(window.size(), QSize(Px(window, 6960), Px(window, 5400)));
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_LE((window.geometry().center() - screen.center()).manhattanLength(), 2)
        << "centred on the screen";

    EXPECT_FALSE(window.PicBox->isVisible());
    EXPECT_FALSE(window.Pane().IsPaneVisible());
    EXPECT_EQ(window.Text1->text(), "#000000");
    EXPECT_EQ(fixture.ShownSwatch(), 0x00FFFFFFu) << "white although the text says black";
    EXPECT_TRUE(window.LbInfo->text().isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), window.FileOpen);

    // The frame shows its own button-face background where the hidden pane would be.
    const QImage frame = window.PicFrame->grab().toImage();
    EXPECT_EQ(frame.pixelColor(frame.width() / 2, frame.height() / 2),
        QApplication::palette().color(QPalette::Button));

    struct Text
    {
        QWidget *control;
        QString text;
    };
    const Text texts[] = {
        { window.FileOpen, "打开文件" },
        { window.ScreenCap, "屏幕截图" },
        { window.Label1, "平均色信息：" },
    };
    for (const Text &t : texts) {
        SCOPED_TRACE(t.control->objectName().toStdString());
        if (auto *button = qobject_cast<QPushButton *>(t.control))
            EXPECT_EQ(button->text(), t.text);
        else
            EXPECT_EQ(qobject_cast<QLabel *>(t.control)->text(), t.text);
    }
    EXPECT_EQ(window.PicBox->toolTip(), "双击选择背景颜色");
}

// The controls keep their designed sizes, so the results must fit them in the font in use: a cut
// third line or a hex text scrolled out of its box is a wrong reading.
TEST(Form1Start, ResultsFitTheirControls)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    ShowAndSettle(window);
    const QString infos[]
        = { "R:255 H:360\nG:255 S:100\nB:255 L:100", "请稍候...100%\n双击这里停止" };
    for (const QString &info : infos) {
        SCOPED_TRACE(info.toStdString());
        const QRect inside = window.LbInfo->contentsRect();
        const QRect needed = QFontMetrics(window.LbInfo->font())
                                 .boundingRect(inside, Qt::AlignLeft | Qt::AlignTop, info);
        EXPECT_TRUE(inside.contains(needed)) << needed.height() << " of " << inside.height();
    }
    const QFontMetrics hex(window.Text1->font());
    const int room = window.Text1->width() - 2 - 4;
    for (const char *text : { "#000000", "#DDDDDD", "#FFFFFF", "#7F7F7F" }) {
        SCOPED_TRACE(text);
        EXPECT_LE(hex.horizontalAdvance(QString::fromLatin1(text)), room);
    }
    EXPECT_GE(window.Text1->font().pointSizeF(), 6.0);
}

TEST(Form1Start, TabVisitsTheButtonsAndTheHexTextOnly)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    ShowAndSettle(window);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const QWidget *expected[] = { window.ScreenCap, window.Text1, window.FileOpen };
    for (const QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

TEST(Form1Start, CarriesTheIconAndVersion)
{
    app::PrepareApplication();
    const QIcon icon = QApplication::windowIcon();
    for (const int size : { 16, 24, 32, 48 }) {
        SCOPED_TRACE(size);
        const QPixmap pixmap = icon.pixmap(QSize(size, size), 1.0);
        EXPECT_EQ(pixmap.size(), QSize(size, size));
        // The tile is opaque in the middle and transparent in the corner.
        const QImage image = pixmap.toImage();
        EXPECT_EQ(image.pixelColor(size / 2, size / 2).alpha(), 255);
        EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
    }
    EXPECT_EQ(QApplication::applicationVersion(), "1.00.0009");
}

// Geometry in twips of every control the layout rule moves, from the rule itself.
struct Expected
{
    double columnLeft, text1Left, frameWidth, frameHeight;
};

// The rule for the window's current client size.
Expected RuleFor(const Form1 &window)
{
    const double width = window.width() * window.TwipsPerPixel();
    return { width - 1575, width - 855, std::max(0.0, width - 1680),
        window.height() * window.TwipsPerPixel() };
}

// Checks every control against the rule for the window's current client size; Tops, the column's
// sizes and the pane never move.
void ExpectLaidOut(const Form1 &window, const Expected &e)
{
    struct Control
    {
        const QWidget *widget;
        double left, top, width, height;
    };
    const Control controls[] = {
        { window.FileOpen, e.columnLeft, 120, 1455, 375 },
        { window.ScreenCap, e.columnLeft, 600, 1455, 375 },
        { window.LblClr, e.columnLeft, 1080, 1455, 375 },
        { window.Label1, e.columnLeft, 1560, 1455, 255 },
        { window.LbInfo, e.columnLeft, 1800, 1455, 615 },
        { window.Text1, e.text1Left, 2400, 735, 270 },
        { window.MainColours, e.columnLeft, 2760, 1455, 540 },
        { window.LblSpace, e.columnLeft, 3360, 1455, 1440 },
        { window.PicFrame, 0, 0, e.frameWidth, e.frameHeight },
    };
    for (const Control &c : controls) {
        SCOPED_TRACE(c.widget->objectName().toStdString());
        EXPECT_EQ(c.widget->geometry(),
            QRect(
                Px(window, c.left), Px(window, c.top), Px(window, c.width), Px(window, c.height)));
    }
}

TEST(Form1Layout, StartSizePutsTheColumnAt5385Twips)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    ShowAndSettle(window);
    // The designed Lefts 5280 and 6120 are never seen.
    ExpectLaidOut(window, { 5385, 6105, 5280, 5400 });
}

TEST(Form1Layout, FollowsEveryResize)
{
    struct Case
    {
        const char *name;
        QSize client; // in twips
    };
    const Case cases[] = {
        { "taller only lengthens the frame", QSize(6960, 9000) },
        { "wider", QSize(12000, 5400) },
        { "exactly the column's width", QSize(1680, 3000) },
        // Below 1680 twips the frame keeps a width of 0 instead of a negative one.
        { "very narrow", QSize(900, 3000) },
    };
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    ShowAndSettle(window);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        window.resize(Px(window, c.client.width()), Px(window, c.client.height()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.PicFrame->height() == window.height(); }));
        ExpectLaidOut(window, RuleFor(window));
    }
}

TEST(Form1Layout, MaximiseStretchesTheFrame)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    ShowAndSettle(window);
    const QSize before = window.size();
    window.showMaximized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.size() != before; }));
    ExpectLaidOut(window, RuleFor(window));
    EXPECT_EQ(window.FileOpen->y(), Px(window, 120)) << "the column stays at the top";
}

TEST(Form1Layout, MinimisedMovesNothingAndRestoringLaysOutAgain)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    ShowAndSettle(window);
    std::map<QString, QRect> before;
    for (QWidget *child : window.findChildren<QWidget *>())
        before[child->objectName()] = child->geometry();

    window.showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isMinimized(); }));
    // A resize that arrives while minimised must not reach the rule.
    window.resize(Px(window, 3000), Px(window, 2000));
    QCoreApplication::processEvents();
    for (QWidget *child : window.findChildren<QWidget *>()) {
        SCOPED_TRACE(child->objectName().toStdString());
        EXPECT_EQ(child->geometry(), before[child->objectName()]);
    }

    window.showNormal();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isMinimized(); }));
    ExpectLaidOut(window, RuleFor(window));
}

// A picture larger than the frame: only its top-left part shows, the raster keeps all of it.
TEST(Form1Layout, FrameShowsTheTopLeftOfABigPicture)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    ShowAndSettle(window);
    QImage picture(2000, 1500, QImage::Format_RGB32);
    picture.fill(qRgb(0, 0, 200));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            picture.setPixel(x, y, qRgb(250, 10, 10));
    window.Pane().SetPaneVisible(true);
    window.Pane().SetPicture(picture);
    window.Pane().SetSize(2000, 1500);

    const QRect inner = window.PicFrame->contentsRect();
    EXPECT_LT(inner.width(), window.PicFrame->width());
    EXPECT_EQ(window.Pane().Raster().size(), QSize(2000, 1500));
    const QImage shown = window.grab().toImage();
    // The grab is in device pixels; the positions below are the window's logical ones.
    const auto at = [&shown](QPoint p) { return shown.pixel(p * shown.devicePixelRatio()); };
    const QPoint origin = window.PicFrame->geometry().topLeft() + inner.topLeft();
    EXPECT_EQ(at(origin + QPoint(1, 1)), qRgb(250, 10, 10)) << "top-left at the inner edge";
    EXPECT_EQ(at(origin + QPoint(20, 20)), qRgb(0, 0, 200));
    // One raster pixel is one device pixel, also where Qt scales the window: the red block is
    // 10 device pixels wide.
    const QPoint device = origin * shown.devicePixelRatio();
    EXPECT_EQ(shown.pixel(device + QPoint(8, 8)), qRgb(250, 10, 10));
    EXPECT_EQ(shown.pixel(device + QPoint(12, 12)), qRgb(0, 0, 200));
    // The frame's border is not painted over by the pane.
    EXPECT_NE(at(window.PicFrame->geometry().bottomRight()), qRgb(0, 0, 200));
    // The column beside the frame stays clear of the picture.
    EXPECT_NE(at(QPoint(window.FileOpen->geometry().left() - 2, 300)), qRgb(0, 0, 200));
}

TEST(Form1Close, ClosingEndsTheProgram)
{
    Form1Fixture fixture;
    ShowAndSettle(fixture.Window());
    fixture.Window().close();
    EXPECT_EQ(fixture.endRequests, 1);
    EXPECT_FALSE(fixture.endedWhileCalculating);
}

TEST(Form1Close, ClosingDuringAScanEndsTheProgramFromTheYield)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    ShowAndSettle(window);
    window.Pane().SetSize(1000, 1000);
    QTimer::singleShot(0, &window, [&window] { window.close(); });
    window.CalcColor();
    EXPECT_EQ(fixture.endRequests, 1);
    EXPECT_TRUE(fixture.endedWhileCalculating);
}

// A screen of one colour, read at once as on X11.
class OneColourScreen : public platform::ScreenSource
{
public:
    void GrabScreens(GrabScreensDone done) override
    {
        QImage screen(320, 240, QImage::Format_RGB32);
        screen.fill(qRgb(10, 200, 30));
        done({ { { QRect(0, 0, 320, 240), screen } } });
    }
};

// The real end: the process is gone before anything that was running could go on. With the
// threadsafe style each case runs in a fresh copy of this test program.
TEST(Form1CloseDeathTest, TheProcessEndsInsideAScanAndWithTheOverlayAlive)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Form1 window;
            window.show();
            window.Pane().SetSize(1000, 1000);
            QTimer::singleShot(0, &window, [&window] { window.close(); });
            window.CalcColor();
            std::fprintf(stderr, "the scan finished after the window closed\n");
            std::abort();
        },
        testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            Form1::Seams seams;
            seams.createScreenSource = [] { return std::make_unique<OneColourScreen>(); };
            Form1 window(seams);
            window.show();
            window.ScreenCap->click();
            if (!WaitForShownOverlay())
                std::abort();
            window.close();
            std::fprintf(stderr, "the program went on after the window closed\n");
            std::abort();
        },
        testing::ExitedWithCode(0), "");
}

} // namespace
