// AVIF pictures of 10 and 12 bits without colour conversion: every pixel worked out from the
// stored samples and rounded once to 8 bits, as an 8-bit picture of the same content would be.
// And pictures coded with BT.2020's constant luminance, which libavif does not convert.
#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/format_tools.h"

#include <gtest/gtest.h>

#include <avif/avif.h>

#include <QBuffer>
#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr analysis::ColourValue kSlate = 0x996633; // 0x00BBGGRR of kBg
constexpr QRgb kBg = 0xFF336699;

// A 16-bit gradient whose steps fall between 8-bit codes, with a translucent corner.
QByteArray DeepGradientPng(bool alpha)
{
    QImage picture(48, 32, alpha ? QImage::Format_RGBA64 : QImage::Format_RGBX64);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const int a = alpha && x >= 32 && y >= 16 ? 20000 + x * 900 : 65535;
            picture.setPixelColor(x, y,
                QColor::fromRgba64(static_cast<quint16>(x * 1301 + 77),
                    static_cast<quint16>(y * 1999 + 5), static_cast<quint16>((x + y) * 811),
                    static_cast<quint16>(a)));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    return png;
}

int Rounded(unsigned value, unsigned top)
{
    return static_cast<int>(std::lround(value * 255.0 / top));
}

QRgb Over(int r, int g, int b, int a)
{
    const auto mix = [a](int c, int under) {
        return static_cast<int>(std::lround((c * a + under * (255 - a)) / 255.0));
    };
    return qRgb(mix(r, qRed(kBg)), mix(g, qGreen(kBg)), mix(b, qBlue(kBg)));
}

unsigned Sample(const avifImage &image, int plane, int x, int y)
{
    const std::uint8_t *row = plane == 3
        ? image.alphaPlane + static_cast<std::size_t>(image.alphaRowBytes) * y
        : image.yuvPlanes[plane] + static_cast<std::size_t>(image.yuvRowBytes[plane]) * y;
    return reinterpret_cast<const std::uint16_t *>(row)[x];
}

// R, G, B from 0 to 1 by the matrix's own formulas (identity: Y is green, U blue, V red).
std::array<double, 3> RgbOf(const avifImage &image, int x, int y)
{
    const double top = (1u << image.depth) - 1, scale = (1u << image.depth) / 256.0;
    const bool full = image.yuvRange == AVIF_RANGE_FULL;
    const double luma = Sample(image, AVIF_CHAN_Y, x, y);
    const double u = Sample(image, AVIF_CHAN_U, x, y), v = Sample(image, AVIF_CHAN_V, x, y);
    if (image.matrixCoefficients == AVIF_MATRIX_COEFFICIENTS_IDENTITY)
        return { v / top, luma / top, u / top };
    const double kr = image.matrixCoefficients == AVIF_MATRIX_COEFFICIENTS_BT709 ? 0.2126 : 0.299;
    const double kb = image.matrixCoefficients == AVIF_MATRIX_COEFFICIENTS_BT709 ? 0.0722 : 0.114;
    const double kg = 1 - kr - kb;
    const double e = full ? luma / top : (luma - 16 * scale) / (219 * scale);
    const double half = 128 * scale;
    const double pb = full ? (u - half) / top : (u - half) / (224 * scale);
    const double pr = full ? (v - half) / top : (v - half) / (224 * scale);
    const double r = e + 2 * (1 - kr) * pr, b = e + 2 * (1 - kb) * pb;
    return { r, (e - kr * r - kb * b) / kg, b };
}

// 0 to 255, or -1 where a value lies so near a half that float and double may round apart.
int Rounded8(double value)
{
    const double level = std::clamp(value, 0.0, 1.0) * 255;
    return std::abs(level - std::floor(level) - 0.5) < 0.02 ? -1
                                                            : static_cast<int>(std::lround(level));
}

// libavif's own conversion at 16 bits, which works in floating point from the full samples,
// rounded to 8 bits here; -1 for a value too near a half to call.
std::vector<std::array<int, 3>> RgbByLibavif16(const avifImage &image)
{
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, &image);
    rgb.format = AVIF_RGB_FORMAT_RGBA;
    rgb.depth = 16;
    rgb.avoidLibYUV = AVIF_TRUE;
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(image.width) * image.height * 4);
    rgb.pixels = reinterpret_cast<std::uint8_t *>(samples.data());
    rgb.rowBytes = image.width * 8;
    std::vector<std::array<int, 3>> pixels;
    if (avifImageYUVToRGB(&image, &rgb) != AVIF_RESULT_OK)
        return pixels;
    for (std::size_t i = 0; i < samples.size(); i += 4)
        pixels.push_back({ Rounded8(samples[i] / 65535.0), Rounded8(samples[i + 1] / 65535.0),
            Rounded8(samples[i + 2] / 65535.0) });
    return pixels;
}

// The file's planes as stored, converted and rounded to 8 bits here, over kBg; 0 for a pixel
// too near a half to call. Empty unless the file has the depth and 4:4:4 asked for.
std::vector<QRgb> ExpectedPixels(const QByteArray &file, int bits, int &width, int &height)
{
    std::unique_ptr<avifImage, decltype(&avifImageDestroy)> image(
        avifImageCreateEmpty(), avifImageDestroy);
    std::unique_ptr<avifDecoder, decltype(&avifDecoderDestroy)> decoder(
        avifDecoderCreate(), avifDecoderDestroy);
    if (avifDecoderReadMemory(decoder.get(), image.get(),
            reinterpret_cast<const std::uint8_t *>(file.constData()),
            static_cast<size_t>(file.size()))
            != AVIF_RESULT_OK
        || image->depth != static_cast<std::uint32_t>(bits))
        return {};
    // Subsampled chroma is upsampled as libavif does, which these formulas leave out.
    const std::vector<std::array<int, 3>> upsampled = image->yuvFormat == AVIF_PIXEL_FORMAT_YUV444
        ? std::vector<std::array<int, 3>> {}
        : RgbByLibavif16(*image);
    width = static_cast<int>(image->width);
    height = static_cast<int>(image->height);
    std::vector<QRgb> pixels;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // The chroma planes of subsampled pictures are smaller than the picture, so the
            // formulas read them only at full resolution.
            int r = 0, g = 0, b = 0;
            if (upsampled.empty()) {
                const std::array<double, 3> rgb = RgbOf(*image, x, y);
                r = Rounded8(rgb[0]), g = Rounded8(rgb[1]), b = Rounded8(rgb[2]);
            } else {
                const std::array<int, 3> &converted = upsampled[pixels.size()];
                r = converted[0], g = converted[1], b = converted[2];
            }
            const int alpha
                = image->alphaPlane ? Rounded(Sample(*image, 3, x, y), (1u << bits) - 1) : 255;
            pixels.push_back(r < 0 || g < 0 || b < 0 ? 0 : Over(r, g, b, alpha));
        }
    }
    return pixels;
}

struct DepthCase
{
    std::string name;
    int bits;
    bool alpha;
    QStringList coding; // avifenc's options beside the depth
};

void PrintTo(const DepthCase &c, std::ostream *os) { *os << c.name; }

class AvifDepth : public testing::TestWithParam<DepthCase>
{
};

TEST_P(AvifDepth, EveryPixelRoundedOnceFromTheStoredSamples)
{
    if (!fixtures::HasProgram("avifenc"))
        GTEST_SKIP() << "avifenc is not installed";
    const DepthCase &c = GetParam();
    const QByteArray avif = fixtures::EncodeFilesWithProgram({ DeepGradientPng(c.alpha) },
        "avifenc",
        c.coding + QStringList { "-d", QString::number(c.bits), "--ignore-icc", "{in}", "{out}" },
        ".avif");
    ASSERT_FALSE(avif.isEmpty());
    int width = 0, height = 0;
    const std::vector<QRgb> expected = ExpectedPixels(avif, c.bits, width, height);
    ASSERT_FALSE(expected.empty()) << "avifenc did not write a deep 4:4:4 file";
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    QImage picture;
    try {
        std::int32_t w = -1, h = -1;
        picture
            = modGDIPlusResize::LoadPictureScaled(avif, QStringLiteral("deep.avif"), w, h, kSlate);
    } catch (const modGDIPlusResize::LoadError &) {
    }
    modGDIPlusResize::GdiPlusClose(token);
    ASSERT_EQ(picture.size(), QSize(width, height));
    int wrong = 0, uncalled = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const QRgb want = expected[static_cast<std::size_t>(y * width + x)];
            uncalled += want == 0;
            wrong += want != 0 && picture.pixel(x, y) != want;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_LT(uncalled, width * height / 5);
}

INSTANTIATE_TEST_SUITE_P(Avif, AvifDepth,
    testing::Values(DepthCase { "Lossless10", 10, false, { "-l" } },
        DepthCase { "LosslessAlpha10", 10, true, { "-l" } },
        DepthCase { "Lossless12", 12, false, { "-l" } },
        DepthCase { "LosslessAlpha12", 12, true, { "-l" } },
        DepthCase { "Bt601Full10", 10, false,
            { "-y", "444", "--min", "0", "--max", "0", "--cicp", "1/13/6", "-r", "full" } },
        DepthCase { "Bt601FullAlpha12", 12, true,
            { "-y", "444", "--min", "0", "--max", "0", "--cicp", "1/13/6", "-r", "full" } },
        DepthCase { "Bt709Limited10", 10, false,
            { "-y", "444", "--min", "0", "--max", "0", "--cicp", "1/13/1", "-r", "limited" } },
        DepthCase { "Bt601Full420At10", 10, false,
            { "-y", "420", "--min", "0", "--max", "0", "--cicp", "1/13/6", "-r", "full" } },
        DepthCase { "Bt709Limited420At12", 12, true,
            { "-y", "420", "--min", "0", "--max", "0", "--cicp", "1/13/1", "-r", "limited" } },
        DepthCase { "Bt601Full422At10", 10, false,
            { "-y", "422", "--min", "0", "--max", "0", "--cicp", "1/13/6", "-r", "full" } },
        DepthCase { "Bt709Limited12", 12, false,
            { "-y", "444", "--min", "0", "--max", "0", "--cicp", "1/13/1", "-r", "limited" } }),
    [](const auto &info) { return info.param.name; });

// BT.2020's curve, written out here from the recommendation.
double Oetf(double linear)
{
    return linear < 0.018 ? 4.5 * linear : 1.099 * std::pow(linear, 0.45) - 0.099;
}
double InverseOetf(double v)
{
    return v < 0.081 ? v / 4.5 : std::pow((v + 0.099) / 1.099, 1 / 0.45);
}

// The colour shown at (x, y): even for 4:2:0 as every 2 x 2 block is one colour.
QRgb ShownColour(int x, int y)
{
    x /= 2, y /= 2;
    return qRgb((x * 37) % 256, (y * 53 + 9) % 256, (x * y * 29 + 200) % 256);
}

struct ClCase
{
    std::string name;
    int bits;
    avifPixelFormat format;
    avifRange range;
};

void PrintTo(const ClCase &c, std::ostream *os) { *os << c.name; }

class AvifConstantLuminance : public testing::TestWithParam<ClCase>
{
};

// Y', Cb, Cr of one colour by BT.2020's constant luminance equations, as stored samples.
std::array<std::uint16_t, 3> CodedSamples(QRgb colour, const ClCase &c)
{
    constexpr double kr = 0.2627, kb = 0.0593;
    const double r = qRed(colour) / 255.0, g = qGreen(colour) / 255.0, b = qBlue(colour) / 255.0;
    const double luma
        = Oetf(kr * InverseOetf(r) + (1 - kr - kb) * InverseOetf(g) + kb * InverseOetf(b));
    // BT.2020 Table 4's divisors.
    const double cb = (b - luma) / (b - luma <= 0 ? 1.9404 : 1.5816);
    const double cr = (r - luma) / (r - luma <= 0 ? 1.7184 : 0.9936);
    const double top = (1 << c.bits) - 1, scale = (1 << c.bits) / 256.0;
    const bool full = c.range == AVIF_RANGE_FULL;
    const auto sample = [](double v) { return static_cast<std::uint16_t>(std::lround(v)); };
    return { sample(full ? luma * top : (16 + 219 * luma) * scale),
        sample((full ? cb * top : 224 * scale * cb) + 128 * scale),
        sample((full ? cr * top : 224 * scale * cr) + 128 * scale) };
}

// A lossless AVIF of ShownColour written plane by plane, labelled sRGB primaries and transfer
// (so nothing is converted after) with matrix coefficients 10.
QByteArray ConstantLuminanceAvif(const ClCase &c, int width, int height)
{
    std::unique_ptr<avifImage, decltype(&avifImageDestroy)> image(
        avifImageCreate(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
            static_cast<std::uint32_t>(c.bits), c.format),
        avifImageDestroy);
    image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
    image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
    image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT2020_CL;
    image->yuvRange = c.range;
    if (avifImageAllocatePlanes(image.get(), AVIF_PLANES_YUV) != AVIF_RESULT_OK)
        return {};
    const int shift = c.format == AVIF_PIXEL_FORMAT_YUV420 ? 1 : 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::array<std::uint16_t, 3> coded = CodedSamples(ShownColour(x, y), c);
            for (int plane = 0; plane < 3; ++plane) {
                const int px = plane == 0 ? x : x >> shift, py = plane == 0 ? y : y >> shift;
                std::uint8_t *row = image->yuvPlanes[plane]
                    + static_cast<std::size_t>(image->yuvRowBytes[plane]) * py;
                if (c.bits == 8)
                    row[px] = static_cast<std::uint8_t>(coded[static_cast<std::size_t>(plane)]);
                else
                    reinterpret_cast<std::uint16_t *>(row)[px]
                        = coded[static_cast<std::size_t>(plane)];
            }
        }
    }
    std::unique_ptr<avifEncoder, decltype(&avifEncoderDestroy)> encoder(
        avifEncoderCreate(), avifEncoderDestroy);
    encoder->minQuantizer = encoder->maxQuantizer = AVIF_QUANTIZER_LOSSLESS;
    encoder->speed = 10;
    avifRWData output = AVIF_DATA_EMPTY;
    QByteArray file;
    if (avifEncoderWrite(encoder.get(), image.get(), &output) == AVIF_RESULT_OK)
        file = QByteArray(
            reinterpret_cast<const char *>(output.data), static_cast<qsizetype>(output.size));
    avifRWDataFree(&output);
    return file;
}

TEST_P(AvifConstantLuminance, EveryPixelBackToTheColourCoded)
{
    const ClCase &c = GetParam();
    constexpr int kWidth = 32, kHeight = 24;
    const QByteArray avif = ConstantLuminanceAvif(c, kWidth, kHeight);
    ASSERT_FALSE(avif.isEmpty()) << "libavif could not write the planes";
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    QImage picture;
    try {
        std::int32_t w = -1, h = -1;
        picture
            = modGDIPlusResize::LoadPictureScaled(avif, QStringLiteral("cl.avif"), w, h, kSlate);
    } catch (const modGDIPlusResize::LoadError &) {
    }
    modGDIPlusResize::GdiPlusClose(token);
    ASSERT_EQ(picture.size(), QSize(kWidth, kHeight));
    // The samples' own rounding moves a colour by up to a level at 8 bits, less when deeper.
    const int tolerance = c.bits == 8 ? 2 : 1;
    int worst = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const QRgb want = ShownColour(x, y), got = picture.pixel(x, y);
            worst = std::max({ worst, std::abs(qRed(got) - qRed(want)),
                std::abs(qGreen(got) - qGreen(want)), std::abs(qBlue(got) - qBlue(want)) });
        }
    }
    EXPECT_LE(worst, tolerance);
}

INSTANTIATE_TEST_SUITE_P(Avif, AvifConstantLuminance,
    testing::Values(ClCase { "Full444At10", 10, AVIF_PIXEL_FORMAT_YUV444, AVIF_RANGE_FULL },
        ClCase { "Limited444At12", 12, AVIF_PIXEL_FORMAT_YUV444, AVIF_RANGE_LIMITED },
        ClCase { "Full420At10", 10, AVIF_PIXEL_FORMAT_YUV420, AVIF_RANGE_FULL },
        ClCase { "Limited444At8", 8, AVIF_PIXEL_FORMAT_YUV444, AVIF_RANGE_LIMITED }),
    [](const auto &info) { return info.param.name; });

} // namespace
