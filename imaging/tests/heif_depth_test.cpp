// HEIF pictures of 10 and 12 bits: every pixel the rounded value of libheif's full-precision
// decode, not the low bits dropped; and a primary image coded from another item refused.
#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"
#include "imaging/tests/format_tools.h"

#include <gtest/gtest.h>

#include <libheif/heif.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr analysis::ColourValue kSlate = 0x996633; // 0x00BBGGRR of kBg
constexpr QRgb kBg = 0xFF336699;

// A smooth gradient with a translucent corner, so 10- and 12-bit samples fall between 8-bit codes.
QImage Gradient()
{
    QImage picture(48, 32, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            picture.setPixel(
                x, y, qRgba(x * 5 + 3, y * 7 + 1, (x + y) * 3, x >= 32 && y >= 16 ? 100 + x : 255));
    }
    return picture;
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

// libheif's decode at full precision, each sample rounded to 8 bits here, over kBg.
std::vector<QRgb> ExpectedPixels(const QByteArray &file, bool alpha, int &width, int &height)
{
    std::unique_ptr<heif_context, decltype(&heif_context_free)> context(
        heif_context_alloc(), heif_context_free);
    heif_image_handle *handle = nullptr;
    heif_image *image = nullptr;
    if (heif_context_read_from_memory_without_copy(
            context.get(), file.constData(), static_cast<size_t>(file.size()), nullptr)
                .code
            != heif_error_Ok
        || heif_context_get_primary_image_handle(context.get(), &handle).code != heif_error_Ok)
        return {};
    heif_decoding_options *options = heif_decoding_options_alloc();
    options->convert_hdr_to_8bit = 0;
    const heif_error decoded = heif_decode_image(handle, &image, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE, options);
    heif_decoding_options_free(options);
    heif_image_handle_release(handle);
    if (decoded.code != heif_error_Ok)
        return {};
    int stride = 0;
    const std::uint8_t *plane
        = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    const unsigned top
        = (1u << heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved)) - 1;
    width = heif_image_get_width(image, heif_channel_interleaved);
    height = heif_image_get_height(image, heif_channel_interleaved);
    std::vector<QRgb> pixels;
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t *in = plane + static_cast<std::ptrdiff_t>(stride) * y;
        for (int x = 0; x < width; ++x) {
            int c[4] = { 0, 0, 0, 255 };
            for (int i = 0; i < channels; ++i, in += 2)
                c[i] = Rounded(in[0] | (unsigned { in[1] } << 8), top);
            pixels.push_back(Over(c[0], c[1], c[2], c[3]));
        }
    }
    heif_image_release(image);
    return pixels;
}

struct DepthCase
{
    std::string name;
    int bits;
    fixtures::PngVariant variant;
};

void PrintTo(const DepthCase &c, std::ostream *os) { *os << c.name; }

class HeifDepth : public testing::TestWithParam<DepthCase>
{
};

TEST_P(HeifDepth, EveryPixelRoundedFromTheFullSamples)
{
    if (!fixtures::HasProgram("heif-enc"))
        GTEST_SKIP() << "heif-enc is not installed";
    const DepthCase &c = GetParam();
    const QByteArray png = fixtures::EncodePng(Gradient(), c.variant);
    const QByteArray heic = fixtures::EncodeFilesWithProgram(
        { png }, "heif-enc", { "-b", QString::number(c.bits), "{in}", "-o", "{out}" }, ".heic");
    ASSERT_FALSE(heic.isEmpty());
    const bool alpha = c.variant == fixtures::PngVariant::Rgba16;
    int width = 0, height = 0;
    const std::vector<QRgb> expected = ExpectedPixels(heic, alpha, width, height);
    ASSERT_FALSE(expected.empty()) << "libheif cannot decode what heif-enc wrote";
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    QImage picture;
    try {
        std::int32_t w = -1, h = -1;
        picture
            = modGDIPlusResize::LoadPictureScaled(heic, QStringLiteral("deep.heic"), w, h, kSlate);
    } catch (const modGDIPlusResize::LoadError &) {
    }
    modGDIPlusResize::GdiPlusClose(token);
    ASSERT_EQ(picture.size(), QSize(width, height));
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            wrong += picture.pixel(x, y) != expected[static_cast<std::size_t>(y * width + x)];
    }
    EXPECT_EQ(wrong, 0);
}

INSTANTIATE_TEST_SUITE_P(Heif, HeifDepth,
    testing::Values(DepthCase { "Rgb10", 10, fixtures::PngVariant::Rgb16 },
        DepthCase { "Rgba10", 10, fixtures::PngVariant::Rgba16 },
        DepthCase { "Rgb12", 12, fixtures::PngVariant::Rgb16 }),
    [](const auto &info) { return info.param.name; });

// The loaded picture, or a null image for the load error.
QImage LoadHeic(const QByteArray &heic)
{
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    QImage picture;
    try {
        std::int32_t w = -1, h = -1;
        picture = modGDIPlusResize::LoadPictureScaled(
            heic, QStringLiteral("picture.heic"), w, h, kSlate);
    } catch (const modGDIPlusResize::LoadError &) {
    }
    modGDIPlusResize::GdiPlusClose(token);
    return picture;
}

// heif-enc's alpha reference ('auxl', from the alpha item to the primary) turned into a 'pred'
// one from the primary to the alpha item: same length, so every offset stays right.
TEST(HeifPredicted, PrimaryCodedFromAnotherItemIsRefused)
{
    if (!fixtures::HasProgram("heif-enc"))
        GTEST_SKIP() << "heif-enc is not installed";
    const QByteArray heic = fixtures::EncodeFilesWithProgram(
        { fixtures::EncodePng(Gradient(), fixtures::PngVariant::Rgba8) }, "heif-enc",
        { "{in}", "-o", "{out}" }, ".heic");
    ASSERT_FALSE(LoadHeic(heic).isNull()) << "the file as written loads";
    const qsizetype at = heic.indexOf("auxl");
    ASSERT_GT(at, 0);
    QByteArray predicted = heic;
    predicted.replace(at, 4, "pred");
    // From (2 bytes), count (2), to (2): the two item numbers change places.
    const QByteArray from = heic.mid(at + 4, 2), to = heic.mid(at + 8, 2);
    predicted.replace(at + 4, 2, to);
    predicted.replace(at + 8, 2, from);
    EXPECT_TRUE(LoadHeic(predicted).isNull());
}

} // namespace
