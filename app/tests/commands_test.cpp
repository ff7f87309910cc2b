#include "app/tests/form1_fixture.h"

#include "analysis/calc_color.h"

#include <QAccessible>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QString Info(int r, int h, int g, int s, int b, int l)
{
    return QStringLiteral("R:%1 H:%2\nG:%3 S:%4\nB:%5 L:%6")
        .arg(r)
        .arg(h)
        .arg(g)
        .arg(s)
        .arg(b)
        .arg(l);
}

// Results as the three controls show them.
struct Shown
{
    QString hex;
    analysis::ColourValue swatch;
    QString info;
    friend bool operator==(const Shown &, const Shown &) = default;
};

Shown ResultsOf(Form1Fixture &fixture)
{
    return { fixture.HexText(), fixture.ShownSwatch(), fixture.InfoText() };
}

void PrintTo(const Shown &s, std::ostream *out)
{
    *out << s.hex.toStdString() << " swatch " << std::hex << s.swatch << " info "
         << s.info.toStdString();
}

// A picture opened through the command ends up in the pane at its own size and is analysed.
TEST(OpenImage, ChosenFileFillsThePaneAndShowsItsAverage)
{
    struct Case
    {
        const char *name;
        QImage picture;
        QString fileName;
        Shown expected;
    };
    // Means by hand: halves of (200, 40, 10) and (100, 140, 250) give (150, 90, 130); HSL from
    // the analysis core's own table (max 150, min 90: H 320, S 40, L 59).
    const Case cases[] = {
        { "1024 x 768 PNG", TwoColourPicture(1024, 768, qRgb(200, 40, 10), qRgb(100, 140, 250)),
            "picture.png", { "#965A82", 0x00825A96, Info(150, 320, 90, 40, 130, 59) } },
        { "transparent half shows white, whatever the pane's colour",
            TwoColourPicture(64, 32, qRgba(0, 0, 0, 0), qRgb(0, 0, 255)), "clear.png",
            { "#7F7FFF", 0x00FF7F7F, Info(127, 240, 127, 50, 255, 100) } },
        { "Unicode name and a path longer than 254 bytes",
            TwoColourPicture(10, 10, qRgb(255, 255, 255), qRgb(0, 0, 0)),
            QString(130, QChar('p')) + "/" + QString(130, QChar('q')) + "/ 图片 1.png",
            { "#7F7F7F", 0x007F7F7F, Info(127, 0, 127, 0, 127, 50) } },
        // Wider than 65,536 pixels: every column is read, so the halves average to
        // (30, 80, 135), the line quillmere-avg prints for the same file.
        { "100,000 x 40 PNG", TwoColourPicture(100000, 40, qRgb(10, 100, 200), qRgb(50, 60, 70)),
            "wide.png", { "#1E5087", 0x0087501E, Info(30, 211, 80, 78, 135, 53) } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Form1Fixture fixture;
        Form1 &window = fixture.Window();
        window.show();
        // A colour chosen for the pane plays no part in composing the picture.
        fixture.colourAnswers.push_back({ 0x00000000, {} });
        window.Pane().SetPaneVisible(true);
        window.ChooseBackColour();

        const QString path = fixture.SaveImage(c.picture, c.fileName);
        ASSERT_FALSE(path.isEmpty());
        fixture.filesToChoose = { path };
        window.OpenImage();

        ASSERT_EQ(fixture.fileRequests.size(), 1u);
        EXPECT_TRUE(fixture.errors.empty());
        EXPECT_TRUE(window.Pane().IsPaneVisible());
        EXPECT_TRUE(window.PicBox->isVisible());
        EXPECT_EQ(window.Pane().Width(), c.picture.width());
        EXPECT_EQ(window.Pane().Height(), c.picture.height());
        EXPECT_EQ(window.Pane().Raster().size(), c.picture.size());
        EXPECT_EQ(fixture.HexText(), c.expected.hex);
        EXPECT_EQ(fixture.ShownSwatch(), c.expected.swatch);
        EXPECT_EQ(fixture.InfoText(), c.expected.info);
        EXPECT_FALSE(window.Scanner().IsCalculating());
    }
}

// What a screen reader gets: the results themselves, not a fixed name in their place.
TEST(OpenImage, ResultsReachScreenReaders)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    fixture.filesToChoose
        = { fixture.SaveImage(TwoColourPicture(2, 1, qRgb(255, 0, 0), qRgb(0, 0, 255)), "a.png") };
    window.OpenImage();
    ASSERT_EQ(fixture.HexText(), "#7F007F");

    QAccessibleInterface *info = QAccessible::queryAccessibleInterface(window.LbInfo);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->text(QAccessible::Name), Info(127, 300, 0, 100, 127, 50));
    EXPECT_EQ(info->text(QAccessible::Description), "平均色信息");
    QAccessibleInterface *hex = QAccessible::queryAccessibleInterface(window.Text1);
    ASSERT_NE(hex, nullptr);
    EXPECT_EQ(hex->text(QAccessible::Value), "#7F007F");
    QAccessibleInterface *open = QAccessible::queryAccessibleInterface(window.FileOpen);
    EXPECT_EQ(open->text(QAccessible::Name), "打开文件");
}

TEST(OpenImage, AsksForAPictureFileInTheProgramsFolder)
{
    Form1Fixture fixture;
    fixture.Window().OpenImage();
    ASSERT_EQ(fixture.fileRequests.size(), 1u);
    const platform::OpenFileRequest &request = fixture.fileRequests.front();
    EXPECT_EQ(request.title, "打开图片文件");
    EXPECT_EQ(
        request.filter, "所有图片文件 (*.bmp *.dib *.png *.gif *.jpg *.jpe *.jpeg *.jfif *.ico)");
    EXPECT_EQ(request.folder, QCoreApplication::applicationDirPath());
}

// Leaves the window with a picture opened, a region drawn over it, and its results shown.
struct Opened
{
    Form1Fixture fixture;
    QString path;
    Shown results;

    Opened()
    {
        Form1 &window = fixture.Window();
        window.show();
        path = fixture.SaveImage(
            TwoColourPicture(40, 30, qRgb(255, 0, 0), qRgb(0, 0, 255)), "first.png");
        fixture.filesToChoose = { path };
        window.OpenImage();
        results = ResultsOf(fixture);
        QImage region(5, 5, QImage::Format_RGB32);
        region.fill(qRgb(1, 2, 3));
        window.Pane().BlockCopy(region, region.rect(), QPoint(0, 0));
    }
};

TEST(OpenImage, CancelOnlyErasesWhatWasDrawn)
{
    Opened opened;
    Form1Fixture &fixture = opened.fixture;
    Form1 &window = fixture.Window();
    // The pane is cleared before the dialog shows, whatever the user then does.
    analysis::ColourValue seenInDialog = 0;
    fixture.whileFileDialogOpen = [&] { seenInDialog = window.Pane().ReadPixel(0, 0); };
    window.OpenImage();

    EXPECT_EQ(seenInDialog, 0x000000FFu) << "the picture, not the drawn region";
    EXPECT_EQ(window.Pane().ReadPixel(0, 0), 0x000000FFu);
    EXPECT_TRUE(window.Pane().IsPaneVisible());
    EXPECT_EQ(window.Pane().Raster().size(), QSize(40, 30));
    EXPECT_EQ(ResultsOf(fixture), opened.results);
}

TEST(OpenImage, UndecodableFileReportsAndKeepsEverything)
{
    struct Case
    {
        const char *name;
        QByteArray content;
    };
    const Case cases[] = {
        { "text named .png", "not a picture at all" },
        { "empty file", "" },
        { "truncated PNG", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Opened opened;
        Form1Fixture &fixture = opened.fixture;
        Form1 &window = fixture.Window();
        const QString bad = QFileInfo(opened.path).absolutePath() + "/bad.png";
        QFile file(bad);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.content);
        file.close();

        fixture.filesToChoose = { bad };
        window.OpenImage();

        ASSERT_EQ(fixture.errors.size(), 1u);
        EXPECT_EQ(fixture.errors.front(), "Error loading picture " + bad);
        EXPECT_TRUE(window.Pane().IsPaneVisible());
        EXPECT_EQ(window.Pane().Raster().size(), QSize(40, 30));
        EXPECT_EQ(window.Pane().Picture().size(), QSize(40, 30));
        EXPECT_EQ(window.Pane().ReadPixel(39, 0), 0x00FF0000u) << "the old picture is shown";
        EXPECT_EQ(ResultsOf(fixture), opened.results);
        EXPECT_EQ(fixture.endRequests, 0) << "the program goes on";

        // And the next good file opens as usual.
        fixture.filesToChoose = { opened.path };
        window.OpenImage();
        EXPECT_EQ(fixture.errors.size(), 1u);
    }
}

TEST(OpenImage, UndecodableFirstFileLeavesThePaneHidden)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    const QString missing = QCoreApplication::applicationDirPath() + "/no such file.png";
    fixture.filesToChoose = { missing };
    window.OpenImage();
    ASSERT_EQ(fixture.errors.size(), 1u);
    EXPECT_EQ(fixture.errors.front(), "Error loading picture " + missing);
    EXPECT_FALSE(window.Pane().IsPaneVisible());
    EXPECT_EQ(fixture.HexText(), "#000000");
    EXPECT_TRUE(fixture.InfoText().isEmpty());
}

// The message stays "Error loading picture " + path; the box's details say why, in the window's
// words (app::LoadFailureMessage) and by default in Chinese.
TEST(OpenImage, TheLoadErrorsDetailsSayWhy)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const auto write = [&folder](const char *name, const QByteArray &content) {
        const QString path = folder.filePath(QString::fromUtf8(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    };
    QDir(folder.path()).mkdir(QStringLiteral("folder.png"));
    const struct
    {
        const char *name;
        QString path;
        QString details;
    } cases[] = {
        { "missing", folder.filePath(QStringLiteral("missing.png")),
            QStringLiteral("找不到该文件。") },
        { "folder", folder.filePath(QStringLiteral("folder.png")),
            QStringLiteral("这不是一个普通文件。") },
        { "empty", write("empty.png", QByteArray()), QStringLiteral("文件是空的。") },
        { "text", write("text.png", "not a picture at all"),
            QStringLiteral("这不是本程序能读取的图片格式。") },
        { "PNG cut inside its header",
            write("cut.png", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)),
            QStringLiteral("文件不完整，图片在结束前就中断了。") },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Form1Fixture fixture;
        fixture.filesToChoose = { c.path };
        fixture.Window().OpenImage();
        ASSERT_EQ(fixture.errors.size(), 1u);
        EXPECT_EQ(fixture.errors.front(), "Error loading picture " + c.path);
        ASSERT_EQ(fixture.errorDetails.size(), 1u);
        EXPECT_EQ(fixture.errorDetails.front(), c.details);
    }
}

TEST(CalcColor, StopGestureEndsAProgressScanAfterTheRowItArrivedIn)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Pane().SetPicture(FirstRowApart(1000, 1000, qRgb(10, 20, 30), qRgb(255, 255, 255)));
    window.Pane().SetSize(1000, 1000);
    window.Pane().SetPaneVisible(true);

    QString progressSeen;
    QTimer::singleShot(0, &window, [&] {
        progressSeen = fixture.InfoText();
        QTest::mouseDClick(window.LbInfo, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    });
    window.CalcColor();

    EXPECT_EQ(progressSeen, "请稍候...0%\n双击这里停止");
    EXPECT_EQ(fixture.HexText(), "#0A141E");
    EXPECT_EQ(fixture.ShownSwatch(), 0x001E140Au);
    EXPECT_EQ(fixture.InfoText(), Info(10, 210, 20, 67, 30, 12));
    EXPECT_FALSE(window.Scanner().IsCalculating());
}

TEST(CalcColor, StopGestureDoesNotShortenAPlainScan)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    // 999 x 1001 = 999,999 pixels: below the progress threshold.
    window.Pane().SetPicture(FirstRowApart(999, 1001, qRgb(0, 0, 0), qRgb(255, 255, 255)));
    window.Pane().SetSize(999, 1001);
    QString infoDuringScan;
    QTimer::singleShot(0, &window, [&] {
        infoDuringScan = fixture.InfoText();
        QTest::mouseDClick(window.LbInfo, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    });
    window.CalcColor();
    EXPECT_EQ(infoDuringScan, "请稍候...");
    // 1000 white rows of 1001: 255 * 1000 / 1001 = 254.7, truncated.
    EXPECT_EQ(fixture.HexText(), "#FEFEFE");
}

TEST(CalcColor, StopGestureOutsideAScanChangesNothing)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    QTest::mouseDClick(window.LbInfo, Qt::LeftButton);
    EXPECT_FALSE(window.Scanner().IsCalculating());
    EXPECT_TRUE(fixture.InfoText().isEmpty());
    EXPECT_EQ(fixture.HexText(), "#000000");
}

// A second open during a running scan: the newest run's results are the ones left showing.
TEST(CalcColor, SecondOpenDuringAScanWins)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    const QString big
        = fixture.SaveImage(FirstRowApart(1200, 1000, qRgb(0, 0, 0), qRgb(0, 255, 0)), "big.png");
    const QString small = fixture.SaveImage(
        TwoColourPicture(20, 10, qRgb(255, 0, 0), qRgb(255, 0, 0)), "small.png");
    fixture.filesToChoose = { big, small };
    int yieldsSeen = 0;
    QTimer rows;
    QObject::connect(&rows, &QTimer::timeout, [&] {
        // The big picture loads on a worker while the event loop runs, so count only the turns
        // that come from the scan's yield: the small picture opens from the first of them.
        if (window.Scanner().IsCalculating() && ++yieldsSeen == 1)
            window.OpenImage();
    });
    rows.start(0);
    window.OpenImage();
    rows.stop();

    ASSERT_GE(yieldsSeen, 1);
    EXPECT_EQ(window.Pane().Raster().size(), QSize(20, 10));
    EXPECT_EQ(fixture.HexText(), "#FF0000");
    EXPECT_EQ(fixture.ShownSwatch(), 0x000000FFu);
    EXPECT_EQ(fixture.InfoText(), Info(255, 0, 0, 100, 0, 100));
    EXPECT_FALSE(window.Scanner().IsCalculating());
}

TEST(ChooseBackColour, HiddenPaneTakesNoDoubleClick)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::mouseDClick(window.PicFrame, Qt::LeftButton, Qt::NoModifier, QPoint(30, 30));
    EXPECT_TRUE(fixture.coloursOffered.empty());
}

TEST(ChooseBackColour, OkRepaintsThePaneAndKeepsTheCustomColours)
{
    Opened opened;
    Form1Fixture &fixture = opened.fixture;
    Form1 &window = fixture.Window();
    // Make the pane larger than its picture, as after a capture following an earlier file.
    window.Pane().SetSize(60, 40);
    QImage region(60, 40, QImage::Format_RGB32);
    region.fill(qRgb(9, 9, 9));
    window.Pane().BlockCopy(region, region.rect(), QPoint(0, 0));

    fixture.colourAnswers = { { 0x00336699, { { 0, 0x00010203 }, { 15, 0x00AABBCC } } } };
    QTest::mouseDClick(window.PicBox, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));

    ASSERT_EQ(fixture.coloursOffered.size(), 1u);
    EXPECT_EQ(fixture.coloursOffered[0], platform::CustomColours {}) << "16 black at start";
    EXPECT_EQ(window.Pane().BackColor(), 0x00336699u);
    EXPECT_EQ(window.Pane().ReadPixel(59, 39), 0x00336699u) << "cleared with the new colour";
    EXPECT_EQ(window.Pane().ReadPixel(0, 0), 0x000000FFu) << "the earlier file's picture";
    EXPECT_EQ(ResultsOf(fixture), opened.results) << "results are not computed again";
    const std::uint8_t first[] = { 0x03, 0x02, 0x01, 0x00 };
    const std::uint8_t last[] = { 0xCC, 0xBB, 0xAA, 0x00 };
    EXPECT_TRUE(std::equal(first, first + 4, window.CustColors.begin())) << "little-endian RGB0";
    EXPECT_TRUE(std::equal(last, last + 4, window.CustColors.begin() + 60));

    // The second dialog offers what the first left.
    fixture.colourAnswers = { { 0x00000000, {} } };
    QTest::mouseDClick(window.PicBox, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
    ASSERT_EQ(fixture.coloursOffered.size(), 2u);
    EXPECT_EQ(fixture.coloursOffered[1][0], 0x00010203u);
    EXPECT_EQ(fixture.coloursOffered[1][15], 0x00AABBCCu);
}

TEST(ChooseBackColour, CancelChangesNothingEvenAfterEdits)
{
    Opened opened;
    Form1Fixture &fixture = opened.fixture;
    Form1 &window = fixture.Window();
    fixture.colourAnswers = { { 0x00123456, { { 2, 0x00FFFFFF } } } };
    window.ChooseBackColour();
    const auto customBefore = window.CustColors;
    const analysis::ColourValue backBefore = window.Pane().BackColor();

    fixture.colourAnswers = { { std::nullopt, { { 2, 0x00000001 }, { 3, 0x00000002 } } } };
    window.ChooseBackColour();
    EXPECT_EQ(window.CustColors, customBefore);
    EXPECT_EQ(window.Pane().BackColor(), backBefore);

    fixture.colourAnswers = { { std::nullopt, {} } };
    window.ChooseBackColour();
    ASSERT_EQ(fixture.coloursOffered.size(), 3u);
    EXPECT_EQ(fixture.coloursOffered[2][2], 0x00FFFFFFu);
    EXPECT_EQ(fixture.coloursOffered[2][3], 0x00000000u);
}

} // namespace
