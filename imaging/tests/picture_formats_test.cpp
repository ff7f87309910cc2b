// The table of formats: what it recognises, and that everything naming the formats outside the
// code (the desktop entry, the AppStream data, the man pages, the package's description) names the
// same set as its rows.
#include "imaging/picture_formats.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using imaging::PictureFormatId;

QByteArray ReadSourceFile(const QString &relative)
{
    QFile file(QStringLiteral(QUILLMERE_SOURCE_DIR "/") + relative);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << relative.toStdString();
    return file.readAll();
}

const imaging::PictureFormat *Recognised(const QByteArray &bytes)
{
    const auto n = std::min<std::size_t>(imaging::kRecognitionBytes, bytes.size());
    return imaging::RecognisePictureFormat(
        reinterpret_cast<const unsigned char *>(bytes.constData()), n);
}

const char *NameOf(const imaging::PictureFormat *format)
{
    return format ? format->name.data() : "nothing";
}

// The fuzzer's seeds are the loader's fixtures of every format, named by their format's usual
// extension; each was recognised as that format before the table existed.
TEST(PictureFormats, EverySeedIsRecognisedAsTheFormatOfItsExtension)
{
    const std::map<QString, PictureFormatId> byExtension = {
        { "bmp", PictureFormatId::Bmp },
        { "dib", PictureFormatId::Bmp },
        { "png", PictureFormatId::Png },
        { "gif", PictureFormatId::Gif },
        { "jpg", PictureFormatId::Jpeg },
        { "ico", PictureFormatId::Ico },
        { "webp", PictureFormatId::Webp },
        { "tif", PictureFormatId::Tiff },
        { "heic", PictureFormatId::Heif },
        { "avif", PictureFormatId::Avif },
        { "jxl", PictureFormatId::Jxl },
    };
    const QDir seeds(QStringLiteral(QUILLMERE_SOURCE_DIR "/imaging/fuzz/seeds"));
    const QStringList names = seeds.entryList(QDir::Files, QDir::Name);
    // 51 when this was written; fewer means the folder moved and the table tests nothing.
    ASSERT_GE(names.size(), 51);
    std::map<PictureFormatId, int> seen;
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const auto expected = byExtension.find(QFileInfo(name).suffix());
        ASSERT_NE(expected, byExtension.end());
        const imaging::PictureFormat *format
            = Recognised(ReadSourceFile("imaging/fuzz/seeds/" + name));
        ASSERT_NE(format, nullptr);
        EXPECT_EQ(format->id, expected->second) << "recognised as " << NameOf(format);
        ++seen[format->id];
    }
    EXPECT_EQ(seen.size(), imaging::PictureFormats().size()) << "a format without a seed";
}

// Heads where two formats' magic could meet, and heads too short for their magic; the answers are
// those the recogniser gave before the table of formats replaced it.
TEST(PictureFormats, OverlappingAndShortHeadsKeepTheirOrderOfPrecedence)
{
    const auto bytes = [](std::initializer_list<int> values) {
        QByteArray head;
        for (const int v : values)
            head.append(static_cast<char>(v));
        return head;
    };
    const auto fileType = [](std::uint32_t box, const char *major, std::vector<const char *> more) {
        QByteArray head;
        for (int shift = 24; shift >= 0; shift -= 8)
            head.append(static_cast<char>((box >> shift) & 0xFF));
        head += QByteArray("ftyp") + major + QByteArray(4, '\0');
        for (const char *brand : more)
            head += brand;
        return head;
    };
    const struct
    {
        const char *name;
        QByteArray head;
        const char *expected; // a row's name, or "nothing"
    } cases[] = {
        { "AV1 and HEVC brands together are AVIF", fileType(24, "mif1", { "heic", "avif" }),
            "AVIF" },
        { "HEVC brand alone", fileType(20, "mif1", { "heic" }), "HEIF" },
        { "AVIF brand past the box is not read", fileType(16, "mif1", { "avif" }), "HEIF" },
        { "file type box shorter than its header", fileType(12, "heic", {}), "nothing" },
        { "unknown brands only", fileType(20, "isom", { "mp41" }), "nothing" },
        // 00 00 01 00 is also an icon directory's start: the file type box comes first.
        { "file type box that reads as an icon", fileType(256, "heic", {}), "HEIF" },
        { "icon directory", bytes({ 0, 0, 1, 0, 1, 0 }), "ICO" },
        { "cursor directory", bytes({ 0, 0, 2, 0, 1, 0 }), "ICO" },
        { "icon directory without images", bytes({ 0, 0, 1, 0, 0, 0 }), "nothing" },
        { "icon directory cut to five bytes", bytes({ 0, 0, 1, 0, 1 }), "nothing" },
        { "JPEG XL container", bytes({ 0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A }),
            "JPEG XL" },
        { "JPEG XL codestream", bytes({ 0xFF, 0x0A, 0 }), "JPEG XL" },
        { "JPEG", bytes({ 0xFF, 0xD8, 0xFF, 0xE0 }), "JPEG" },
        { "JPEG cut to two bytes", bytes({ 0xFF, 0xD8 }), "nothing" },
        { "RIFF that is not WebP", QByteArray("RIFF\x10\0\0\0WAVE", 12), "nothing" },
        { "WebP", QByteArray("RIFF\x10\0\0\0WEBP", 12), "WebP" },
        { "big TIFF, big-endian", bytes({ 'M', 'M', 0, 43 }), "TIFF" },
        { "TIFF, little-endian", bytes({ 'I', 'I', 42, 0 }), "TIFF" },
        { "GIF87a", QByteArray("GIF87a"), "GIF" },
        { "GIF of an unknown version", QByteArray("GIF88a"), "nothing" },
        { "BM", QByteArray("BM"), "BMP" },
        { "PNG without its last signature byte", bytes({ 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A }),
            "nothing" },
        { "nothing at all", QByteArray(), "nothing" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(NameOf(Recognised(c.head)), c.expected);
        EXPECT_EQ(imaging::IsKnownPictureFormat(
                      reinterpret_cast<const unsigned char *>(c.head.constData()),
                      static_cast<std::size_t>(c.head.size())),
            std::string(c.expected) != "nothing");
    }
}

// The texts built from the rows, as the programs printed them when they were written out by hand:
// the missing module's message, the open dialog's patterns, the types a paste asks for first.
TEST(PictureFormats, TextsBuiltFromTheRowsAreTheOnesWrittenOutBefore)
{
    using imaging::DecoderHome;
    EXPECT_EQ(
        imaging::FormatNamesIn(DecoderHome::FormatsModule), "WebP, TIFF, HEIF, AVIF and JPEG XL");
    EXPECT_EQ(imaging::FilePatternsIn(DecoderHome::BuiltIn),
        "*.bmp *.dib *.png *.gif *.jpg *.jpe *.jpeg *.jfif *.ico");
    EXPECT_EQ(imaging::FilePatternsIn(DecoderHome::FormatsModule),
        "*.webp *.tif *.tiff *.heic *.heif *.avif *.jxl");
    EXPECT_EQ(imaging::FormatNamesForHelp(),
        "BMP, PNG, GIF, JPEG, ICO, WebP, TIFF, HEIC/HEIF, AVIF, JPEG XL");
    const std::vector<std::string_view> offered = imaging::OfferedMimeTypes();
    EXPECT_EQ(offered,
        (std::vector<std::string_view> { "image/png", "image/jpeg", "image/gif", "image/bmp",
            "image/x-icon", "image/vnd.microsoft.icon", "image/webp", "image/tiff", "image/heic",
            "image/heif", "image/avif", "image/jxl" }));
}

// ---- the listings outside the code ----

// Sorted, so that a list named in another order still matches and a drift prints readably.
std::vector<std::string> Sorted(const QStringList &names)
{
    std::vector<std::string> sorted;
    for (const QString &name : names)
        sorted.push_back(name.toStdString());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

std::vector<std::string> TableMimeTypes()
{
    QStringList types;
    for (const imaging::PictureFormat &format : imaging::PictureFormats()) {
        for (const std::string_view type : format.mimeTypes)
            types << QString::fromLatin1(type.data(), static_cast<qsizetype>(type.size()));
    }
    return Sorted(types);
}

// The row a name in prose stands for: its own name, or a file extension of it in capitals
// ("DIB", "HEIC"); null for a name no row has.
const imaging::PictureFormat *FormatNamed(const QString &name)
{
    for (const imaging::PictureFormat &format : imaging::PictureFormats()) {
        if (name == QLatin1String(format.name.data(), static_cast<qsizetype>(format.name.size())))
            return &format;
        for (const std::string_view pattern : format.filePatterns) {
            if (name
                == QString::fromLatin1(
                    pattern.substr(2).data(), static_cast<qsizetype>(pattern.size() - 2))
                       .toUpper())
                return &format;
        }
    }
    return nullptr;
}

// Checks a list of formats in prose ("BMP and DIB, PNG, GIF (the first frame), ..., and JPEG
// XL"): every name is a row's, and every row is named.
void ExpectEveryFormatListed(const QString &where, QString listing)
{
    SCOPED_TRACE(where.toStdString());
    ASSERT_FALSE(listing.isEmpty()) << "the list of formats was not found";
    listing.remove(QRegularExpression(QStringLiteral("\\([^)]*\\)")));
    listing.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
    QSet<imaging::PictureFormatId> named;
    for (QString item : listing.split(QRegularExpression(QStringLiteral(",| and |/")))) {
        item = item.trimmed();
        if (item.startsWith(QStringLiteral("and ")))
            item = item.mid(4);
        if (item.isEmpty())
            continue;
        const imaging::PictureFormat *format = FormatNamed(item);
        EXPECT_NE(format, nullptr) << "\"" << item.toStdString() << "\" is no format of the table";
        if (format)
            named.insert(format->id);
    }
    for (const imaging::PictureFormat &format : imaging::PictureFormats())
        EXPECT_TRUE(named.contains(format.id)) << format.name << " is not listed";
}

// The text between the first `before` and the `after` that follows it; empty when either is
// missing.
QString Between(const QString &text, const QString &before, const QString &after)
{
    const qsizetype start = text.indexOf(before);
    if (start < 0)
        return {};
    const qsizetype end = text.indexOf(after, start + before.size());
    return end < 0 ? QString() : text.mid(start + before.size(), end - start - before.size());
}

TEST(FormatListings, DesktopEntryAndAppStreamDataOfferTheTablesTypes)
{
    const QString desktop
        = QString::fromUtf8(ReadSourceFile(QStringLiteral("app/org.quillmere.Quillmere.desktop")));
    const QRegularExpressionMatch line
        = QRegularExpression(QStringLiteral("^MimeType=(.*)$"), QRegularExpression::MultilineOption)
              .match(desktop);
    ASSERT_TRUE(line.hasMatch());
    EXPECT_EQ(Sorted(line.captured(1).split(';', Qt::SkipEmptyParts)), TableMimeTypes());

    const QString metainfo
        = QString::fromUtf8(ReadSourceFile(QStringLiteral("packaging/quillmere.metainfo.xml.in")));
    QStringList appStreamTypes;
    auto matches = QRegularExpression(QStringLiteral("<mediatype>([^<]*)</mediatype>"))
                       .globalMatch(metainfo);
    while (matches.hasNext())
        appStreamTypes << matches.next().captured(1);
    EXPECT_EQ(Sorted(appStreamTypes), TableMimeTypes());
}

TEST(FormatListings, ManPagesAndThePackageDescriptionNameEveryFormat)
{
    const QString window = QString::fromUtf8(ReadSourceFile(QStringLiteral("app/quillmere.1")));
    const QString tool = QString::fromUtf8(ReadSourceFile(QStringLiteral("tools/quillmere-avg.1")));
    // CMake's continued lines end in a backslash.
    const QString package
        = QString::fromUtf8(ReadSourceFile(QStringLiteral("packaging/CMakeLists.txt")))
              .remove(QStringLiteral("\\n\\\n"));
    ExpectEveryFormatListed(QStringLiteral("quillmere(1)"),
        Between(window, QStringLiteral(".SH FORMATS\n"), QStringLiteral(", each recognised")));
    ExpectEveryFormatListed(QStringLiteral("quillmere-avg(1)"),
        Between(
            tool, QStringLiteral("each picture ("), QStringLiteral(", recognised by content)")));
    ExpectEveryFormatListed(QStringLiteral("the package description"),
        Between(package, QStringLiteral("image file ("), QStringLiteral(")")));

    // Both pages say which formats the module decodes.
    const QString module = QStringLiteral("The decoders of ")
        + QString::fromStdString(imaging::FormatNamesIn(imaging::DecoderHome::FormatsModule)) + ',';
    EXPECT_TRUE(window.contains(module)) << "quillmere(1) lacks: " << module.toStdString();
    EXPECT_TRUE(tool.contains(module)) << "quillmere-avg(1) lacks: " << module.toStdString();
}

} // namespace
