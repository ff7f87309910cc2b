// The loader with the formats module out of reach: this program is built without a library path
// to the build's imaging folder (see CMakeLists.txt), as an install whose module was removed.
#include "imaging/open_image.h"
#include "imaging/picture_formats.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

using imaging::LoadFailure;

std::string Seed(const char *name)
{
    std::ifstream file(
        std::string(QUILLMERE_SOURCE_DIR "/imaging/fuzz/seeds/") + name, std::ios::binary);
    EXPECT_TRUE(file) << name;
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

TEST(FormatsModuleMissing, ItsFormatsFailWithTheReasonOnceToldAndTheOthersStillLoad)
{
    const struct
    {
        const char *seed;
        LoadFailure expected;
    } cases[] = {
        { "lossy.webp", LoadFailure::ModuleMissing },
        { "rgb.tif", LoadFailure::ModuleMissing },
        { "alpha.heic", LoadFailure::ModuleMissing },
        { "lossy.avif", LoadFailure::ModuleMissing },
        { "lossy.jxl", LoadFailure::ModuleMissing },
        { "rgb.png", LoadFailure::None },
        { "rgb.bmp", LoadFailure::None },
    };
    testing::internal::CaptureStderr();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.seed);
        const imaging::OpenedImage opened = imaging::LoadImageFromMemory(Seed(c.seed));
        EXPECT_EQ(opened.failure, c.expected);
        EXPECT_EQ(opened.image != nullptr, c.expected == LoadFailure::None);
    }
    // The text of the programs before the table of formats, byte for byte, and only once.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "quillmere: the decoders of WebP, TIFF, HEIF, AVIF and JPEG XL are not available: "
        "libquillmere-formats.so is not on the program's library path\n");
}

} // namespace
