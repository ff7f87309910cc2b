// The window's texts for a scan, written from the scan's numbers in either language, and the
// capture panel's hex against the window's for the same block.
#include "app/language.h"
#include "app/scan_texts.h"

#include "app/tests/form1_fixture.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTranslator>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

QTranslator *InstallEnglish()
{
    return app::InstallTranslations([](const char *name) {
        return qstrcmp(name, "LANG") == 0 ? QStringLiteral("en_US.UTF-8") : QString();
    });
}

// Rows done are counted through the last even row shown, so a scan reports odd counts. The
// percents are (rows done / rows) rounded half away from zero, as the window always showed them.
TEST(ScanTexts, ProgressTextInBothLanguages)
{
    const struct
    {
        const char *what;
        std::int32_t rowsDone, rows;
        const char *percent;
    } cases[] = {
        { "first row of 1000: 0.1%", 1, 1000, "0" },
        { "0.5% rounds up", 5, 1000, "1" },
        { "row 10 of 1000: 1.1%", 11, 1000, "1" },
        { "last even row of 1000: 99.9%", 999, 1000, "100" },
        { "2 of 3 rows: 66.7%", 2, 3, "67" },
        { "all of 3 rows", 3, 3, "100" },
        { "a picture of one row", 1, 1, "100" },
        { "first row of the tallest picture", 1, 2'147'483'647, "0" },
        { "half of the tallest picture", 1'073'741'824, 2'147'483'647, "50" },
        { "all of the tallest picture", 2'147'483'647, 2'147'483'647, "100" },
    };
    const struct
    {
        bool english;
        std::string before, after;
    } languages[] = {
        { false, "请稍候...", "%\n双击这里停止" },
        { true, "Reading...", "%\nDouble-click\nhere to stop" },
    };
    for (const auto &language : languages) {
        QTranslator *english = language.english ? InstallEnglish() : nullptr;
        ASSERT_EQ(english != nullptr, language.english);
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << (language.english ? ", English" : ""));
            EXPECT_EQ(app::ProgressText(c.rowsDone, c.rows).toStdString(),
                language.before + c.percent + language.after);
        }
        if (english) {
            QCoreApplication::removeTranslator(english);
            delete english;
        }
    }
}

// A screen whose every pixel differs, so that a block one pixel off has another mean.
QImage NumberedScreen(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, qRgb((x * 7) & 0xFF, (y * 5) & 0xFF, ((x + y) * 3) & 0xFF));
    return image;
}

// The panel's live readout and the window's result after the release average the same block
// through the same formatter: a user never sees the two disagree.
TEST(ScanTexts, TheCaptureReadoutShowsTheWindowsHex)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    fixture.screen = NumberedScreen(QGuiApplication::primaryScreen()->size());
    const struct
    {
        const char *what;
        QPoint press, release;
    } bands[] = {
        { "down-right", { 5, 5 }, { 47, 29 } },
        { "up-left", { 120, 90 }, { 31, 17 } },
        { "one pixel", { 200, 100 }, { 201, 101 } },
        { "a tall strip", { 300, 10 }, { 303, 400 } },
    };
    for (const auto &band : bands) {
        SCOPED_TRACE(band.what);
        window.ScreenCap->click();
        QWidget *overlay = WaitForShownOverlay();
        ASSERT_NE(overlay, nullptr);
        QTest::mousePress(overlay, Qt::LeftButton, Qt::NoModifier, band.press);
        QTest::mouseMove(overlay, band.release);
        const auto *readout = overlay->findChild<QLabel *>(QStringLiteral("ReadoutHex"));
        ASSERT_NE(readout, nullptr);
        const QString live = readout->text();
        QTest::mouseRelease(overlay, Qt::LeftButton, Qt::NoModifier, band.release);
        ASSERT_FALSE(overlay->isVisible());
        EXPECT_FALSE(live.isEmpty());
        EXPECT_EQ(live.toStdString(), fixture.HexText().toStdString());
    }
}

} // namespace
