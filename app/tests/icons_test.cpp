#include <QFile>
#include <QImage>
#include <QImageReader>

#include <gtest/gtest.h>

#include <set>
#include <utility>

namespace {

const QString kIcons = QStringLiteral(QUILLMERE_ICON_DIR);

// One entry of an .ico directory: width, height, bits per pixel and the data's place in the file.
struct IconEntry
{
    int size;
    int bits;
    quint32 bytes;
    quint32 offset;
};

// A little-endian number of `bytes` bytes at `at`; the caller has checked the length.
quint32 ReadLittleEndian(const QByteArray &file, qsizetype at, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<quint8>(file.at(at + i));
    return value;
}

std::vector<IconEntry> ReadDirectory(const QByteArray &file)
{
    std::vector<IconEntry> entries;
    if (file.size() < 6 || ReadLittleEndian(file, 2, 2) != 1)
        return entries;
    const int count = static_cast<int>(ReadLittleEndian(file, 4, 2));
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= file.size(); ++i) {
        const qsizetype entry = 6 + 16 * i;
        const int width = static_cast<quint8>(file.at(entry));
        entries.push_back(
            { width == 0 ? 256 : width, static_cast<int>(ReadLittleEndian(file, entry + 6, 2)),
                ReadLittleEndian(file, entry + 8, 4), ReadLittleEndian(file, entry + 12, 4) });
    }
    return entries;
}

// The Windows icon: 48, 32, 24 and 16 pixels, each at 256 colours and at 32 bits per pixel.
TEST(Icons, WindowsIconHoldsEightImages)
{
    QFile file(kIcons + "/quillmere.ico");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    const std::vector<IconEntry> entries = ReadDirectory(bytes);
    std::set<std::pair<int, int>> found;
    for (const IconEntry &e : entries) {
        found.insert({ e.size, e.bits });
        EXPECT_LE(qint64(e.offset) + e.bytes, bytes.size()) << "entry " << e.size << "/" << e.bits;
    }
    const std::set<std::pair<int, int>> expected = { { 48, 8 }, { 32, 8 }, { 24, 8 }, { 16, 8 },
        { 48, 32 }, { 32, 32 }, { 24, 32 }, { 16, 32 } };
    EXPECT_EQ(found, expected);
    EXPECT_EQ(entries.size(), 8u);
}

// Every image of the .ico decodes and shows the same tile as the PNG of its size: exactly at 32
// bits, within the 256-colour palette's reach at 8 bits.
TEST(Icons, EveryImageShowsTheTile)
{
    QFile file(kIcons + "/quillmere.ico");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::vector<IconEntry> entries = ReadDirectory(file.readAll());
    QImageReader reader(kIcons + "/quillmere.ico");
    ASSERT_EQ(reader.imageCount(), static_cast<int>(entries.size()));
    for (int i = 0; i < reader.imageCount(); ++i) {
        const IconEntry &e = entries[static_cast<std::size_t>(i)];
        SCOPED_TRACE(std::to_string(e.size) + " px, " + std::to_string(e.bits) + " bits");
        ASSERT_TRUE(reader.jumpToImage(i));
        const QImage image = reader.read();
        const QImage png
            = QImage(kIcons + QStringLiteral("/hicolor/%1x%1/apps/quillmere.png").arg(e.size));
        ASSERT_EQ(image.size(), QSize(e.size, e.size));
        ASSERT_EQ(png.size(), image.size());
        int worst = 0;
        if (e.bits == 32) {
            // Premultiplied on both sides, so edge pixels compare without rounding noise.
            const QImage a = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            const QImage b = png.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            worst = a == b ? 0 : 255;
        } else {
            // One palette colour per pixel and a one-bit mask: opaque where the tile mostly is.
            const QImage a = image.convertToFormat(QImage::Format_ARGB32);
            const QImage b = png.convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < e.size; ++y)
                for (int x = 0; x < e.size; ++x) {
                    const QRgb p = a.pixel(x, y);
                    const QRgb q = b.pixel(x, y);
                    if (qAlpha(q) >= 128)
                        worst = std::max({ worst, 255 - qAlpha(p), std::abs(qRed(p) - qRed(q)),
                            std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q)) });
                    else
                        worst = std::max(worst, qAlpha(p));
                }
        }
        EXPECT_LE(worst, e.bits == 32 ? 0 : 24);
    }
}

} // namespace
