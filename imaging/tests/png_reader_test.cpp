// The loader's own PNG reader against libpng's, which stays in the build as the reference: files
// written here by libpng from known samples, in every colour type and bit depth, interlaced or
// not, with tRNS, with each row filter; then damaged files, built chunk by chunk, which both must
// refuse for the same reason.
#include "imaging/decoded_image.h"
#include "imaging/png_filters.h"

#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using imaging::LoadFailure;

// Keeps every row where the decoder wrote it; unwritten pixels keep an alpha of 0.
class KeepingSink final : public analysis::RowSink
{
public:
    bool Start(std::int32_t w, std::int32_t h) override
    {
        width = w;
        height = h;
        pixels.assign(static_cast<std::size_t>(w) * h, 0x00ABCDEFu);
        return true;
    }
    std::uint32_t *RowSpace(std::int32_t y, std::int32_t, std::ptrdiff_t &stride) override
    {
        stride = width;
        return pixels.data() + static_cast<std::size_t>(y) * width;
    }
    void RowsDone(std::int32_t, std::int32_t) override { }

    std::int32_t width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
};

struct Drawn
{
    LoadFailure failure = LoadFailure::None;
    std::vector<std::uint32_t> pixels;
    std::int32_t width = 0, height = 0;
};

using Opener = imaging::OpenedImage (*)(imaging::FilePtr);

Drawn Draw(Opener open, const std::string &bytes, bool convert)
{
    std::string copy = bytes.empty() ? std::string(1, '\0') : bytes;
    imaging::FilePtr file(fmemopen(copy.data(), bytes.empty() ? 0 : copy.size(), "rb"));
    if (!file && bytes.empty())
        return { LoadFailure::CutShort, {}, 0, 0 };
    imaging::OpenedImage opened = open(std::move(file));
    if (!opened.image)
        return { opened.failure, {}, 0, 0 };
    opened.image->SetColourOptions({ .raw = !convert });
    KeepingSink sink;
    const LoadFailure failure = opened.image->DrawRows(sink, qRgb(0x33, 0x66, 0x99));
    return { failure, std::move(sink.pixels), sink.width, sink.height };
}

// Both readers on the same bytes: the same failure, and where there is none, the same rows.
void ExpectSameAsLibpng(const std::string &bytes, bool convert)
{
    const Drawn ours = Draw(imaging::OpenPng, bytes, convert);
    const Drawn reference = Draw(imaging::OpenPngThroughLibpng, bytes, convert);
    ASSERT_EQ(ours.failure, reference.failure);
    if (ours.failure != LoadFailure::None)
        return;
    ASSERT_EQ(ours.width, reference.width);
    ASSERT_EQ(ours.height, reference.height);
    for (std::size_t i = 0; i < ours.pixels.size(); ++i) {
        ASSERT_EQ(ours.pixels[i], reference.pixels[i])
            << "pixel " << i % ours.width << ", " << i / ours.width;
        ASSERT_EQ(ours.pixels[i] >> 24, 0xFFu);
    }
}

struct PngCase
{
    const char *name;
    int colourType;
    int bitDepth;
    bool interlaced;
    bool transparency;
};

// Named, not dumped byte by byte: gtest would read the padding, which valgrind flags.
void PrintTo(const PngCase &c, std::ostream *os) { *os << c.name; }

// A stored sample from the position alone, spread over the whole range of the depth.
unsigned Sample(int x, int y, int channel, int depth)
{
    const unsigned mixed = (x * 2654435761u) ^ (y * 40503u) ^ (channel * 97u) ^ (x * y * 13u);
    return (mixed >> 7) & ((1u << depth) - 1);
}

void WriteToString(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<std::string *>(png_get_io_ptr(png))->append(reinterpret_cast<char *>(data), length);
}

// The case's picture written by libpng with the given row filters (PNG_FILTER_* flags) and, when
// asked, a gAMA chunk so that the rows are converted. tRNS names the sample of pixel (1, 0), so
// some pixels are transparent; palettes hold every index the depth allows.
std::string WritePng(const PngCase &c, int width, int height, int filters, bool gamma)
{
    std::string bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        ADD_FAILURE() << "libpng could not write the case";
        return {};
    }
    png_set_write_fn(png, &bytes, WriteToString, nullptr);
    png_set_IHDR(png, info, width, height, c.bitDepth, c.colourType,
        c.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
        PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, 0, filters);
    const int channels = png_get_channels(png, info);
    std::vector<png_color> palette(1u << std::min(c.bitDepth, 8));
    std::vector<png_byte> alphas(palette.size());
    for (std::size_t i = 0; i < palette.size(); ++i) {
        palette[i] = { static_cast<png_byte>(i * 37), static_cast<png_byte>(255 - i * 11),
            static_cast<png_byte>(i * i) };
        alphas[i] = static_cast<png_byte>(i * 71);
    }
    if (c.colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (c.transparency) {
        png_color_16 key {};
        key.gray = key.red = static_cast<png_uint_16>(Sample(1, 0, 0, c.bitDepth));
        key.green = static_cast<png_uint_16>(Sample(1, 0, 1, c.bitDepth));
        key.blue = static_cast<png_uint_16>(Sample(1, 0, 2, c.bitDepth));
        const int count = c.colourType == PNG_COLOR_TYPE_PALETTE
            ? static_cast<int>(std::max<std::size_t>(1, palette.size() / 2))
            : 0;
        png_set_tRNS(png, info, alphas.data(), count, &key);
    }
    if (gamma)
        png_set_gAMA(png, info, 1 / 1.8);
    png_write_info(png, info);
    if (c.bitDepth < 8)
        png_set_packing(png);
    if (c.bitDepth == 16)
        png_set_swap(png); // rows below hold host-order 16-bit samples
    const int passes = png_set_interlace_handling(png);
    const std::size_t sampleBytes = c.bitDepth == 16 ? 2 : 1;
    std::vector<png_byte> row(static_cast<std::size_t>(width) * channels * sampleBytes);
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int i = 0; i < channels; ++i) {
                    const unsigned v = Sample(x, y, i, c.bitDepth);
                    const std::size_t at = (static_cast<std::size_t>(x) * channels + i);
                    if (sampleBytes == 2) {
                        const auto v16 = static_cast<std::uint16_t>(v);
                        std::memcpy(row.data() + 2 * at, &v16, 2);
                    } else {
                        row[at] = static_cast<png_byte>(v);
                    }
                }
            }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return bytes;
}

class PngReaderTest : public ::testing::TestWithParam<PngCase>
{
};

TEST_P(PngReaderTest, GivesLibpngsRows)
{
    const PngCase &c = GetParam();
    const int filterSets[] = { PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG,
        PNG_FILTER_PAETH, PNG_ALL_FILTERS };
    const int sizes[][2] = { { 37, 23 }, { 1, 1 }, { 3, 2 }, { 9, 1 } };
    for (const auto &size : sizes) {
        for (const int filters : filterSets) {
            for (const bool gamma : { false, true }) {
                SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " filters "
                                                << filters << (gamma ? " gAMA" : ""));
                const std::string bytes = WritePng(c, size[0], size[1], filters, gamma);
                ExpectSameAsLibpng(bytes, gamma);
            }
        }
    }
}

std::vector<PngCase> EveryLayout()
{
    static const char *const kTypeNames[7]
        = { "Grey", "", "Rgb", "Palette", "GreyAlpha", "", "Rgba" };
    static std::vector<std::string> names;
    std::vector<PngCase> cases;
    const struct
    {
        int type;
        std::vector<int> depths;
    } layouts[] = { { 0, { 1, 2, 4, 8, 16 } }, { 2, { 8, 16 } }, { 3, { 1, 2, 4, 8 } },
        { 4, { 8, 16 } }, { 6, { 8, 16 } } };
    names.reserve(128);
    for (const auto &layout : layouts) {
        for (const int depth : layout.depths) {
            for (const bool interlaced : { false, true }) {
                for (const bool transparency : { false, true }) {
                    if (transparency && (layout.type & 4) != 0)
                        continue;
                    names.push_back(std::string(kTypeNames[layout.type]) + std::to_string(depth)
                        + (interlaced ? "Interlaced" : "") + (transparency ? "Trns" : ""));
                    cases.push_back(
                        { names.back().c_str(), layout.type, depth, interlaced, transparency });
                }
            }
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryLayout, PngReaderTest, ::testing::ValuesIn(EveryLayout()),
    [](const ::testing::TestParamInfo<PngCase> &info) { return info.param.name; });

// Files built chunk by chunk, for the damage libpng's writer will not make.
std::string Be32(std::uint32_t v)
{
    return { static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
        static_cast<char>(v) };
}

std::string Chunk(const char *name, const std::string &body, bool goodCrc = true)
{
    std::string typed = std::string(name, 4) + body;
    std::uint32_t crc = crc32(0, reinterpret_cast<const Bytef *>(typed.data()), typed.size());
    return Be32(static_cast<std::uint32_t>(body.size())) + typed + Be32(goodCrc ? crc : ~crc);
}

std::string Deflate(const std::string &raw)
{
    uLongf length = compressBound(raw.size());
    std::string out(length, '\0');
    compress2(reinterpret_cast<Bytef *>(out.data()), &length,
        reinterpret_cast<const Bytef *>(raw.data()), raw.size(), 6);
    out.resize(length);
    return out;
}

const std::string kSignature = "\x89PNG\r\n\x1a\n";
constexpr int kWidth = 8, kHeight = 6;

std::string Header(std::uint32_t width = kWidth, int depth = 8, int type = 2)
{
    return Chunk("IHDR",
        Be32(width) + Be32(kHeight)
            + std::string { static_cast<char>(depth), static_cast<char>(type), 0, 0, 0 });
}

// RGB rows with every filter byte in turn, and the extra rows asked for.
std::string Rows(int rows = kHeight, int firstFilter = 0)
{
    std::string raw;
    for (int y = 0; y < rows; ++y) {
        raw += static_cast<char>(y == 0 ? firstFilter : y % 5);
        for (int x = 0; x < kWidth * 3; ++x)
            raw += static_cast<char>(x * 11 + y * 7);
    }
    return raw;
}

// The compressed rows in three IDAT chunks.
std::string Idats(const std::string &stream)
{
    const std::size_t third = stream.size() / 3;
    return Chunk("IDAT", stream.substr(0, third)) + Chunk("IDAT", stream.substr(third, third))
        + Chunk("IDAT", stream.substr(2 * third));
}

const std::string kEnd = Chunk("IEND", "");
const std::string kText = Chunk("tEXt", std::string("Title\0x", 7));

struct DamageCase
{
    const char *name;
    std::string bytes;
    LoadFailure expected;
};

std::vector<DamageCase> DamageCases()
{
    const std::string image = Idats(Deflate(Rows()));
    const std::string good = kSignature + Header() + image + kEnd;
    std::string badIdatCrc = good;
    badIdatCrc[kSignature.size() + 25 + 8 + 2] ^= 0x40; // a byte inside the first IDAT's data
    std::string badAdler = Deflate(Rows());
    badAdler.back() ^= 1;
    std::string afterStream = Deflate(Rows()) + "junk";
    const std::string palette = Chunk("PLTE", std::string("\xff\0\0\0\xff\0", 6));
    std::string indices;
    for (int y = 0; y < kHeight; ++y)
        indices += std::string(1, '\0') + std::string(kWidth, static_cast<char>(y));
    return {
        { "Sound", good, LoadFailure::None },
        { "DamagedAncillaryChunkIgnored",
            kSignature + Header() + Chunk("tEXt", "a", false) + image + kEnd, LoadFailure::None },
        { "DataAfterIendIgnored", good + "trailing", LoadFailure::None },
        { "IdatCrc", badIdatCrc, LoadFailure::Damaged },
        { "IhdrCrc", kSignature + Chunk("IHDR", Header().substr(8, 13), false) + image + kEnd,
            LoadFailure::Damaged },
        { "IendCrc", kSignature + Header() + image + Chunk("IEND", "", false),
            LoadFailure::Damaged },
        { "TruncatedInsideIdat", good.substr(0, good.size() - kEnd.size() - 20),
            LoadFailure::CutShort },
        { "NoIend", kSignature + Header() + image, LoadFailure::CutShort },
        { "TooLittleData", kSignature + Header() + Idats(Deflate(Rows(kHeight - 1))) + kEnd,
            LoadFailure::CutShort },
        { "TooMuchData", kSignature + Header() + Idats(Deflate(Rows(kHeight + 1))) + kEnd,
            LoadFailure::Damaged },
        { "BytesAfterTheStream", kSignature + Header() + Idats(afterStream) + kEnd,
            LoadFailure::Damaged },
        { "BadAdler32", kSignature + Header() + Idats(badAdler) + kEnd, LoadFailure::Damaged },
        { "BadFilterByte", kSignature + Header() + Idats(Deflate(Rows(kHeight, 5))) + kEnd,
            LoadFailure::Damaged },
        { "IdatAfterAnotherChunk",
            kSignature + Header() + image + kText + Chunk("IDAT", "x") + kEnd,
            LoadFailure::Damaged },
        { "ChunkBetweenIdats",
            kSignature + Header() + Chunk("IDAT", Deflate(Rows()).substr(0, 9)) + kText
                + Chunk("IDAT", Deflate(Rows()).substr(9)) + kEnd,
            LoadFailure::CutShort },
        { "IdatBeforeIhdr", kSignature + image + Header() + kEnd, LoadFailure::Damaged },
        { "TextBeforeIhdr", kSignature + kText + Header() + image + kEnd, LoadFailure::Damaged },
        { "ColourChunkBeforeIhdr",
            kSignature + Chunk("sRGB", std::string(1, '\0')) + Header() + image + kEnd,
            LoadFailure::None },
        { "SecondIhdr", kSignature + Header() + Header() + image + kEnd, LoadFailure::Damaged },
        { "IendBeforeIdat", kSignature + Header() + kEnd + image + kEnd, LoadFailure::Damaged },
        { "UnknownCriticalChunk", kSignature + Header() + Chunk("ABCD", "x") + image + kEnd,
            LoadFailure::Damaged },
        { "PaletteMissing", kSignature + Header(kWidth, 8, 3) + Idats(Deflate(indices)) + kEnd,
            LoadFailure::Damaged },
        { "PaletteAfterImageIgnored", kSignature + Header() + image + palette + kEnd,
            LoadFailure::None },
        { "IhdrAfterImage", kSignature + Header() + image + Header() + kEnd, LoadFailure::Damaged },
        { "UnknownCriticalChunkAfterImage",
            kSignature + Header() + image + Chunk("ABCD", "x") + kEnd, LoadFailure::Damaged },
        // libpng's palette has 256 entries, black past the chunk's end: indices 2 to 5 are black.
        { "PaletteIndexPastTheEnd",
            kSignature + Header(kWidth, 8, 3) + palette + Idats(Deflate(indices)) + kEnd,
            LoadFailure::None },
        { "ZeroWidth", kSignature + Header(0) + image + kEnd, LoadFailure::Damaged },
        { "WidthPastTheLimit", kSignature + Header(imaging::kMaxRasterSide + 1) + image + kEnd,
            LoadFailure::TooLarge },
        { "RgbOfFourBits", kSignature + Header(kWidth, 4, 2) + image + kEnd, LoadFailure::Damaged },
        { "BadSignature", "\x89PNG\r\n\x1a\r" + Header() + image + kEnd, LoadFailure::Damaged },
        { "SignatureOnly", kSignature, LoadFailure::CutShort },
    };
}

TEST(PngReaderDamageTest, RefusesAsLibpngDoes)
{
    for (const DamageCase &c : DamageCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Draw(imaging::OpenPngThroughLibpng, c.bytes, false).failure, c.expected);
        const Drawn ours = Draw(imaging::OpenPng, c.bytes, false);
        EXPECT_EQ(ours.failure, c.expected);
        ExpectSameAsLibpng(c.bytes, false);
        if (std::string(c.name) == "PaletteIndexPastTheEnd") {
            ASSERT_EQ(ours.pixels.size(), std::size_t { kWidth * kHeight });
            EXPECT_EQ(ours.pixels[kWidth], 0xFF00FF00u);
            EXPECT_EQ(ours.pixels[2 * kWidth], 0xFF000000u);
            EXPECT_EQ(ours.pixels[5 * kWidth + 7], 0xFF000000u);
        }
    }
}

// The vector filters against the byte-wise ones, on rows of random bytes.
TEST(PngFilterTest, VectorPathsMatchTheByteWiseOnes)
{
    std::mt19937 random(21);
    for (const int bpp : { 1, 2, 3, 4, 6, 8 }) {
        for (int filter = 0; filter <= 4; ++filter) {
            for (const std::size_t pixels : { 1, 2, 5, 64, 333 }) {
                SCOPED_TRACE(testing::Message()
                    << "bpp " << bpp << " filter " << filter << " pixels " << pixels);
                const std::size_t length = pixels * bpp;
                std::vector<std::uint8_t> above(length), row(length);
                for (auto &b : above)
                    b = static_cast<std::uint8_t>(random());
                for (auto &b : row)
                    b = static_cast<std::uint8_t>(random());
                std::vector<std::uint8_t> plain = row;
                ASSERT_TRUE(imaging::png::Unfilter(
                    static_cast<std::uint8_t>(filter), row.data(), above.data(), length, bpp));
                ASSERT_TRUE(imaging::png::UnfilterPlain(
                    static_cast<std::uint8_t>(filter), plain.data(), above.data(), length, bpp));
                EXPECT_EQ(row, plain);
            }
        }
    }
    std::vector<std::uint8_t> row(12, 7), above(12, 1);
    EXPECT_FALSE(imaging::png::Unfilter(5, row.data(), above.data(), 12, 3));
    EXPECT_EQ(row, std::vector<std::uint8_t>(12, 7));
}

} // namespace
