#include "capture/form2.h"

#include "capture/tests/capture_fixture.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace capture {
namespace {

    using testing::CaptureFixture;
    using testing::NumberedScreen;

    QSize ScreenSize() { return QGuiApplication::primaryScreen()->geometry().size(); }

    // Records, at the moment the overlay is shown, what the freeze had done before it.
    class ShowWatcher : public QObject
    {
    public:
        explicit ShowWatcher(Form2 *overlay)
            : overlay(overlay)
        {
            overlay->installEventFilter(this);
        }
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Show) {
                ++shows;
                timerOnAtShow = overlay->Timer1().isActive();
                frozenAtShow = overlay->FrozenCopy();
            }
            return false;
        }
        Form2 *overlay;
        int shows = 0;
        bool timerOnAtShow = true;
        QImage frozenAtShow;
    };

    TEST(Form2, CommandArmsTheOneShotTimerAndTheTickFreezesBeforeShowing)
    {
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        f.capture.Run();
        Form2 *overlay = f.capture.Overlay();
        ASSERT_NE(overlay, nullptr);
        ShowWatcher watcher(overlay);
        // Armed: nothing read or shown yet, and the overlay already covers the screen.
        EXPECT_TRUE(overlay->Timer1().isActive());
        EXPECT_TRUE(overlay->Timer1().isSingleShot());
        EXPECT_EQ(overlay->Timer1().interval(), 100);
        EXPECT_EQ(f.screen->grabs, 0);
        EXPECT_FALSE(overlay->isVisible());
        EXPECT_EQ(overlay->geometry(), QGuiApplication::primaryScreen()->geometry());

        ASSERT_TRUE(QTest::qWaitFor([&] { return overlay->isVisible(); }, 5000));
        EXPECT_EQ(f.screen->grabs, 1);
        EXPECT_EQ(watcher.shows, 1);
        EXPECT_FALSE(watcher.timerOnAtShow);
        EXPECT_EQ(watcher.frozenAtShow, f.screen->image);
        EXPECT_EQ(overlay->geometry(), QGuiApplication::primaryScreen()->geometry());
        EXPECT_TRUE(overlay->windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_TRUE(overlay->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        EXPECT_EQ(overlay->cursor().shape(), Qt::CrossCursor);
        // The overlay shows the frozen copy edge to edge.
        EXPECT_EQ(testing::OverlayMismatches(*overlay, f.screen->image), "0");
        EXPECT_EQ(f.analyses, 0);
    }

    struct DragCase
    {
        const char *what;
        QPoint from, to;
        Qt::MouseButton button;
        QRect copied;
    };

    void PrintTo(const DragCase &c, std::ostream *out) { *out << c.what; }

    class Form2Drag : public ::testing::TestWithParam<DragCase>
    {
    };

    TEST_P(Form2Drag, CopiesTheBlockUnderTheBandIntoThePane)
    {
        const DragCase &c = GetParam();
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        // A picture opened earlier must not show through anywhere.
        f.pane.SetPicture(NumberedScreen(300, 300).mirrored());
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        f.Drag(c.from, c.to, c.button);

        EXPECT_EQ(f.analyses, 1);
        EXPECT_FALSE(f.overlayShownAtAnalysis);
        EXPECT_FALSE(f.bandShownAtAnalysis);
        EXPECT_TRUE(f.paneShownAtAnalysis);
        EXPECT_FALSE(f.capture.Overlay()->isVisible());
        EXPECT_EQ(f.pane.Width(), c.copied.width());
        EXPECT_EQ(f.pane.Height(), c.copied.height());
        EXPECT_EQ(f.pane.Raster().size(), c.copied.size());
        EXPECT_EQ(f.PaneMismatches(f.screen->image, c.copied.topLeft()), "0");
        EXPECT_EQ(f.capture.Overlay()->StartPt().X, c.from.x());
        EXPECT_EQ(f.capture.Overlay()->StartPt().Y, c.from.y());
    }

    // Both directions give columns 10..19 and rows 10..14: the larger end is never copied.
    INSTANTIATE_TEST_SUITE_P(Directions, Form2Drag,
        ::testing::Values(
            DragCase { "down_right", { 10, 10 }, { 20, 15 }, Qt::LeftButton, QRect(10, 10, 10, 5) },
            DragCase { "up_left", { 20, 15 }, { 10, 10 }, Qt::LeftButton, QRect(10, 10, 10, 5) },
            DragCase { "right_button", { 30, 4 }, { 3, 40 }, Qt::RightButton, QRect(3, 4, 27, 36) },
            // QTest reads a press at (0, 0) as "the widget's centre", so none is made there.
            DragCase {
                "middle_button", { 1, 2 }, { 64, 48 }, Qt::MiddleButton, QRect(1, 2, 63, 46) }),
        [](const auto &info) { return std::string(info.param.what); });

    TEST(Form2, PressAndReleaseAtOnePointGiveAnEmptyPaneAndTheEmptyResults)
    {
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        f.hexText = "#ABCDEF";
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        QTest::mousePress(f.capture.Overlay(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
        QTest::mouseRelease(f.capture.Overlay(), Qt::LeftButton, Qt::NoModifier, QPoint(50, 60));
        EXPECT_EQ(f.analyses, 1);
        EXPECT_EQ(f.pane.Width(), 0);
        EXPECT_EQ(f.pane.Height(), 0);
        EXPECT_TRUE(f.pane.Raster().isNull() || f.pane.Raster().size().isEmpty());
        EXPECT_TRUE(f.pane.IsPaneVisible());
        EXPECT_FALSE(f.capture.Overlay()->isVisible());
        // No pixel read: means of zero, as the analysis shows an empty pane.
        EXPECT_EQ(f.hexText, "#000000");
        EXPECT_EQ(f.swatch, 0u);
        EXPECT_EQ(f.infoText.rfind("R:0 ", 0), 0u) << f.infoText;
    }

    TEST(Form2, ReleaseWithoutPressSpansFromTheLastStartPoint)
    {
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        struct Step
        {
            const char *what;
            bool press;
            QPoint pressAt, releaseAt;
            QRect copied;
        };
        const Step steps[] = {
            { "no press since the overlay was made: from the origin", false, {}, { 25, 12 },
                QRect(0, 0, 25, 12) },
            { "a normal drag moves the start point", true, { 40, 30 }, { 45, 33 },
                QRect(40, 30, 5, 3) },
            { "the next capture keeps it", false, {}, { 25, 12 }, QRect(25, 12, 15, 18) },
        };
        for (const Step &s : steps) {
            SCOPED_TRACE(s.what);
            ASSERT_TRUE(f.CaptureAndWaitForOverlay());
            if (s.press)
                QTest::mousePress(f.capture.Overlay(), Qt::LeftButton, Qt::NoModifier, s.pressAt);
            QTest::mouseRelease(f.capture.Overlay(), Qt::LeftButton, Qt::NoModifier, s.releaseAt);
            EXPECT_FALSE(f.capture.Overlay()->isVisible());
            EXPECT_EQ(f.pane.Raster().size(), s.copied.size());
            EXPECT_EQ(f.PaneMismatches(f.screen->image, s.copied.topLeft()), "0");
        }
        EXPECT_EQ(f.analyses, 3);
    }

    TEST(Form2, APressOfASecondButtonRestartsTheBand)
    {
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        Form2 *overlay = f.capture.Overlay();
        QTest::mousePress(overlay, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QTest::mouseMove(overlay, QPoint(30, 30));
        QTest::mousePress(overlay, Qt::RightButton, Qt::NoModifier, QPoint(12, 14));
        EXPECT_EQ(overlay->Shape1().Width, 0.0f);
        EXPECT_TRUE(overlay->Shape1().Visible);
        QTest::mouseMove(overlay, QPoint(25, 25));
        // The first release of any button completes the capture.
        QTest::mouseRelease(overlay, Qt::RightButton, Qt::NoModifier, QPoint(20, 20));
        EXPECT_FALSE(overlay->isVisible());
        EXPECT_EQ(f.analyses, 1);
        EXPECT_EQ(f.pane.Raster().size(), QSize(8, 6));
        EXPECT_EQ(f.PaneMismatches(f.screen->image, QPoint(12, 14)), "0");
    }

    TEST(Form2, TheBandIsDrawnAboveTheFrozenCopyAndNeverPartOfIt)
    {
        CaptureFixture f;
        f.screen->image = QImage(ScreenSize(), QImage::Format_RGB32);
        f.screen->image.fill(qRgb(0x20, 0x40, 0x60));
        const QImage original = f.screen->image;
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        Form2 *overlay = f.capture.Overlay();

        // Moves before the first press leave the band hidden.
        QTest::mouseMove(overlay, QPoint(30, 30));
        EXPECT_FALSE(overlay->Shape1().Visible);
        EXPECT_EQ(testing::OverlayMismatches(*overlay, original), "0");

        QTest::mousePress(overlay, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QTest::mouseMove(overlay, QPoint(50, 40));
        // On screen the outline differs from the copy beneath it...
        const QImage shown = overlay->grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_NE(shown.pixel(10, 10), original.pixel(10, 10));
        EXPECT_NE(shown.pixel(30, 40), original.pixel(30, 40));
        EXPECT_EQ(shown.pixel(30, 25), original.pixel(30, 25));
        // ...but the copy itself is untouched, and so is what reaches the pane.
        EXPECT_EQ(overlay->FrozenCopy(), original);
        QTest::mouseRelease(overlay, Qt::LeftButton, Qt::NoModifier, QPoint(50, 40));
        EXPECT_EQ(f.PaneMismatches(original, QPoint(10, 10)), "0");
        EXPECT_EQ(f.hexText, "#204060");
        EXPECT_EQ(f.swatch, analysis::MakeColour(0x20, 0x40, 0x60));
    }

    TEST(Form2, TheFrozenCopyNotTheLiveScreenIsTheSource)
    {
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        const QImage atFreeze = f.screen->image;
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        // The screen changes after the freeze (a clock ticking, a video playing).
        f.screen->image = QImage(ScreenSize(), QImage::Format_RGB32);
        f.screen->image.fill(Qt::red);
        f.Drag({ 100, 100 }, { 140, 130 });
        EXPECT_EQ(f.PaneMismatches(atFreeze, QPoint(100, 100)), "0");
        EXPECT_EQ(f.screen->grabs, 1);
    }

    TEST(Form2, ASecondCaptureReusesTheOverlayAndFreezesAnew)
    {
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        Form2 *first = f.capture.Overlay();
        f.Drag({ 1, 1 }, { 9, 9 });
        const int firstStartX = first->StartPt().X;

        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height()).mirrored();
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        EXPECT_EQ(f.capture.Overlay(), first);
        EXPECT_EQ(f.sourcesCreated, 1);
        EXPECT_EQ(f.screen->grabs, 2);
        EXPECT_EQ(first->FrozenCopy(), f.screen->image);
        // The band stays hidden until the first press of this capture; StartPt survives.
        EXPECT_FALSE(first->Shape1().Visible);
        EXPECT_EQ(first->StartPt().X, firstStartX);
        f.Drag({ 60, 50 }, { 70, 58 });
        EXPECT_EQ(f.PaneMismatches(f.screen->image, QPoint(60, 50)), "0");
        EXPECT_EQ(f.analyses, 2);
    }

    TEST(Form2, AnUnreadableScreenShowsAMessageAndNothingElse)
    {
        CaptureFixture f;
        f.screen->image = NumberedScreen(ScreenSize().width(), ScreenSize().height());
        // A first capture that works, so there is an earlier frozen copy and pane to keep.
        ASSERT_TRUE(f.CaptureAndWaitForOverlay());
        f.Drag({ 5, 6 }, { 25, 16 });
        const QImage frozenBefore = f.capture.Overlay()->FrozenCopy();
        const QImage paneBefore = f.pane.Raster().copy();
        const std::string hexBefore = f.hexText;

        f.screen->image = QImage();
        f.capture.Run();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !f.messages.empty(); }, 5000));
        EXPECT_EQ(f.messages, std::vector<QString> { QStringLiteral("无法读取屏幕内容") });
        EXPECT_EQ(f.messageDetails,
            std::vector<QString> { QStringLiteral("窗口系统没有给出屏幕的图像") });
        EXPECT_FALSE(f.capture.Overlay()->isVisible());
        EXPECT_FALSE(f.capture.Overlay()->Timer1().isActive());
        EXPECT_EQ(f.capture.Overlay()->FrozenCopy(), frozenBefore);
        EXPECT_EQ(f.pane.Raster(), paneBefore);
        EXPECT_EQ(f.hexText, hexBefore);
        EXPECT_EQ(f.analyses, 1);
    }

} // namespace
} // namespace capture
