#include "platform/pic_box.h"

#include "analysis/calc_color.h"
#include "imaging/colour_text.h"

#include <QApplication>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

    using analysis::ColourValue;

    // 0x00BBGGRR of a Qt colour, the layout the pane's pixel read returns.
    ColourValue Bgr(QRgb rgb) { return analysis::MakeColour(qRed(rgb), qGreen(rgb), qBlue(rgb)); }

    // A picture whose every pixel differs, so a misplaced row or column shows.
    QImage Gradient(int width, int height, int seed = 0)
    {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.setPixel(
                    x, y, qRgb((x * 7 + seed) & 0xFF, (y * 13 + seed) & 0xFF, (x + y) & 0xFF));
        return image;
    }

    QImage Filled(int width, int height, QRgb colour)
    {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(colour);
        return image;
    }

    // Number of raster pixels that differ from what `expected(x, y)` says, and the first one.
    template <typename Expected> std::string Mismatches(const PicBox &pane, Expected expected)
    {
        int count = 0;
        std::string first;
        for (int y = 0; y < pane.Raster().height(); ++y)
            for (int x = 0; x < pane.Raster().width(); ++x)
                if (pane.ReadPixel(x, y) != expected(x, y) && count++ == 0)
                    first = " first at " + std::to_string(x) + "," + std::to_string(y);
        return std::to_string(count) + first;
    }

    // What earlier use left in the pane before a picture source runs.
    struct PriorState
    {
        const char *name;
        QSize size;
        QSize pictureSize; // empty: no picture
        bool drawnInto;
        ColourValue backColor;
    };

    const PriorState kPriorStates[] = {
        { "fresh pane", QSize(345, 265), QSize(), false, kWindowBackground },
        { "bigger than the new picture", QSize(400, 300), QSize(), true, 0x00123456 },
        { "smaller than the new picture", QSize(5, 4), QSize(), true, 0x00FF00FF },
        { "old picture, larger", QSize(90, 70), QSize(90, 70), false, kButtonFace },
        { "old picture, region drawn", QSize(30, 30), QSize(12, 40), true, 0x0000FF00 },
        { "zero size", QSize(0, 0), QSize(), false, 0x00000000 },
    };

    void Prepare(PicBox &pane, const PriorState &prior)
    {
        pane.SetBackColor(prior.backColor);
        pane.SetSize(prior.size.width(), prior.size.height());
        pane.Clear();
        if (!prior.pictureSize.isEmpty()) {
            pane.SetPicture(Gradient(prior.pictureSize.width(), prior.pictureSize.height(), 99));
            pane.SetSize(prior.pictureSize.width(), prior.pictureSize.height());
        }
        if (prior.drawnInto)
            pane.BlockCopy(Filled(8, 8, qRgb(1, 2, 3)), QRect(0, 0, 8, 8), QPoint(2, 2));
    }

    // The open command's order: clear, set picture, size to the picture, in two steps or in one.
    // Afterwards every raster pixel is the picture's, whatever the pane held before.
    TEST(PicBoxGuarantees, ClearSetPictureSizeShowsExactlyThePicture)
    {
        for (const bool oneStep : { false, true })
            for (const PriorState &prior : kPriorStates) {
                SCOPED_TRACE(testing::Message() << prior.name << (oneStep ? ", one step" : ""));
                PicBox pane;
                Prepare(pane, prior);
                const QImage picture = Gradient(37, 23);
                pane.Clear();
                if (oneStep) {
                    pane.SetPictureAndSize(picture, picture.width(), picture.height());
                } else {
                    pane.SetPicture(picture);
                    pane.SetSize(picture.width(), picture.height());
                }
                EXPECT_EQ(pane.Width(), 37);
                EXPECT_EQ(pane.Height(), 23);
                ASSERT_EQ(pane.Raster().size(), picture.size());
                EXPECT_EQ(
                    Mismatches(pane, [&](int x, int y) { return Bgr(picture.pixel(x, y)); }), "0");
                // Nothing drawn yet: the raster is the picture's own storage, not a second copy.
                EXPECT_EQ(pane.Raster().constBits(), picture.constBits());
            }
    }

    // The capture's order: new size, clear, block copy over the whole size. Afterwards every
    // raster pixel is a copied one, also where an earlier picture lay under it.
    TEST(PicBoxGuarantees, SizeClearFullCopyShowsExactlyTheCopy)
    {
        for (const PriorState &prior : kPriorStates) {
            SCOPED_TRACE(prior.name);
            PicBox pane;
            Prepare(pane, prior);
            const QImage screen = Gradient(200, 150, 7);
            const QRect band(30, 40, 51, 26);
            pane.SetSize(band.width(), band.height());
            pane.Clear();
            pane.BlockCopy(screen, band, QPoint(0, 0));
            ASSERT_EQ(pane.Raster().size(), band.size());
            EXPECT_EQ(
                Mismatches(pane,
                    [&](int x, int y) { return Bgr(screen.pixel(band.x() + x, band.y() + y)); }),
                "0");
        }
    }

    TEST(PicBox, ClearShowsBackgroundThenPictureAndDropsDrawing)
    {
        PicBox pane;
        pane.SetBackColor(0x00332211);
        pane.SetSize(20, 10);
        const QImage picture = Gradient(6, 4);
        pane.SetPicture(picture);
        pane.BlockCopy(Filled(20, 10, qRgb(9, 9, 9)), QRect(0, 0, 20, 10), QPoint(0, 0));
        ASSERT_EQ(pane.ReadPixel(0, 0), 0x00090909u);
        pane.Clear();
        EXPECT_EQ(Mismatches(pane,
                      [&](int x, int y) {
                          return picture.rect().contains(x, y) ? Bgr(picture.pixel(x, y))
                                                               : ColourValue { 0x00332211 };
                      }),
            "0");
        EXPECT_EQ(pane.Picture().size(), picture.size()) << "the picture survives a clear";
    }

    TEST(PicBox, SettingTheBackColourClearsAtOnce)
    {
        PicBox pane;
        pane.SetSize(4, 3);
        pane.BlockCopy(Filled(4, 3, qRgb(1, 1, 1)), QRect(0, 0, 4, 3), QPoint(0, 0));
        pane.SetBackColor(0x00FF8040);
        EXPECT_EQ(Mismatches(pane, [](int, int) { return ColourValue { 0x00FF8040 }; }), "0");
    }

    TEST(PicBox, SystemBackColourResolvesThroughThePalette)
    {
        PicBox pane;
        pane.SetSize(3, 3);
        pane.SetBackColor(kWindowBackground);
        EXPECT_EQ(pane.ReadPixel(1, 1), Bgr(QApplication::palette().color(QPalette::Base).rgb()));
        pane.SetBackColor(kButtonFace);
        EXPECT_EQ(pane.ReadPixel(1, 1), Bgr(QApplication::palette().color(QPalette::Button).rgb()));
    }

    TEST(PicBox, ReadPixelIsBgrInsideAndWhiteOutside)
    {
        PicBox pane;
        pane.SetSize(3, 2);
        QImage dot = Filled(1, 1, qRgb(0x12, 0x34, 0x56));
        pane.BlockCopy(dot, dot.rect(), QPoint(2, 1));
        EXPECT_EQ(pane.ReadPixel(2, 1), 0x00563412u);
        const QPoint outside[] = { { -1, 0 }, { 0, -1 }, { 3, 0 }, { 0, 2 }, { 3, 2 },
            { -2147483647 - 1, 0 }, { 0, 2147483647 } };
        for (const QPoint p : outside) {
            SCOPED_TRACE(std::to_string(p.x()) + "," + std::to_string(p.y()));
            EXPECT_EQ(pane.ReadPixel(p.x(), p.y()), 0xFFFFFFFFu);
        }
        // The bounds follow the raster when it changes size between two reads.
        pane.SetSize(1, 1);
        EXPECT_EQ(pane.ReadPixel(2, 1), 0xFFFFFFFFu);
        pane.SetSize(5, 5);
        EXPECT_NE(pane.ReadPixel(4, 4), 0xFFFFFFFFu);
    }

    TEST(PicBox, SizesRoundHalfToEvenAndNeverGoNegative)
    {
        struct Case
        {
            double width, height;
            QSize raster;
        };
        const Case cases[] = {
            { 10.5, 2.5, QSize(10, 2) },
            { 11.5, 3.5, QSize(12, 4) },
            { 0.6, 1.4, QSize(1, 1) },
            { 0.4, 7, QSize(0, 0) },
            { -5, 3, QSize(0, 0) }, // an image without columns has no rows either
            { 0, 0, QSize(0, 0) },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
            PicBox pane;
            pane.SetSize(c.width, c.height);
            EXPECT_EQ(pane.Raster().size(), c.raster);
            EXPECT_EQ(pane.Width(), c.width) << "the pane keeps the size it was given";
        }
    }

    TEST(PicBox, BlockCopySkipsWhatLiesOutsideEitherImage)
    {
        // Expected pixels worked out by hand: the source is 10 x 10, the raster 8 x 6.
        struct Case
        {
            const char *name;
            QRect from;
            QPoint to;
            QRect copiedInto; // raster area that receives source pixels
            QPoint sourceOfTopLeft;
        };
        const Case cases[] = {
            { "inside both", QRect(1, 2, 3, 2), QPoint(4, 3), QRect(4, 3, 3, 2), QPoint(1, 2) },
            { "source rect starts left of the source", QRect(-2, 0, 4, 1), QPoint(0, 0),
                QRect(2, 0, 2, 1), QPoint(0, 0) },
            { "destination above and left of the raster", QRect(0, 0, 5, 5), QPoint(-3, -1),
                QRect(0, 0, 2, 4), QPoint(3, 1) },
            { "runs past the raster's right and bottom", QRect(0, 0, 10, 10), QPoint(5, 4),
                QRect(5, 4, 3, 2), QPoint(0, 0) },
            { "entirely outside the raster", QRect(0, 0, 3, 3), QPoint(8, 0), QRect(), QPoint() },
            { "entirely outside the source", QRect(10, 10, 3, 3), QPoint(0, 0), QRect(), QPoint() },
            { "empty rect", QRect(2, 2, 0, 3), QPoint(0, 0), QRect(), QPoint() },
        };
        const QImage source = Gradient(10, 10, 3);
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            PicBox pane;
            pane.SetBackColor(0x00000001);
            pane.SetSize(8, 6);
            pane.BlockCopy(source, c.from, c.to);
            EXPECT_EQ(Mismatches(pane,
                          [&](int x, int y) {
                              if (!c.copiedInto.contains(x, y))
                                  return ColourValue { 0x00000001 };
                              const QPoint s
                                  = c.sourceOfTopLeft + QPoint(x, y) - c.copiedInto.topLeft();
                              return Bgr(source.pixel(s));
                          }),
                "0");
        }
    }

    TEST(PicBox, BlockCopyFromOtherFormatsKeepsTheColours)
    {
        QImage source(4, 4, QImage::Format_RGB888);
        source.fill(QColor(10, 20, 30));
        PicBox pane;
        pane.SetSize(2, 2);
        pane.BlockCopy(source, QRect(1, 1, 2, 2), QPoint(0, 0));
        EXPECT_EQ(Mismatches(pane, [](int, int) { return ColourValue { 0x001E140A }; }), "0");
    }

    TEST(PicBox, DrawingIntoASharedRasterLeavesThePictureAlone)
    {
        const QImage picture = Gradient(16, 16);
        const QRgb before = picture.pixel(0, 0);
        PicBox pane;
        pane.SetPicture(picture);
        pane.SetSize(16, 16);
        pane.BlockCopy(Filled(2, 2, qRgb(0, 0, 0)), QRect(0, 0, 2, 2), QPoint(0, 0));
        EXPECT_EQ(pane.ReadPixel(0, 0), 0u);
        EXPECT_EQ(picture.pixel(0, 0), before);
        EXPECT_EQ(pane.Picture().pixel(0, 0), before);
    }

    TEST(PicBox, NonRgb32PicturesAreShownOpaque)
    {
        QImage picture(3, 1, QImage::Format_RGB888);
        picture.fill(QColor(200, 100, 50));
        PicBox pane;
        pane.SetPicture(picture);
        pane.SetSize(3, 1);
        EXPECT_EQ(Mismatches(pane, [](int, int) { return ColourValue { 0x003264C8 }; }), "0");
    }

    // The scan reads the pane's whole raster, not only what its container shows.
    TEST(PicBox, ScanReadsTheWholeRaster)
    {
        struct Outputs
        {
            std::string info, hex;
            ColourValue swatch = 0;
            void ScanStarted() { }
            void ScanProgress(std::int32_t, std::int32_t) { }
            void ScanFinished(const analysis::ColourSummary &s)
            {
                hex = imaging::HexText(s);
                swatch = s.swatch;
            }
        } outputs;
        QWidget frame;
        frame.resize(50, 50);
        PicBox pane(&frame);
        QImage picture(2000, 1500, QImage::Format_RGB32);
        picture.fill(qRgb(0, 0, 255));
        // Red in the bottom-right quarter only, far outside the frame: mean red 255 / 4 = 63.
        for (int y = 750; y < 1500; ++y)
            for (int x = 1000; x < 2000; ++x)
                picture.setPixel(x, y, qRgb(255, 0, 0));
        pane.SetPicture(picture);
        pane.SetSize(2000, 1500);
        pane.SetPaneVisible(true);
        analysis::ColourScanner scanner;
        scanner.CalcColor(
            pane, [] {}, outputs);
        EXPECT_EQ(outputs.hex, "#3F00BF");
        EXPECT_EQ(outputs.swatch, 0x00BF003Fu);
    }

    TEST(PicBox, StartsHiddenInItsContainerAndShowsOnlyWhenTold)
    {
        QWidget frame;
        frame.resize(100, 100);
        PicBox pane(&frame);
        frame.show();
        EXPECT_FALSE(pane.isVisible());
        EXPECT_FALSE(pane.IsPaneVisible());
        pane.SetPaneVisible(true);
        EXPECT_TRUE(pane.isVisible());
        EXPECT_TRUE(pane.IsPaneVisible());
        frame.hide();
        EXPECT_TRUE(pane.IsPaneVisible()) << "the flag is the pane's own, not its window's";
    }

    TEST(PicBox, DoubleClickSignalsOnlyWhileVisible)
    {
        QWidget frame;
        frame.resize(100, 100);
        PicBox pane(&frame);
        pane.SetSize(40, 40);
        frame.show();
        QSignalSpy spy(&pane, &PicBox::DoubleClicked);
        QTest::mouseDClick(&pane, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        EXPECT_EQ(spy.count(), 0);
        pane.SetPaneVisible(true);
        QTest::mouseDClick(&pane, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        EXPECT_EQ(spy.count(), 1);
    }

    TEST(PicBox, PaintsTheRasterAtItsPixelSize)
    {
        QWidget frame;
        frame.resize(60, 60);
        PicBox pane(&frame);
        const QImage picture = Gradient(30, 20);
        pane.SetPicture(picture);
        pane.SetSize(30, 20);
        pane.SetPaneVisible(true);
        frame.show();
        ASSERT_EQ(pane.size(), QSize(30, 20));
        const QImage shown = pane.grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(shown.size(), picture.size());
        EXPECT_EQ(shown, picture);
    }

} // namespace
} // namespace platform
