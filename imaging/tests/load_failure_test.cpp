// Why a picture fails: damaged files of every format, and files that are no pictures at all, give
// their reason through the row path and the window's loader alike.
#include "imaging/mod_gdi_plus_resize.h"

#include "analysis/pixel_statistics.h"
#include "imaging/open_image.h"
#include "imaging/raster_memory.h"
#include "imaging/tests/fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace imaging {

// Reasons by name in the test's messages.
void PrintTo(LoadFailure failure, std::ostream *out) { *out << LoadFailureText(failure); }

} // namespace imaging

namespace {

using imaging::LoadFailure;

QByteArray Seed(const char *name)
{
    QFile file(QStringLiteral(QUILLMERE_SOURCE_DIR "/imaging/fuzz/seeds/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// The first half: reference decoders refuse every such file (the notes on the test encoders).
QByteArray CutInHalf(const QByteArray &bytes) { return bytes.left(bytes.size() / 2); }

// bytes with the byte `after` bytes past the first `marker` set to value; a test failure when the
// marker is missing.
QByteArray SetAfter(QByteArray bytes, const QByteArray &marker, int after, int value)
{
    const qsizetype at = bytes.indexOf(marker);
    EXPECT_GE(at, 0) << marker.toHex().toStdString();
    if (at >= 0 && at + after < bytes.size())
        bytes[at + after] = static_cast<char>(value);
    return bytes;
}

// bytes with a big-endian 16-bit value `after` bytes past the first marker.
QByteArray SetBigEndian16After(QByteArray bytes, const QByteArray &marker, int after, int value)
{
    bytes = SetAfter(bytes, marker, after, value >> 8);
    return SetAfter(bytes, marker, after + 1, value & 0xFF);
}

// Writes a 32-bit value big-endian (PutBe) or n bytes of one little-endian (PutLe) at `at`.
void PutBe(QByteArray &bytes, qsizetype at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

// The ISO media picture with every spatial extents property ("ispe": version and flags, then
// width and height, big-endian), the colour's and the alpha's, set to width x height.
QByteArray WithExtents(QByteArray bytes, std::uint32_t width, std::uint32_t height)
{
    int found = 0;
    for (qsizetype at = bytes.indexOf("ispe"); at >= 0 && at + 16 <= bytes.size();
         at = bytes.indexOf("ispe", at + 4), ++found) {
        PutBe(bytes, at + 8, width);
        PutBe(bytes, at + 12, height);
    }
    EXPECT_GT(found, 0) << "no ispe property";
    return bytes;
}

// bytes with the first `from` renamed `to` (a box type, say).
QByteArray Renamed(QByteArray bytes, const QByteArray &from, const QByteArray &to)
{
    const qsizetype at = bytes.indexOf(from);
    EXPECT_GE(at, 0) << from.toStdString();
    if (at >= 0)
        bytes.replace(at, from.size(), to);
    return bytes;
}

void PutLe(QByteArray &bytes, qsizetype at, std::uint32_t value, int n)
{
    for (int i = 0; i < n; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// A little-endian TIFF with one gray strip of zeros, made by hand so that any tag can be wrong:
// widthTag false leaves ImageWidth out.
QByteArray HandMadeTiff(std::uint32_t width, std::uint32_t height, int bits, bool widthTag = true)
{
    struct Entry
    {
        std::uint16_t tag;
        std::uint16_t type; // 3 SHORT, 4 LONG
        std::uint32_t value;
    };
    const std::uint32_t stripBytes = 16;
    std::vector<Entry> entries;
    if (widthTag)
        entries.push_back({ 256, 4, width });
    entries.push_back({ 257, 4, height });
    entries.push_back({ 258, 3, static_cast<std::uint32_t>(bits) });
    entries.push_back({ 259, 3, 1 }); // no compression
    entries.push_back({ 262, 3, 1 }); // black is zero
    entries.push_back({ 273, 4, 0 }); // strip offset, set below
    entries.push_back({ 277, 3, 1 });
    entries.push_back({ 278, 4, height });
    entries.push_back({ 279, 4, stripBytes });
    QByteArray bytes("II*\0\x08\0\0\0", 8);
    const qsizetype ifdSize = 2 + 12 * static_cast<qsizetype>(entries.size()) + 4;
    bytes.resize(8 + ifdSize + stripBytes, '\0');
    PutLe(bytes, 8, static_cast<std::uint32_t>(entries.size()), 2);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const qsizetype at = 10 + 12 * static_cast<qsizetype>(i);
        const std::uint32_t value
            = entries[i].tag == 273 ? static_cast<std::uint32_t>(8 + ifdSize) : entries[i].value;
        PutLe(bytes, at, entries[i].tag, 2);
        PutLe(bytes, at + 2, entries[i].type, 2);
        PutLe(bytes, at + 4, 1, 4);
        PutLe(bytes, at + 8, value, entries[i].type == 3 ? 2 : 4);
    }
    return bytes;
}

// An icon whose one DIB entry has the given header width and (doubled) height.
QByteArray IconWithDibSize(std::int32_t width, std::int32_t doubledHeight)
{
    fixtures::BmpLayout layout;
    layout.pixels = QByteArray(4, '\0');
    QByteArray icon = fixtures::EncodeIcoDib(layout, QByteArray(4, '\0'));
    // The DIB starts after the 6-byte directory and its 16-byte entry.
    PutLe(icon, 6 + 16 + 4, static_cast<std::uint32_t>(width), 4);
    PutLe(icon, 6 + 16 + 8, static_cast<std::uint32_t>(doubledHeight), 4);
    return icon;
}

QRgb Grey(int v) { return qRgb(v, v, v); }

// A BMP of the fixture's default layout (1 x 1, 24 bits) as edit changes it.
QByteArray Bmp(const std::function<void(fixtures::BmpLayout &)> &edit)
{
    fixtures::BmpLayout layout;
    edit(layout);
    return fixtures::EncodeBmp(layout);
}

// A two-colour 8-bit RLE picture of width x height whose runs are `runs`.
QByteArray Rle8Bmp(std::int32_t width, std::int32_t height, const QByteArray &runs)
{
    return Bmp([&](fixtures::BmpLayout &layout) {
        layout.width = width;
        layout.height = height;
        layout.bits = 8;
        layout.compression = 1;
        layout.palette = { Grey(0), Grey(255) };
        layout.pixels = runs;
    });
}

struct DamageCase
{
    const char *name;
    std::function<QByteArray()> make;
    LoadFailure expected;
};

void PrintTo(const DamageCase &damage, std::ostream *out) { *out << damage.name; }

const DamageCase kDamage[] = {
    // BMP
    { "BmpCutShort", [] { return CutInHalf(Seed("rgb.bmp")); }, LoadFailure::CutShort },
    // 16 bytes is an OS/2 2.x header; compression 5 an embedded PNG.
    { "BmpOs2Header", [] { return Bmp([](auto &layout) { layout.headerSize = 16; }); },
        LoadFailure::Unsupported },
    { "BmpEmbeddedPng",
        [] {
            return Bmp([](auto &layout) {
                layout.compression = 5;
                layout.pixels = QByteArray(4, '\0');
            });
        },
        LoadFailure::Unsupported },
    { "BmpPastTheWindowsLimit",
        [] {
            return Bmp([](auto &layout) {
                layout.width = 20000;
                layout.height = 20000;
            });
        },
        LoadFailure::TooLarge },
    { "BmpZeroWidth", [] { return Bmp([](auto &layout) { layout.width = 0; }); },
        LoadFailure::Damaged },
    // A run past the row is clipped, but the stream cut after it stays the load error.
    { "BmpRleRunPastTheRowThenCut", [] { return Rle8Bmp(2, 2, QByteArray("\x05\x01", 2)); },
        LoadFailure::CutShort },
    { "BmpRleCutShort", [] { return Rle8Bmp(2, 2, QByteArray("\x02\x01\x00\x00", 4)); },
        LoadFailure::CutShort },
    // PNG
    { "PngCutShort", [] { return CutInHalf(Seed("rgb.png")); }, LoadFailure::CutShort },
    { "PngCorruptImageData", [] { return SetAfter(Seed("rgb.png"), "IDAT", 6, 0x5A); },
        LoadFailure::Damaged },
    { "PngWiderThanTheRowPathsLimit",
        [] { return fixtures::PngClaimingSize(imaging::kMaxRasterSide + 1, 1); },
        LoadFailure::TooLarge },
    { "PngZeroWidth", [] { return fixtures::PngClaimingSize(0, 1); }, LoadFailure::Damaged },
    // GIF
    { "GifCutShort",
        [] {
            fixtures::GifFrame frame { 4, 4, std::vector<std::uint8_t>(16, 1) };
            frame.keepDataBytes = 3;
            return fixtures::EncodeGif({ Grey(0), Grey(255) }, { frame });
        },
        LoadFailure::CutShort },
    // A file without colours loads (grey ramp); wide codes whose end code comes early do not.
    { "GifWideCodesEndEarly",
        [] {
            fixtures::GifFrame frame { 2, 2, std::vector<std::uint8_t>(4, 0) };
            frame.codeSize = 10;
            frame.encodedPixels = 3;
            return fixtures::EncodeGif({ qRgb(255, 0, 0) }, { frame });
        },
        LoadFailure::Damaged },
    { "GifWithoutImage",
        [] {
            return fixtures::EncodeGif({ Grey(0), Grey(255) }, {}, QSize(2, 2));
        },
        LoadFailure::Damaged },
    { "GifInterlacedPastTheWindowsLimit",
        [] {
            fixtures::GifFrame frame { 1, 1, { 0 } };
            frame.interlaced = true;
            return fixtures::EncodeGif({ Grey(0), Grey(255) }, { frame }, QSize(65535, 65535));
        },
        LoadFailure::TooLarge },
    // JPEG: the frame header (SOF0 or SOF2) is FF Cn, length (2), precision, height (2), width (2).
    { "JpegCutShort", [] { return CutInHalf(Seed("baseline.jpg")); }, LoadFailure::CutShort },
    { "JpegLossless", [] { return SetAfter(Seed("baseline.jpg"), "\xFF\xC0", 1, 0xC3); },
        LoadFailure::Unsupported },
    { "JpegTwelveBits", [] { return SetAfter(Seed("baseline.jpg"), "\xFF\xC0", 4, 12); },
        LoadFailure::Unsupported },
    { "JpegZeroWidth", [] { return SetBigEndian16After(Seed("baseline.jpg"), "\xFF\xC0", 7, 0); },
        LoadFailure::Damaged },
    { "JpegProgressivePastTheWindowsLimit",
        [] {
            const QByteArray tall
                = SetBigEndian16After(Seed("progressive.jpg"), "\xFF\xC2", 5, 60000);
            return SetBigEndian16After(tall, "\xFF\xC2", 7, 60000);
        },
        LoadFailure::TooLarge },
    // ICO
    { "IcoCutInItsDirectory", [] { return Seed("icon.ico").left(10); }, LoadFailure::CutShort },
    { "IcoOddDibHeight", [] { return IconWithDibSize(1, 3); }, LoadFailure::Damaged },
    { "IcoPastTheWindowsLimit", [] { return IconWithDibSize(20000, 40000); },
        LoadFailure::TooLarge },
    // WebP: a lossless bitstream starts with the signature byte 0x2F after its chunk header.
    { "WebpCutShort", [] { return CutInHalf(Seed("lossy.webp")); }, LoadFailure::CutShort },
    { "WebpAnimationCutShort", [] { return CutInHalf(Seed("animated.webp")); },
        LoadFailure::CutShort },
    { "WebpLosslessSignatureWrong",
        [] { return SetAfter(Seed("lossless-alpha.webp"), "VP8L", 8, 0); }, LoadFailure::Damaged },
    // TIFF
    { "TiffCutShort", [] { return CutInHalf(Seed("rgb.tif")); }, LoadFailure::CutShort },
    { "TiffThreeBitSamples", [] { return HandMadeTiff(4, 4, 3); }, LoadFailure::Unsupported },
    { "TiffPastTheWindowsLimit", [] { return HandMadeTiff(20000, 20000, 8); },
        LoadFailure::TooLarge },
    { "TiffWithoutWidth", [] { return HandMadeTiff(4, 4, 8, false); }, LoadFailure::Damaged },
    // HEIF, AVIF, JPEG XL
    { "HeifCutShort", [] { return CutInHalf(Seed("alpha.heic")); }, LoadFailure::CutShort },
    { "HeifWithoutDecoderConfiguration", [] { return Renamed(Seed("alpha.heic"), "hvcC", "hvcX"); },
        LoadFailure::Damaged },
    { "HeifPastTheWindowsLimit", [] { return WithExtents(Seed("alpha.heic"), 60000, 60000); },
        LoadFailure::TooLarge },
    { "AvifCutShort", [] { return CutInHalf(Seed("lossy.avif")); }, LoadFailure::CutShort },
    { "AvifWithoutDecoderConfiguration", [] { return Renamed(Seed("lossy.avif"), "av1C", "av1X"); },
        LoadFailure::Damaged },
    { "AvifPastTheWindowsLimit", [] { return WithExtents(Seed("lossy.avif"), 60000, 60000); },
        LoadFailure::TooLarge },
    { "JxlCutShort", [] { return CutInHalf(Seed("lossy.jxl")); }, LoadFailure::CutShort },
    { "JxlGarbledData",
        [] {
            QByteArray bytes = Seed("lossy.jxl");
            bytes.replace(bytes.size() / 2, 64, QByteArray(64, '\x55'));
            return bytes;
        },
        LoadFailure::Damaged },
};

class LoadFailureTest : public testing::TestWithParam<DamageCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        token = modGDIPlusResize::GdiPlusOpen();
    }
    void TearDown() override { modGDIPlusResize::GdiPlusClose(token); }

    // The window loader's reason, None when it loads.
    LoadFailure WindowReason(const QString &path)
    {
        std::int32_t width = -1, height = -1;
        try {
            (void)modGDIPlusResize::LoadPictureScaled(path, width, height, 0xFFFFFF);
        } catch (const modGDIPlusResize::LoadError &error) {
            EXPECT_EQ(error.Description(), "Error loading picture " + path);
            return error.Reason();
        }
        return LoadFailure::None;
    }

    QTemporaryDir dir;
    std::uintptr_t token = 0;
};

using DamagedFileTest = LoadFailureTest;

TEST_P(DamagedFileTest, GivesItsReasonOnBothPaths)
{
    const QByteArray bytes = GetParam().make();
    const QString path = dir.filePath(QStringLiteral("damaged"));
    fixtures::WriteFile(path, bytes);
    analysis::StatisticsSink sums;
    EXPECT_EQ(
        modGDIPlusResize::DrawPictureRows(
            modGDIPlusResize::NativePath { QFile::encodeName(path).toStdString() }, sums, 0xFFFFFF),
        GetParam().expected)
        << "row path, file";
    analysis::StatisticsSink fromMemory;
    EXPECT_EQ(modGDIPlusResize::DrawPictureRows(
                  modGDIPlusResize::PictureBytes { bytes.toStdString() }, fromMemory, 0xFFFFFF),
        GetParam().expected)
        << "row path, bytes";
    EXPECT_EQ(WindowReason(path), GetParam().expected) << "window";
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, DamagedFileTest, testing::ValuesIn(kDamage),
    [](const auto &info) { return std::string(info.param.name); });

// ---- files that are no pictures ----

struct FileCase
{
    const char *name;
    // Makes the file (or not) under the folder and gives its path.
    std::function<QString(const QDir &folder)> make;
    LoadFailure expected;
    bool needsPermissions = false; // read as nobody where permission bits do not bind (root)
};

void PrintTo(const FileCase &file, std::ostream *out) { *out << file.name; }

const FileCase kFiles[] = {
    { "Missing", [](const QDir &folder) { return folder.filePath("missing.png"); },
        LoadFailure::NotFound },
    { "InsideAFileAsIfAFolder",
        [](const QDir &folder) {
            fixtures::WriteFile(folder.filePath("plain"), Seed("rgb.png"));
            return folder.filePath("plain/rgb.png");
        },
        LoadFailure::NotFound },
    { "Folder",
        [](const QDir &folder) {
            folder.mkdir("pictures");
            return folder.filePath("pictures");
        },
        LoadFailure::NotAFile },
    { "NamedPipe",
        [](const QDir &folder) {
            const QString path = folder.filePath("pipe");
            EXPECT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            return path;
        },
        LoadFailure::NotAFile },
    { "Device", [](const QDir &) { return QStringLiteral("/dev/null"); }, LoadFailure::NotAFile },
    { "Empty",
        [](const QDir &folder) {
            fixtures::WriteFile(folder.filePath("empty.png"), QByteArray());
            return folder.filePath("empty.png");
        },
        LoadFailure::Empty },
    { "Text",
        [](const QDir &folder) {
            fixtures::WriteFile(folder.filePath("notes.png"), "not a picture\n");
            return folder.filePath("notes.png");
        },
        LoadFailure::UnknownFormat },
    { "Unreadable",
        [](const QDir &folder) {
            const QString path = folder.filePath("locked.png");
            fixtures::WriteFile(path, Seed("rgb.png"));
            EXPECT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
            return path;
        },
        LoadFailure::AccessDenied, true },
};

using NoPictureTest = testing::TestWithParam<FileCase>;

// The reasons the three ways in give for path, as "loader/rows/window" names where they are not
// the expected one; empty when all three agree with it.
std::string ReasonMismatches(const QString &path, LoadFailure expected)
{
    const std::string native = QFile::encodeName(path).toStdString();
    std::string mismatches;
    const auto check = [&](const char *way, LoadFailure reason) {
        if (reason != expected)
            mismatches += std::string(way) + " gave \""
                + std::string(imaging::LoadFailureText(reason)) + "\" ";
    };
    check("loader", imaging::LoadImageFromFile(native).failure);
    analysis::StatisticsSink sums;
    check("rows",
        modGDIPlusResize::DrawPictureRows(modGDIPlusResize::NativePath { native }, sums, 0xFFFFFF));
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    std::int32_t width = -1, height = -1;
    LoadFailure window = LoadFailure::None;
    try {
        (void)modGDIPlusResize::LoadPictureScaled(path, width, height, 0xFFFFFF);
    } catch (const modGDIPlusResize::LoadError &error) {
        window = error.Reason();
    }
    modGDIPlusResize::GdiPlusClose(token);
    check("window", window);
    return mismatches;
}

TEST_P(NoPictureTest, GivesItsReasonOnBothPaths)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = GetParam().make(QDir(dir.path()));
    if (!GetParam().needsPermissions) {
        EXPECT_EQ(ReasonMismatches(path, GetParam().expected), "");
        return;
    }
    // Root reads whatever the permission bits say: the file is read as nobody, who needs a way in.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    EXPECT_EQ(
        fixtures::AsUnprivilegedUser([&] { return ReasonMismatches(path, GetParam().expected); }),
        "");
}

INSTANTIATE_TEST_SUITE_P(Loader, NoPictureTest, testing::ValuesIn(kFiles),
    [](const auto &info) { return std::string(info.param.name); });

TEST(LoadFailure, NoBytesAndNoNameAreReasonsToo)
{
    EXPECT_EQ(imaging::LoadImageFromMemory({}).failure, LoadFailure::Empty);
    EXPECT_EQ(imaging::LoadImageFromMemory("not a picture").failure, LoadFailure::UnknownFormat);
    EXPECT_EQ(imaging::LoadImageFromFile("").failure, LoadFailure::NotFound);
    EXPECT_EQ(imaging::LoadImageFromFile(std::string("a\0b", 3)).failure, LoadFailure::NotFound);
}

} // namespace
