#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/tests/fixtures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

using fixtures::GifFrame;

constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kGreen = qRgb(0, 255, 0);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kBlack = qRgb(0, 0, 0);
constexpr QRgb kSlate = qRgb(0x33, 0x66, 0x99);

// The file at its own size through the loader, over background; a null image for the load error.
QImage LoadGif(const QByteArray &bytes, QRgb background)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("picture.gif");
    fixtures::WriteFile(path, bytes);
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    QImage picture;
    try {
        std::int32_t width = -1, height = -1;
        const analysis::ColourValue colour
            = qRed(background) | (qGreen(background) << 8) | (qBlue(background) << 16);
        picture = modGDIPlusResize::LoadPictureScaled(path, width, height, colour);
    } catch (const modGDIPlusResize::LoadError &) {
    }
    modGDIPlusResize::GdiPlusClose(token);
    return picture;
}

// A width x height frame whose index at (x, y) is index(x, y).
GifFrame Frame(int width, int height, const std::function<int(int, int)> &index)
{
    GifFrame frame { width, height, {}, -1 };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame.indices.push_back(static_cast<std::uint8_t>(index(x, y)));
    return frame;
}

GifFrame Filled(int width, int height, int index)
{
    return Frame(width, height, [index](int, int) { return index; });
}

// Rows of ten different colours, so that a row drawn in the wrong place shows in a probe.
std::vector<QRgb> RowColours()
{
    std::vector<QRgb> colours;
    for (int y = 0; y < 10; ++y)
        colours.push_back(qRgb(y * 25, 255 - y * 25, y * 10));
    return colours;
}

struct Probe
{
    int x, y;
    QRgb colour;
};

struct DecodingCase
{
    const char *name;
    std::vector<QRgb> palette;
    std::vector<GifFrame> frames;
    QSize screen; // invalid for the first frame's size
    QSize size;
    double red, green, blue; // means worked out by hand
    std::vector<Probe> probes;
};

TEST(GifDecoding, DrawsTheFirstImageOnItsScreenOverTheBackground)
{
    GifFrame transparent = Frame(4, 2, [](int x, int) { return x < 2 ? 0 : 2; });
    transparent.transparentIndex = 2;
    GifFrame interlaced = Frame(3, 10, [](int, int y) { return y; });
    interlaced.interlaced = true;
    GifFrame offset = Filled(2, 2, 0);
    offset.left = 3;
    offset.top = 1;
    GifFrame local = Frame(2, 2, [](int x, int y) { return (x + y) % 2; });
    local.localPalette = { kBlue, kWhite };
    // Only the frame's top-left quarter (red) is on the screen; the rest is green.
    GifFrame clipped = Frame(4, 4, [](int x, int y) { return x < 2 && y < 2 ? 0 : 1; });
    clipped.left = 2;
    clipped.top = 2;
    GifFrame atOne = Filled(2, 2, 0);
    atOne.left = 1;

    std::vector<Probe> rows;
    for (int y = 0; y < 10; ++y)
        rows.push_back({ y % 3, y, RowColours()[static_cast<std::size_t>(y)] });

    const DecodingCase cases[] = {
        { "FirstFrameOnly", { kRed, kGreen, kBlue },
            { Frame(4, 2, [](int x, int) { return x < 2 ? 0 : 1; }), Filled(4, 2, 2) }, {},
            { 4, 2 }, 127.5, 127.5, 0, { { 0, 1, kRed }, { 3, 0, kGreen } } },
        // The transparent entry is black in the palette: black in the picture would be wrong.
        { "TransparentIndexShowsTheBackground", { kRed, kGreen, kBlack }, { transparent }, {},
            { 4, 2 }, (255 + 0x33) / 2.0, 0x66 / 2.0, 0x99 / 2.0,
            { { 0, 1, kRed }, { 3, 0, kSlate } } },
        // 10 rows: the last pass-1 group is incomplete. Means: 25 * 4.5, 255 - 112.5, 10 * 4.5.
        { "InterlacedRowsInPlace", RowColours(), { interlaced }, {}, { 3, 10 }, 112.5, 142.5, 45,
            rows },
        // 4 red pixels and 20 of the background on a 6 x 4 screen.
        { "FrameSmallerThanTheScreen", { kRed, kGreen }, { offset }, { 6, 4 }, { 6, 4 },
            (4 * 255 + 20 * 0x33) / 24.0, 20 * 0x66 / 24.0, 20 * 0x99 / 24.0,
            { { 3, 1, kRed }, { 4, 2, kRed }, { 2, 1, kSlate }, { 5, 2, kSlate }, { 3, 0, kSlate },
                { 4, 3, kSlate } } },
        { "LocalPaletteOverGlobal", { kRed, kGreen }, { local }, {}, { 2, 2 }, 127.5, 127.5, 255,
            { { 0, 0, kBlue }, { 1, 0, kWhite } } },
        // 4 red pixels and 12 of the background on a 4 x 4 screen.
        { "FrameClippedToTheScreen", { kRed, kGreen }, { clipped }, { 4, 4 }, { 4, 4 },
            (4 * 255 + 12 * 0x33) / 16.0, 12 * 0x66 / 16.0, 12 * 0x99 / 16.0,
            { { 2, 2, kRed }, { 3, 3, kRed }, { 1, 3, kSlate } } },
        // A 0 x 0 screen takes the frame's extent from the origin: column 0 is background.
        { "ZeroScreenTakesTheFrameExtent", { kRed, kGreen }, { atOne }, { 0, 0 }, { 3, 2 },
            (4 * 255 + 2 * 0x33) / 6.0, 2 * 0x66 / 6.0, 2 * 0x99 / 6.0,
            { { 0, 1, kSlate }, { 1, 0, kRed }, { 2, 1, kRed } } },
        // A two-entry table with index 3 (the LZW codes allow up to 3).
        { "IndexPastTheTableIsBlack", { kRed, kWhite },
            { Frame(2, 1, [](int x, int) { return x == 0 ? 0 : 3; }) }, {}, { 2, 1 }, 127.5, 0, 0,
            { { 1, 0, kBlack } } },
    };
    for (const DecodingCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QImage picture = LoadGif(fixtures::EncodeGif(c.palette, c.frames, c.screen), kSlate);
        ASSERT_EQ(picture.size(), c.size);
        ASSERT_EQ(picture.format(), QImage::Format_RGB32);
        double sums[3] = {};
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x) {
                const QRgb p = picture.pixel(x, y);
                sums[0] += qRed(p);
                sums[1] += qGreen(p);
                sums[2] += qBlue(p);
            }
        }
        const double n = static_cast<double>(picture.width()) * picture.height();
        EXPECT_DOUBLE_EQ(sums[0] / n, c.red);
        EXPECT_DOUBLE_EQ(sums[1] / n, c.green);
        EXPECT_DOUBLE_EQ(sums[2] / n, c.blue);
        for (const Probe &probe : c.probes)
            EXPECT_EQ(picture.pixel(probe.x, probe.y), probe.colour)
                << "at " << probe.x << ", " << probe.y;
    }
}

// A 64 x 64 frame of scrambled indices: its LZW data spans several sub-blocks.
GifFrame Varied()
{
    return Frame(64, 64, [](int x, int y) {
        return static_cast<int>((static_cast<unsigned>(y * 64 + x) * 1103515245u + 12345u) >> 16)
            % 4;
    });
}

const std::vector<QRgb> kFour = { kRed, kGreen, kBlue, kWhite };

// Offsets in a file of kFour (12-byte table) and one frame: screen 0..12, table 13..24, graphic
// control 25..32, image descriptor 33..42, code size 43.
constexpr int kControlAt = 25;
constexpr int kDescriptorAt = 33;

struct RefusedCase
{
    const char *name;
    std::function<QByteArray()> file;
};

struct LenientCase
{
    const char *name;
    QByteArray file;
    std::function<QRgb(int x, int y)> expected;
};

// Files other decoders read though the format's rules frown on them.
TEST(GifDecoding, LenientFilesReadAsOtherDecodersReadThem)
{
    // Without any colour table index i shows grey i; the transparent index still shows the
    // background.
    GifFrame ramp = Frame(16, 16, [](int x, int y) { return x + 16 * y; });
    ramp.codeSize = 8;
    GifFrame transparent = ramp;
    transparent.transparentIndex = 17;
    // Wider first codes than 8-bit indices need, which encoders write and the reader must follow.
    const std::vector<QRgb> palette = RowColours();
    const GifFrame rows = Frame(16, 10, [](int, int y) { return y; });
    std::vector<LenientCase> all = {
        { "NoColourTable", fixtures::EncodeGif({}, { ramp }),
            [](int x, int y) { return qRgb(x + 16 * y, x + 16 * y, x + 16 * y); } },
        { "NoColourTableTransparent", fixtures::EncodeGif({}, { transparent }),
            [](int x, int y) {
                const int v = x + 16 * y;
                return v == 17 ? kSlate : qRgb(v, v, v);
            } },
    };
    for (const int codeSize : { 9, 10, 11 }) {
        GifFrame wide = rows;
        wide.codeSize = codeSize;
        all.push_back({ "CodeSizeAbove8", fixtures::EncodeGif(palette, { wide }),
            [palette](int, int y) { return palette[static_cast<std::size_t>(y)]; } });
    }
    for (const auto &c : all) {
        SCOPED_TRACE(c.name);
        const QImage picture = LoadGif(c.file, kSlate);
        if (picture.isNull()) {
            ADD_FAILURE() << "the load error";
            continue;
        }
        int wrong = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x)
                wrong += picture.pixel(x, y) != c.expected(x, y);
        }
        EXPECT_EQ(wrong, 0);
    }
}

TEST(GifRefused, DamagedOrIncompleteFilesAreTheLoadError)
{
    const auto encode = [](GifFrame frame) { return fixtures::EncodeGif(kFour, { frame }); };
    const auto damaged = [encode](int encodedPixels, int keepDataBytes, bool interlaced) {
        GifFrame frame = Varied();
        frame.encodedPixels = encodedPixels;
        frame.keepDataBytes = keepDataBytes;
        frame.interlaced = interlaced;
        return encode(frame);
    };
    const auto patched = [encode](int at, const QByteArray &bytes) {
        return encode(Varied()).replace(at, bytes.size(), bytes);
    };
    const RefusedCase cases[] = {
        // An early end code in complete sub-blocks: the reader sees a well-formed file.
        { "ShortDataInCompleteSubBlocks", [damaged] { return damaged(2000, -1, false); } },
        { "OnePixelShort", [damaged] { return damaged(64 * 64 - 1, -1, false); } },
        { "WideCodesOnePixelShort",
            [encode] {
                GifFrame frame = Varied();
                frame.codeSize = 10;
                frame.encodedPixels = 64 * 64 - 1;
                return encode(frame);
            } },
        { "WideCodesCutInsideASubBlock",
            [encode] {
                GifFrame frame = Varied();
                frame.codeSize = 9;
                frame.keepDataBytes = 300;
                return encode(frame);
            } },
        { "ShortInterlacedData", [damaged] { return damaged(64 * 60, -1, true); } },
        // The second sub-block starts at 256.
        { "CutInsideASubBlock", [damaged] { return damaged(-1, 300, false); } },
        // Every pixel is there; the block terminator and the trailer are not.
        { "CutBeforeTheBlockTerminator",
            [encode] {
                const QByteArray gif = encode(Varied());
                return gif.left(gif.size() - 2);
            } },
        { "CutBeforeTheCodeSize", [encode] { return encode(Varied()).left(kDescriptorAt + 10); } },
        { "NoImageBeforeTheTrailer", [] { return fixtures::EncodeGif(kFour, {}, QSize(4, 4)); } },
        { "TruncatedScreenDescriptor", [encode] { return encode(Varied()).left(10); } },
        { "TruncatedGlobalTable", [encode] { return encode(Varied()).left(18); } },
        { "UnknownBlockBeforeTheImage", [patched] { return patched(kControlAt, "x"); } },
        // Sub-blocks of 2 and 1 bytes: well-formed as blocks, but not a control block.
        { "GraphicControlOfWrongLength",
            [patched] {
                return patched(kControlAt, QByteArray("\x21\xF9\x02\x05\x0A\x01\x00\x00", 8));
            } },
        { "FrameOfZeroWidth",
            [patched] { return patched(kDescriptorAt + 5, QByteArray("\x00\x00", 2)); } },
    };
    // The undamaged file loads, so the cases fail for their damage alone.
    ASSERT_EQ(LoadGif(encode(Varied()), kSlate).size(), QSize(64, 64));
    for (const RefusedCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QImage picture = LoadGif(c.file(), kSlate);
        EXPECT_TRUE(picture.isNull()) << "loaded " << picture.width() << " x " << picture.height();
    }
}

} // namespace
