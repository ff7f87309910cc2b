// A picture handed over as bytes (dropped or pasted without a file) goes through the same
// decoders as a file: the same picture, and the same load error, naming what the caller named.
#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>

namespace {

using fixtures::JpegVariant;
using fixtures::PngVariant;
using modGDIPlusResize::LoadError;
using modGDIPlusResize::LoadPictureScaled;

constexpr analysis::ColourValue kSlate = 0x996633; // (0x33, 0x66, 0x99)

// Keeps the loader started for one test.
struct Started
{
    std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    ~Started() { modGDIPlusResize::GdiPlusClose(token); }
};

// Number of descriptors this process has open, to catch one left behind.
int OpenDescriptors()
{
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd)
        count += ::fcntl(fd, F_GETFD) != -1;
    return count;
}

TEST(LoadFromMemory, GivesWhatTheSameFileGives)
{
    const QImage picture = fixtures::Bands(
        31, 17, 4, { qRgba(255, 0, 0, 255), qRgba(0, 255, 0, 128), qRgba(0, 0, 255, 0) });
    struct Case
    {
        const char *name;
        QByteArray bytes;
    };
    const Case cases[] = {
        { "PNG with alpha", fixtures::EncodePng(picture, PngVariant::Rgba8) },
        { "interlaced PNG", fixtures::EncodePng(picture, PngVariant::InterlacedRgba8) },
        { "JPEG", fixtures::EncodeJpeg(picture, JpegVariant::Baseline420) },
        { "progressive JPEG", fixtures::EncodeJpeg(picture, JpegVariant::Progressive) },
        { "BMP, decoded by Qt from a descriptor", fixtures::EncodeWithQt(picture, "bmp") },
        { "ICO, decoded by Qt from a descriptor", fixtures::EncodeWithQt(picture, "ico") },
    };
    Started started;
    QTemporaryDir folder;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder.filePath("picture");
        fixtures::WriteFile(path, c.bytes);
        std::int32_t fileWidth = -1, fileHeight = -1, width = -1, height = -1;
        const QImage fromFile = LoadPictureScaled(path, fileWidth, fileHeight, kSlate);
        const int descriptors = OpenDescriptors();
        const QImage fromMemory = LoadPictureScaled(c.bytes, "pasted", width, height, kSlate);
        EXPECT_EQ(OpenDescriptors(), descriptors) << "the in-memory file is closed";
        EXPECT_EQ(width, 31);
        EXPECT_EQ(height, 17);
        EXPECT_EQ(fromMemory, fromFile);
    }
}

TEST(LoadFromMemory, DamagedBytesAreTheLoadErrorNamingTheGivenName)
{
    const QByteArray png = fixtures::EncodePng(
        fixtures::Bands(40, 40, 5, { qRgb(1, 2, 3), qRgb(4, 5, 6) }), PngVariant::Rgb8);
    struct Case
    {
        const char *name;
        QByteArray bytes;
    };
    const Case cases[] = {
        { "nothing", QByteArray() },
        { "text", QByteArray("not a picture") },
        { "PNG cut in half", png.left(png.size() / 2) },
        { "PNG header claiming a size beyond the limit", fixtures::PngClaimingSize(70000, 70000) },
    };
    Started started;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const int descriptors = OpenDescriptors();
        std::int32_t width = -1, height = -1;
        try {
            (void)LoadPictureScaled(c.bytes, "(clipboard)", width, height, kSlate);
            ADD_FAILURE() << "loaded";
        } catch (const LoadError &error) {
            EXPECT_EQ(error.Description(), "Error loading picture (clipboard)");
        }
        EXPECT_EQ(width, -1) << "sizes change only on success";
        EXPECT_EQ(OpenDescriptors(), descriptors) << "the in-memory file is closed";
    }
}

} // namespace
