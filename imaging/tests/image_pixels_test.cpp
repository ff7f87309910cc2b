#include "imaging/image_pixels.h"

#include "analysis/calc_color.h"
#include "imaging/colour_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using analysis::ColourValue;
using imaging::ImagePixels;

struct Recorded
{
    std::string hex;
    void ScanStarted() { }
    void ScanProgress(std::int32_t, std::int32_t) { }
    void ScanFinished(const analysis::ColourSummary &summary) { hex = imaging::HexText(summary); }
};

// The scan's hex text over the pixels.
std::string ScanHex(const ImagePixels &pixels)
{
    Recorded out;
    analysis::ColourScanner scanner;
    scanner.CalcColor(
        pixels, [] {}, out);
    return out.hex;
}

TEST(ImagePixels, ReadsEachPixelAs0x00BBGGRRIgnoringTheAlphaByte)
{
    const struct
    {
        QRgb stored;
        ColourValue read;
    } cases[] = {
        { 0xFF112233u, 0x00332211u },
        { 0xFFFF0000u, 0x000000FFu }, // red is the low byte
        { 0xFF0000FFu, 0x00FF0000u }, // blue the third
        { 0x00ABCDEFu, 0x00EFCDABu }, // whatever the alpha byte holds
        { 0x7FFFFFFFu, 0x00FFFFFFu },
    };
    QImage image(static_cast<int>(std::size(cases)), 1, QImage::Format_RGB32);
    auto *row = reinterpret_cast<QRgb *>(image.scanLine(0));
    for (std::size_t i = 0; i < std::size(cases); ++i)
        row[i] = cases[i].stored;
    const ImagePixels pixels(image);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pixels.ReadPixel(static_cast<int>(i), 0), cases[i].read);
    }
}

TEST(ImagePixels, PointsOutsideThePictureReadAsWhiteMarker)
{
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    const ImagePixels pixels(image);
    const struct
    {
        int x, y;
    } outside[] = { { -1, 0 }, { 3, 0 }, { 0, -1 }, { 0, 2 }, { 3, 2 }, { -2147483647 - 1, 0 } };
    for (const auto &p : outside) {
        SCOPED_TRACE(testing::Message() << p.x << ", " << p.y);
        EXPECT_EQ(pixels.ReadPixel(p.x, p.y), 0xFFFFFFFFu);
    }
    EXPECT_EQ(pixels.ReadPixel(2, 1), 0x00030201u);
}

TEST(ImagePixels, PaddedRowsAreReadAtTheirStride)
{
    // 3 pixels a row in 5 pixels of memory: the padding holds a colour that must never be read.
    std::vector<QRgb> memory(5 * 2, qRgb(99, 99, 99));
    for (int x = 0; x < 3; ++x) {
        memory[static_cast<std::size_t>(x)] = qRgb(10 * x, 0, 0);
        memory[static_cast<std::size_t>(5 + x)] = qRgb(0, 10 * x, 0);
    }
    const QImage image(
        reinterpret_cast<const uchar *>(memory.data()), 3, 2, 5 * 4, QImage::Format_RGB32);
    const ImagePixels pixels(image);
    EXPECT_EQ(pixels.ReadPixel(2, 0), 20u);
    EXPECT_EQ(pixels.ReadPixel(2, 1), 20u << 8);
    EXPECT_EQ(ScanHex(pixels), "#050500"); // means of (0+10+20+0+0+0)/6 red and likewise green
}

TEST(ImagePixels, OtherFormatsAreConvertedOnce)
{
    QImage indexed(2, 1, QImage::Format_Indexed8);
    indexed.setColorTable({ qRgb(255, 0, 0), qRgb(0, 0, 255) });
    indexed.setPixel(0, 0, 0);
    indexed.setPixel(1, 0, 1);
    QImage rgb888(1, 1, QImage::Format_RGB888);
    rgb888.fill(qRgb(1, 2, 3));
    EXPECT_EQ(ImagePixels(indexed).ReadPixel(0, 0), 0x0000FFu);
    EXPECT_EQ(ImagePixels(indexed).ReadPixel(1, 0), 0xFF0000u);
    EXPECT_EQ(ImagePixels(rgb888).ReadPixel(0, 0), 0x030201u);
}

TEST(ImagePixels, NullPictureScansAsEmpty)
{
    const ImagePixels pixels { QImage() };
    EXPECT_EQ(pixels.ReadPixel(0, 0), 0xFFFFFFFFu);
    EXPECT_EQ(ScanHex(pixels), "#000000");
}

} // namespace
