// The line under the hex text that says which colours a picture came in: tagged PNGs written here
// with lcms2's profiles, as the imaging tests make them, read through the real loader.
#include "app/language.h"
#include "app/tests/form1_fixture.h"
#include "imaging/tests/tagged_fixtures.h"

#include <QAccessible>
#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <gtest/gtest.h>


#include <cstddef>
#include <cstdint>
#include <functional>

namespace {

using fixtures::IccpChunk;
using fixtures::PngChunk;

QByteArray DisplayP3() { return fixtures::DisplayP3Profile(); }

// A width x height picture of (200,60,40), which Display P3 keeps inside sRGB (#D92A17), with
// `red` pixels of P3's pure red, which is outside it; written as PNG with `chunks` after IHDR.
QByteArray Png(int width, int height, int red, const QByteArrayList &chunks)
{
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(qRgb(200, 60, 40));
    for (int k = 0; k < red; ++k)
        picture.setPixel(k % width, k / width, qRgb(255, 0, 0));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return fixtures::PngWithChunks(png, chunks.join());
}

QTranslator *InstallEnglish()
{
    return app::InstallTranslations([](const char *name) {
        return qstrcmp(name, "LANG") == 0 ? QStringLiteral("en_US.UTF-8") : QString();
    });
}

class ColourSpaceLine : public testing::Test
{
protected:
    // Opens `png` through the window as a file would be, and waits until it is shown.
    void Open(const QByteArray &png)
    {
        const QString path = folder.filePath(QStringLiteral("picture%1.png").arg(++files));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(png);
        file.close();
        fixture.Window().OpenPath(path);
    }
    [[nodiscard]] QString Shown()
    {
        const QLabel &line = *fixture.Window().LblSpace;
        return line.isVisibleTo(&fixture.Window()) ? line.text() : QStringLiteral("(hidden)");
    }

    struct Tagged
    {
        const char *name;
        std::function<QByteArray()> png;
        const char *chinese;
        const char *english;
    };
    // Opens each case's picture in Chinese, then each again in English.
    template <std::size_t N> void ExpectShown(const Tagged (&cases)[N])
    {
        for (const bool english : { false, true }) {
            QTranslator *translator = english ? InstallEnglish() : nullptr;
            for (const Tagged &c : cases) {
                SCOPED_TRACE(testing::Message() << c.name << (english ? ", English" : ""));
                Open(c.png());
                ASSERT_TRUE(fixture.errors.empty()) << fixture.errors.front().toStdString();
                EXPECT_EQ(Shown().toStdString(), english ? c.english : c.chinese);
            }
            if (translator)
                QCoreApplication::removeTranslator(translator);
        }
    }

    QTemporaryDir folder;
    int files = 0;
    Form1Fixture fixture;
};

// Tagged pictures in both languages: the line names the colour space they were converted from,
// and says so when a description is there but cannot be used; sRGB and untagged ones show nothing.
TEST_F(ColourSpaceLine, SaysWhereTheColoursCameFromInBothLanguages)
{
    const Tagged cases[] = {
        { "untagged", [] { return Png(16, 16, 0, {}); }, "(hidden)", "(hidden)" },
        { "sRGB chunk", [] { return Png(16, 16, 0, { PngChunk("sRGB", QByteArray(1, '\0')) }); },
            "(hidden)", "(hidden)" },
        { "Display P3 profile inside sRGB",
            [] { return Png(16, 16, 0, { IccpChunk(DisplayP3()) }); }, "Display P3 → sRGB",
            "Display P3 → sRGB" },
        { "Display P3 code points",
            [] { return Png(16, 16, 0, { PngChunk("cICP", QByteArray("\x0C\x0D\x00\x01", 4)) }); },
            "Display P3 → sRGB", "Display P3 → sRGB" },
        { "broken profile",
            [] {
                return Png(
                    16, 16, 0, { PngChunk("iCCP", QByteArray("P3\0\0\x78\x9C garbage", 14)) });
            },
            "无法读取图片的颜色配置文件，已按 sRGB 处理。",
            "The picture's colour profile could not be read: it was taken as sRGB." },
    };
    ExpectShown(cases);
}

// Shares are of all the picture's pixels, one decimal; a single clipped pixel still shows.
TEST_F(ColourSpaceLine, ClippedPixelsGiveTheirShareInBothLanguages)
{
    const Tagged cases[] = {
        { "half the pixels outside sRGB",
            [] { return Png(16, 16, 128, { IccpChunk(DisplayP3()) }); },
            "Display P3 → sRGB\n50.0% 的像素超出 sRGB，已裁剪。",
            "Display P3 → sRGB\n50.0% of the pixels were outside sRGB and clipped." },
        { "one pixel in 1600 outside sRGB",
            [] { return Png(40, 40, 1, { IccpChunk(DisplayP3()) }); },
            "Display P3 → sRGB\n<0.1% 的像素超出 sRGB，已裁剪。",
            "Display P3 → sRGB\n<0.1% of the pixels were outside sRGB and clipped." },
        { "every pixel outside sRGB", [] { return Png(3, 3, 9, { IccpChunk(DisplayP3()) }); },
            "Display P3 → sRGB\n100.0% 的像素超出 sRGB，已裁剪。",
            "Display P3 → sRGB\n100.0% of the pixels were outside sRGB and clipped." },
    };
    ExpectShown(cases);
}

// Whatever it says fits its label under the hex text, at the dpi the suite runs at, and screen
// readers get the text with what it is about.
TEST_F(ColourSpaceLine, FitsUnderTheHexTextAndReachesScreenReaders)
{
    Form1 &window = fixture.Window();
    const QSize size = window.size();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QByteArray clipped = Png(16, 16, 128, { IccpChunk(DisplayP3()) });
    const QByteArray broken
        = Png(16, 16, 0, { PngChunk("iCCP", QByteArray("P3\0\0\x78\x9C garbage", 14)) });
    for (const bool english : { false, true }) {
        QTranslator *translator = english ? InstallEnglish() : nullptr;
        for (const QByteArray &png : { clipped, broken }) {
            Open(png);
            const QLabel &line = *window.LblSpace;
            SCOPED_TRACE(line.text().toStdString());
            ASSERT_TRUE(line.isVisible());
            const QRect inside = line.contentsRect();
            const QRect needed
                = QFontMetrics(line.font())
                      .boundingRect(
                          inside, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, line.text());
            EXPECT_TRUE(inside.contains(needed)) << needed.height() << " of " << inside.height();
            EXPECT_GE(line.y(), window.Text1->geometry().bottom());
            EXPECT_LE(line.geometry().bottom(), window.height());
            EXPECT_LE(line.geometry().right(), window.width());
            EXPECT_EQ(window.size(), size);

            QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(window.LblSpace);
            ASSERT_NE(reader, nullptr);
            EXPECT_EQ(reader->text(QAccessible::Name), line.text());
            EXPECT_FALSE(reader->text(QAccessible::Description).isEmpty());
        }
        if (translator)
            QCoreApplication::removeTranslator(translator);
    }
}

// A captured block is sRGB: the line of the picture before it goes.
TEST_F(ColourSpaceLine, ACaptureClearsIt)
{
    Open(Png(16, 16, 128, { IccpChunk(DisplayP3()) }));
    ASSERT_NE(Shown().toStdString(), "(hidden)");
    QImage screen(64, 48, QImage::Format_RGB32);
    screen.fill(qRgb(10, 20, 30));
    fixture.Window().ShowCapturedBlock(screen, QRect(4, 4, 20, 10));
    EXPECT_EQ(fixture.HexText(), "#0A141E");
    EXPECT_EQ(Shown().toStdString(), "(hidden)");
}

// A file that cannot be read leaves everything as it was, the line too; the next picture replaces
// it.
TEST_F(ColourSpaceLine, AFailedLoadKeepsItAndTheNextPictureReplacesIt)
{
    Open(Png(16, 16, 0, { IccpChunk(DisplayP3()) }));
    ASSERT_EQ(Shown().toStdString(), "Display P3 → sRGB");
    Open("not a picture at all");
    ASSERT_EQ(fixture.errors.size(), 1u);
    EXPECT_EQ(Shown().toStdString(), "Display P3 → sRGB");
    Open(Png(16, 16, 0, {}));
    EXPECT_EQ(Shown().toStdString(), "(hidden)");
}

} // namespace
