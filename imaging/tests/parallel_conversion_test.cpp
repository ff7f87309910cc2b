// Rows converted on a thread of their own reach the sink in order and as converted in turn, also
// when the sink runs out of memory or the decoder stops early; a big tagged JPEG decoded that way
// equals its raw rows converted one after another.
#include "imaging/parallel_conversion.h"

#include "imaging/colour_converter.h"
#include "imaging/picture_rows.h"
#include "imaging/tests/keeping_sink.h"
#include "imaging/tests/tagged_fixtures.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <thread>
#include <vector>

namespace {

using imaging::ParallelConversion;

// Keeps the rows it takes; refuses the picture, or runs out of memory at a row, when told to.
class RecordingSink final : public analysis::RowSink
{
public:
    bool refuse = false;
    std::int32_t failAtRow = -1;
    std::int32_t width = 0;
    std::vector<std::uint32_t> pixels;
    std::vector<std::int32_t> firstRows;

    bool Start(std::int32_t w, std::int32_t) override
    {
        width = w;
        return !refuse;
    }
    std::uint32_t *RowSpace(std::int32_t, std::int32_t, std::ptrdiff_t &) override
    {
        return nullptr; // everything arrives through TakeRows
    }
    void RowsDone(std::int32_t, std::int32_t) override { }
    bool TakeRows(std::int32_t y, std::int32_t count, std::int32_t w, const std::uint32_t *rows,
        std::ptrdiff_t stride) override
    {
        if (failAtRow >= y && failAtRow < y + count)
            return false;
        firstRows.push_back(y);
        for (std::int32_t i = 0; i < count; ++i)
            pixels.insert(pixels.end(), rows + i * stride, rows + i * stride + w);
        return true;
    }
};

std::uint32_t Stored(std::int32_t x, std::int32_t y) { return 0xFF000000u | (y << 12) | x; }
void Invert(std::uint32_t *row, std::int32_t n)
{
    for (std::int32_t i = 0; i < n; ++i)
        row[i] ^= 0x00FFFFFFu;
}

// Writes rows as a decoder does, `step` rows a call, and stops after `stopAfter` rows (or at the
// first null space); returns the rows written.
std::int32_t Decode(ParallelConversion &rows, std::int32_t width, std::int32_t height,
    std::int32_t step, std::int32_t stopAfter)
{
    std::int32_t y = 0;
    while (y < height && y < stopAfter) {
        const std::int32_t n = std::min(step, height - y);
        std::ptrdiff_t stride = 0;
        std::uint32_t *space = rows.RowSpace(y, n, stride);
        if (!space)
            break;
        for (std::int32_t i = 0; i < n; ++i) {
            for (std::int32_t x = 0; x < width; ++x)
                space[i * stride + x] = Stored(x, y + i);
        }
        rows.RowsDone(y, n);
        y += n;
    }
    return y;
}

struct Case
{
    const char *name;
    std::int32_t width, height, step;
    std::int32_t stopAfter; // the decoder gives up there
    std::int32_t failAtRow; // the sink has no memory for this row
    bool delivered; // what Finish says
    std::int32_t rowsReached; // rows the sink kept
};

// gtest names a failing case by its name rather than a dump of its bytes.
void PrintTo(const Case &c, std::ostream *out) { *out << c.name; }

const Case kCases[] = {
    { "WholePictureInRowGroups", 37, 200, 16, 1 << 30, -1, true, 200 },
    { "OneRowACall", 5, 50, 1, 1 << 30, -1, true, 50 },
    { "LastGroupShort", 8, 35, 16, 1 << 30, -1, true, 35 },
    { "DecoderStopsEarly", 8, 200, 16, 64, -1, true, 64 },
    { "SinkOutOfMemory", 8, 400, 16, 1 << 30, 100, false, 96 },
};

class ParallelConversionTest : public testing::TestWithParam<Case>
{
};

TEST_P(ParallelConversionTest, RowsReachTheSinkInOrderAndConverted)
{
    const Case &c = GetParam();
    RecordingSink sink;
    sink.failAtRow = c.failAtRow;
    {
        ParallelConversion rows(sink, Invert);
        ASSERT_TRUE(rows.Start(c.width, c.height));
        Decode(rows, c.width, c.height, c.step, c.stopAfter);
        EXPECT_EQ(rows.Finish(), c.delivered);
    }
    ASSERT_EQ(sink.pixels.size(), static_cast<std::size_t>(c.width) * c.rowsReached);
    for (std::int32_t y = 0; y < c.rowsReached; ++y) {
        for (std::int32_t x = 0; x < c.width; ++x) {
            ASSERT_EQ(sink.pixels[y * c.width + x], Stored(x, y) ^ 0x00FFFFFFu)
                << "x " << x << " y " << y;
        }
    }
    for (std::size_t i = 1; i < sink.firstRows.size(); ++i)
        EXPECT_LT(sink.firstRows[i - 1], sink.firstRows[i]);
}

INSTANTIATE_TEST_SUITE_P(Cases, ParallelConversionTest, testing::ValuesIn(kCases),
    [](const auto &info) { return info.param.name; });

TEST(ParallelConversion, ARefusedPictureStartsNothing)
{
    RecordingSink sink;
    sink.refuse = true;
    ParallelConversion rows(sink, Invert);
    EXPECT_FALSE(rows.Start(10, 10));
}

TEST(ParallelConversion, NoSpaceForMoreRowsThanAPart)
{
    RecordingSink sink;
    ParallelConversion rows(sink, Invert);
    ASSERT_TRUE(rows.Start(10, 100));
    std::ptrdiff_t stride = 0;
    EXPECT_EQ(rows.RowSpace(0, ParallelConversion::kSlotRows + 1, stride), nullptr);
    EXPECT_NE(rows.RowSpace(0, ParallelConversion::kSlotRows, stride), nullptr);
}

TEST(ParallelConversion, DroppedMidwayWithoutFinishing)
{
    RecordingSink sink;
    {
        ParallelConversion rows(sink, Invert);
        ASSERT_TRUE(rows.Start(64, 1000));
        Decode(rows, 64, 1000, 16, 500);
    }
    EXPECT_LE(sink.pixels.size(), std::size_t { 64 } * 500);
}

// Big enough for the JPEG reader to convert on a thread of its own.
TEST(ParallelConversion, BigTaggedJpegEqualsItsRawRowsConvertedInTurn)
{
    ASSERT_TRUE(imaging::ConvertsInParallel(std::int64_t { 1024 } * 1100)
        || std::thread::hardware_concurrency() < 2);
    QImage picture(1024, 1100, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x)
            row[x] = qRgb(x & 0xFF, y & 0xFF, (x * 7 + y * 3) & 0xFF);
    }
    const QByteArray profile = fixtures::DisplayP3Profile();
    const std::string jpeg = fixtures::JpegWithProfile(picture, profile).toStdString();

    const auto draw = [&](bool raw, imaging::ColourReport *report) {
        fixtures::KeepingSink sink;
        EXPECT_EQ(modGDIPlusResize::DrawPictureRows(modGDIPlusResize::PictureBytes { jpeg }, sink,
                      0xFFFFFF, imaging::ColourOptions { raw }, report),
            imaging::LoadFailure::None);
        return sink.pixels;
    };
    imaging::ColourReport report;
    const std::vector<std::uint32_t> converted = draw(false, &report);
    std::vector<std::uint32_t> expected = draw(true, nullptr);
    ASSERT_EQ(converted.size(), expected.size());

    imaging::ColourDescription p3;
    p3.kind = imaging::ColourDescription::Kind::Icc;
    p3.icc.assign(profile.begin(), profile.end());
    imaging::ColourConverter inTurn = imaging::ColourConverter::For(p3);
    for (std::size_t y = 0; y < 1100; ++y)
        inTurn.ConvertRow(expected.data() + y * 1024, 1024);
    EXPECT_EQ(converted, expected);
    EXPECT_EQ(report.clippedPixels, inTurn.ClippedPixels());
    EXPECT_GT(report.clippedPixels, 0u);
}

} // namespace
