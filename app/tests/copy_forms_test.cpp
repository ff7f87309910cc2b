// The result copied in the forms people paste: the context menus of the swatch, the hex text and
// the info text, and Ctrl+C, read back from the clipboard.
#include "app/pane_selection.h"
#include "app/tests/form1_fixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

struct FormsCase
{
    const char *what;
    QRgb colour;
    // The CSS Color 4 examples' values for OKLCH (red, green, white), rounded as the forms are.
    QString hex, rgb, hsl, oklch, info;
};

void PrintTo(const FormsCase &c, std::ostream *out) { *out << c.what; }

const FormsCase kFormsCases[] = {
    { "red", qRgb(255, 0, 0), "#FF0000", "rgb(255 0 0)", "hsl(0 100% 50%)",
        "oklch(62.8% 0.25768 29.23)", "R:255 H:0\nG:0 S:100\nB:0 L:100" },
    { "CSS green", qRgb(0, 128, 0), "#008000", "rgb(0 128 0)", "hsl(120 100% 25.1%)",
        "oklch(51.98% 0.17686 142.5)", "R:0 H:120\nG:128 S:100\nB:0 L:50" },
    { "white", qRgb(255, 255, 255), "#FFFFFF", "rgb(255 255 255)", "hsl(0 0% 100%)",
        "oklch(100% 0 0)", "R:255 H:0\nG:255 S:0\nB:255 L:100" },
};

class CopyForms : public ::testing::TestWithParam<FormsCase>
{
protected:
    void SetUp() override
    {
        Form1 &window = fixture.Window();
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const FormsCase &c = GetParam();
        fixture.filesToChoose
            = { fixture.SaveImage(TwoColourPicture(30, 20, c.colour, c.colour), "solid.png") };
        window.OpenImage();
        ASSERT_EQ(fixture.HexText(), c.hex);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    }

    Form1Fixture fixture;
};

// Each control's menu names every form with its value, and each entry copies exactly that.
TEST_P(CopyForms, EveryMenuCopiesEveryForm)
{
    const FormsCase &c = GetParam();
    Form1 &window = fixture.Window();
    struct Form
    {
        const char *action;
        QString name;
        QString value;
    };
    const Form forms[] = {
        { "CopyHex", "十六进制", c.hex },
        { "CopyRgb", "RGB", c.rgb },
        { "CopyHsl", "HSL", c.hsl },
        { "CopyOklch", "OKLCH", c.oklch },
        { "CopyInfo", "三行信息", c.info },
    };
    for (QWidget *control : { static_cast<QWidget *>(window.LblClr),
             static_cast<QWidget *>(window.Text1), static_cast<QWidget *>(window.LbInfo) }) {
        SCOPED_TRACE(control->objectName().toStdString());
        const std::unique_ptr<QMenu> menu(window.CreateCopyMenu(control));
        ASSERT_NE(menu, nullptr);
        for (const Form &form : forms) {
            SCOPED_TRACE(form.action);
            auto *action = menu->findChild<QAction *>(QLatin1String(form.action));
            ASSERT_NE(action, nullptr);
            QString shown = form.value;
            shown.replace('\n', "  ");
            EXPECT_EQ(action->text(), "复制" + form.name + "：" + shown);
            action->trigger();
            EXPECT_EQ(QGuiApplication::clipboard()->text(), form.value);
        }
        EXPECT_EQ(menu->defaultAction(), menu->findChild<QAction *>("CopyHex"));
    }
}

TEST_P(CopyForms, CtrlCCopiesTheHexFromAnywhere)
{
    const FormsCase &c = GetParam();
    Form1 &window = fixture.Window();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (QWidget *focus : { static_cast<QWidget *>(window.FileOpen),
             static_cast<QWidget *>(window.ScreenCap), static_cast<QWidget *>(window.Text1) }) {
        SCOPED_TRACE(focus->objectName().toStdString());
        focus->setFocus();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QTest::keyClick(focus, Qt::Key_C, Qt::ControlModifier);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), c.hex);
    }
}

INSTANTIATE_TEST_SUITE_P(Colours, CopyForms, ::testing::ValuesIn(kFormsCases));

// A right-click on the swatch opens the menu on screen without blocking the window.
TEST(CopyMenu, ARightClickOpensItAndAnEntryCopies)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    fixture.filesToChoose = { fixture.SaveImage(
        TwoColourPicture(2, 1, qRgb(255, 0, 0), qRgb(0, 0, 255)), "two.png") };
    window.OpenImage();
    ASSERT_EQ(fixture.HexText(), "#7F007F");

    QContextMenuEvent click(
        QContextMenuEvent::Mouse, QPoint(4, 4), window.LblClr->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(window.LblClr, &click);
    QMenu *menu = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        return menu != nullptr;
    }));
    auto *rgb = menu->findChild<QAction *>("CopyRgb");
    ASSERT_NE(rgb, nullptr);
    rgb->trigger();
    menu->close();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "rgb(127 0 127)");
}

TEST(CopyMenu, TheHexBoxKeepsItsOwnCopyOfASelection)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    fixture.filesToChoose = { fixture.SaveImage(
        TwoColourPicture(2, 1, qRgb(255, 0, 0), qRgb(0, 0, 255)), "two.png") };
    window.OpenImage();
    window.Text1->setFocus();
    window.Text1->setSelection(1, 2);
    QTest::keyClick(window.Text1, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "7F");
    // Its editing commands stay in its menu, below the forms.
    const std::unique_ptr<QMenu> menu(window.CreateCopyMenu(window.Text1));
    EXPECT_EQ(menu->actions().front()->objectName(), "CopyHex");
    EXPECT_GT(menu->actions().size(), 6);
}

TEST(CopyMenu, NothingIsCopiedBeforeAResult)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    EXPECT_EQ(window.CreateCopyMenu(window.LblClr), nullptr);
    QTest::keyClick(window.FileOpen, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "before") << "the white swatch is no result";
}

// While a band is dragged over the pane, Ctrl+C copies what the live readout shows.
TEST(CopyMenu, CtrlCDuringADragCopiesTheBandsHex)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    fixture.filesToChoose = { fixture.SaveImage(
        TwoColourPicture(100, 60, qRgb(200, 10, 10), qRgb(10, 10, 200)), "halves.png") };
    window.OpenImage();
    ASSERT_EQ(fixture.HexText(), "#690A69");
    const double ratio = window.Pane().devicePixelRatioF();
    // Wholly inside the left half, whatever the pane's pixel ratio.
    const QPoint from(2, 2), to(static_cast<int>(40 / ratio), static_cast<int>(40 / ratio));
    QTest::mousePress(window.PicBox, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(window.PicBox, to);
    QTest::keyClick(window.FileOpen, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "#C80A0A");
    QTest::mouseRelease(window.PicBox, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(fixture.HexText(), "#C80A0A");
}

} // namespace
