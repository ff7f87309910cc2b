// JPEG files that other programs open: harmless warnings, and the scan limit.
#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace {

using fixtures::JpegVariant;

class JpegFiles : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        token = modGDIPlusResize::GdiPlusOpen();
    }
    void TearDown() override { modGDIPlusResize::GdiPlusClose(token); }

    // The picture, or nothing for the load error.
    std::optional<QImage> Load(const char *name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(QString::fromLatin1(name));
        fixtures::WriteFile(path, bytes);
        std::int32_t width = -1, height = -1;
        try {
            return modGDIPlusResize::LoadPictureScaled(path, width, height, 0xFFFFFF);
        } catch (const modGDIPlusResize::LoadError &) {
            return std::nullopt;
        }
    }

    QTemporaryDir dir;
    std::uintptr_t token = 0;
};

QByteArray InsertBefore(QByteArray jpeg, const QByteArray &marker, const QByteArray &junk)
{
    const qsizetype at
        = marker == QByteArray("\xFF\xD9", 2) ? jpeg.lastIndexOf(marker) : jpeg.indexOf(marker);
    EXPECT_GT(at, 0);
    return jpeg.insert(at, junk);
}

// Bytes that are not a marker between two markers draw a warning from libjpeg and nothing else:
// the picture is the same pixel for pixel.
TEST_F(JpegFiles, JunkBetweenMarkersAndOtherHarmlessWarningsKeepThePicture)
{
    const QByteArray clean = fixtures::EncodeJpeg(
        fixtures::Bands(48, 32, 16, { qRgb(200, 30, 60), qRgb(20, 160, 90), qRgb(250, 240, 10) }),
        JpegVariant::Baseline420);
    QByteArray jfif2 = clean;
    jfif2[jfif2.indexOf(QByteArray("JFIF\0", 5)) + 5] = 2; // unknown JFIF major revision
    const struct
    {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        { "junk before the quantisation tables",
            InsertBefore(clean, QByteArray("\xFF\xDB", 2), QByteArray("\x00\x13\x37", 3)) },
        { "junk between the scan data and the end marker",
            InsertBefore(clean, QByteArray("\xFF\xD9", 2), QByteArray("\x0A\x0D\x0A\x00", 4)) },
        { "unknown JFIF revision", jfif2 },
    };
    const std::optional<QImage> expected = Load("clean.jpg", clean);
    ASSERT_TRUE(expected);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QImage> picture = Load("warned.jpg", c.bytes);
        ASSERT_TRUE(picture);
        EXPECT_EQ(*picture, *expected);
    }
}

// Real encoders write a few dozen scans at most. A file with hundreds of tiny scans over a huge
// declared picture would take seconds per hundred scans; it is refused before decoding starts.
TEST_F(JpegFiles, ProgressiveFilesAreRefusedAboveTwoHundredScansAtOnce)
{
    QImage gray(16, 16, QImage::Format_RGB32);
    gray.fill(qRgb(90, 90, 90));
    QByteArray hostile = fixtures::EncodeJpeg(gray, JpegVariant::Grayscale, 95, 500);
    const qsizetype sof = hostile.indexOf(QByteArray("\xFF\xC2", 2));
    ASSERT_GT(sof, 0);
    hostile.replace(sof + 5, 4, QByteArray("\x40\x00\x40\x00", 4)); // 16384 x 16384
    const struct
    {
        const char *name;
        QByteArray bytes;
        bool loads;
    } cases[] = {
        { "200 scans", fixtures::EncodeJpeg(gray, JpegVariant::Grayscale, 95, 200), true },
        { "201 scans", fixtures::EncodeJpeg(gray, JpegVariant::Grayscale, 95, 201), false },
        { "500 scans over 16384 x 16384", hostile, false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QElapsedTimer clock;
        clock.start();
        const std::optional<QImage> picture = Load("scans.jpg", c.bytes);
        EXPECT_LT(clock.elapsed(), 1000);
        ASSERT_EQ(picture.has_value(), c.loads);
        if (c.loads) {
            EXPECT_NEAR(qRed(picture->pixel(8, 8)), 90, 2);
        }
    }
}

} // namespace
