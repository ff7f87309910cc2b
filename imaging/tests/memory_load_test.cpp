// A picture handed over as bytes (dropped or pasted without a file) goes through the same
// decoders as a file: the same picture, or the same load error naming what the caller named, and
// no descriptor left open either way.
#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>

namespace {

using fixtures::PngVariant;
using modGDIPlusResize::LoadPictureScaled;

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
    const QByteArray png = fixtures::EncodePng(picture, PngVariant::Rgba8);
    const struct
    {
        const char *name;
        QByteArray bytes;
        bool loads;
    } cases[] = {
        { "PNG with alpha", png, true },
        { "progressive JPEG", fixtures::EncodeJpeg(picture, fixtures::JpegVariant::Progressive),
            true },
        { "BMP, which Qt reads from the descriptor", fixtures::EncodeWithQt(picture, "bmp"), true },
        { "nothing", QByteArray(), false },
        { "PNG cut in half", png.left(png.size() / 2), false },
        { "size beyond the limit", fixtures::PngClaimingSize(70000, 70000), false },
    };
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    QTemporaryDir folder;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = folder.filePath("picture");
        fixtures::WriteFile(path, c.bytes);
        const int descriptors = OpenDescriptors();
        std::int32_t width = -1, height = -1;
        try {
            const QImage fromMemory
                = LoadPictureScaled(c.bytes, "(clipboard)", width, height, 0x996633);
            std::int32_t fileWidth = -1, fileHeight = -1;
            EXPECT_TRUE(c.loads);
            EXPECT_EQ(fromMemory, LoadPictureScaled(path, fileWidth, fileHeight, 0x996633));
            EXPECT_EQ(QSize(width, height), QSize(31, 17));
        } catch (const modGDIPlusResize::LoadError &error) {
            EXPECT_FALSE(c.loads);
            EXPECT_EQ(error.Description(), "Error loading picture (clipboard)");
            EXPECT_EQ(width, -1) << "sizes change only on success";
        }
        EXPECT_EQ(OpenDescriptors(), descriptors) << "the in-memory file is closed";
    }
    modGDIPlusResize::GdiPlusClose(token);
}

} // namespace
