// Built into the loader and into the formats module alike; each links only its own decoders.
#include "imaging/picture_formats.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

// A row's decoder where this build links it, null where the other one does.
#ifdef QUILLMERE_FORMATS_MODULE
#define QUILLMERE_BUILT_IN(opener) .home = DecoderHome::BuiltIn, .open = nullptr
#define QUILLMERE_IN_MODULE(opener) .home = DecoderHome::FormatsModule, .open = &opener
#else
#define QUILLMERE_BUILT_IN(opener) .home = DecoderHome::BuiltIn, .open = &opener
#define QUILLMERE_IN_MODULE(opener) .home = DecoderHome::FormatsModule, .open = nullptr
#endif
// A format whose library the build leaves out (the Windows build cross-builds WebP's and TIFF's
// alone): still recognised, so that its files get that reason rather than "not a picture".
#define QUILLMERE_LEFT_OUT .home = DecoderHome::NotBuilt, .open = nullptr

namespace imaging {
namespace {

    bool Starts(
        const unsigned char *head, std::size_t n, std::initializer_list<unsigned char> magic)
    {
        return n >= magic.size() && std::equal(magic.begin(), magic.end(), head);
    }

    // Whether the 4-byte brand is one of the given ones.
    bool IsBrand(const unsigned char *brand, std::initializer_list<const char *> brands)
    {
        return std::any_of(brands.begin(), brands.end(),
            [brand](const char *known) { return std::memcmp(brand, known, 4) == 0; });
    }

    // An ISO media file type box at the start whose major brand or one of its compatible brands
    // (within the bytes read) is one of brands.
    bool HasFileTypeBrand(
        const unsigned char *head, std::size_t n, std::initializer_list<const char *> names)
    {
        if (n < 16 || std::memcmp(head + 4, "ftyp", 4) != 0)
            return false;
        const std::size_t box = (std::size_t { head[0] } << 24) | (std::size_t { head[1] } << 16)
            | (std::size_t { head[2] } << 8) | head[3];
        if (box < 16)
            return false;
        // The major brand, then the compatible ones after the minor version.
        if (IsBrand(head + 8, names))
            return true;
        for (std::size_t at = 16; at + 4 <= std::min(box, n); at += 4) {
            if (IsBrand(head + at, names))
                return true;
        }
        return false;
    }

    // "BM", or a bare DIB (a clipboard picture saved as .dib): a Windows header's size, one plane
    // and a known depth, which little else starts with.
    bool IsBmp(const unsigned char *head, std::size_t n)
    {
        if (Starts(head, n, { 'B', 'M' }))
            return true;
        if (n < 16 || head[1] != 0 || head[2] != 0 || head[3] != 0)
            return false;
        const unsigned headerSize = head[0];
        const unsigned depth = head[14] | (unsigned { head[15] } << 8);
        return (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108
                   || headerSize == 124)
            && head[12] == 1 && head[13] == 0
            && (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16 || depth == 24
                || depth == 32);
    }

    bool IsPng(const unsigned char *head, std::size_t n)
    {
        return Starts(head, n, { 0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A });
    }

    bool IsGif(const unsigned char *head, std::size_t n)
    {
        return Starts(head, n, { 'G', 'I', 'F', '8', '7', 'a' })
            || Starts(head, n, { 'G', 'I', 'F', '8', '9', 'a' });
    }

    bool IsJpeg(const unsigned char *head, std::size_t n)
    {
        return Starts(head, n, { 0xFF, 0xD8, 0xFF });
    }

    // Icon directory: reserved 0, type 1 (icon) or 2 (cursor), at least one image.
    bool IsIco(const unsigned char *head, std::size_t n)
    {
        return Starts(head, n, { 0, 0 }) && n >= 6 && (head[2] == 1 || head[2] == 2) && head[3] == 0
            && (head[4] != 0 || head[5] != 0);
    }

    bool IsWebp(const unsigned char *head, std::size_t n)
    {
        return n >= 12 && Starts(head, n, { 'R', 'I', 'F', 'F' })
            && std::memcmp(head + 8, "WEBP", 4) == 0;
    }

    // Classic and big TIFF, little- and big-endian.
    bool IsTiff(const unsigned char *head, std::size_t n)
    {
        return Starts(head, n, { 'I', 'I', 42, 0 }) || Starts(head, n, { 'M', 'M', 0, 42 })
            || Starts(head, n, { 'I', 'I', 43, 0 }) || Starts(head, n, { 'M', 'M', 0, 43 });
    }

    // AVIF goes first: an AV1 picture may name the HEIF brands as well.
    bool IsAvif(const unsigned char *head, std::size_t n)
    {
        return HasFileTypeBrand(head, n, { "avif", "avis" });
    }

    bool IsHeif(const unsigned char *head, std::size_t n)
    {
        return HasFileTypeBrand(head, n,
            { "heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs", "mif1", "msf1",
                "mif2" });
    }

    // A bare JPEG XL codestream, or the container's signature box.
    bool IsJxl(const unsigned char *head, std::size_t n)
    {
        return Starts(head, n, { 0xFF, 0x0A })
            || Starts(head, n, { 0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A });
    }

    using Names = std::string_view[];
    constexpr Names kBmpTypes { "image/bmp" };
    constexpr Names kBmpPatterns { "*.bmp", "*.dib" };
    constexpr Names kPngTypes { "image/png" };
    constexpr Names kPngPatterns { "*.png" };
    constexpr Names kGifTypes { "image/gif" };
    constexpr Names kGifPatterns { "*.gif" };
    constexpr Names kJpegTypes { "image/jpeg" };
    constexpr Names kJpegPatterns { "*.jpg", "*.jpe", "*.jpeg", "*.jfif" };
    constexpr Names kIcoTypes { "image/x-icon", "image/vnd.microsoft.icon" };
    constexpr Names kIcoPatterns { "*.ico" };
    constexpr Names kWebpTypes { "image/webp" };
    constexpr Names kWebpPatterns { "*.webp" };
    constexpr Names kTiffTypes { "image/tiff" };
    constexpr Names kTiffPatterns { "*.tif", "*.tiff" };
    constexpr Names kHeifTypes { "image/heic", "image/heif" };
    constexpr Names kHeifPatterns { "*.heic", "*.heif" };
    constexpr Names kAvifTypes { "image/avif" };
    constexpr Names kAvifPatterns { "*.avif" };
    constexpr Names kJxlTypes { "image/jxl" };
    constexpr Names kJxlPatterns { "*.jxl" };

    // Each row names only the fields that differ from the defaults; GCC 12 warns about the others
    // even where designated initializers leave them out on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
    // Recognition runs from the most specific magic to the least: "BM" and the icon directory's
    // zeros say little, so they come last. A paste asks for lossless PNG first, then the loader's
    // other formats, then the rest.
    constexpr PictureFormat kFormats[] = {
        { .id = PictureFormatId::Bmp,
            .name = "BMP",
            .matches = IsBmp,
            .recognitionOrder = 9,
            .mimeTypes = kBmpTypes,
            .filePatterns = kBmpPatterns,
            .offerRank = 4,
            QUILLMERE_BUILT_IN(OpenBmp) },
        { .id = PictureFormatId::Png,
            .name = "PNG",
            .matches = IsPng,
            .recognitionOrder = 2,
            .mimeTypes = kPngTypes,
            .filePatterns = kPngPatterns,
            .offerRank = 1,
            QUILLMERE_BUILT_IN(OpenPng) },
        { .id = PictureFormatId::Gif,
            .name = "GIF",
            .matches = IsGif,
            .recognitionOrder = 3,
            .mimeTypes = kGifTypes,
            .filePatterns = kGifPatterns,
            .offerRank = 3,
            QUILLMERE_BUILT_IN(OpenGif) },
        { .id = PictureFormatId::Jpeg,
            .name = "JPEG",
            .matches = IsJpeg,
            .recognitionOrder = 1,
            .mimeTypes = kJpegTypes,
            .filePatterns = kJpegPatterns,
            .offerRank = 2,
            QUILLMERE_BUILT_IN(OpenJpeg) },
        { .id = PictureFormatId::Ico,
            .name = "ICO",
            .matches = IsIco,
            .recognitionOrder = 10,
            .mimeTypes = kIcoTypes,
            .filePatterns = kIcoPatterns,
            .offerRank = 5,
            QUILLMERE_BUILT_IN(OpenIco) },
        { .id = PictureFormatId::Webp,
            .name = "WebP",
            .matches = IsWebp,
            .recognitionOrder = 4,
            .mimeTypes = kWebpTypes,
            .filePatterns = kWebpPatterns,
            QUILLMERE_IN_MODULE(OpenWebp) },
        { .id = PictureFormatId::Tiff,
            .name = "TIFF",
            .matches = IsTiff,
            .recognitionOrder = 5,
            .mimeTypes = kTiffTypes,
            .filePatterns = kTiffPatterns,
            QUILLMERE_IN_MODULE(OpenTiff) },
        { .id = PictureFormatId::Heif,
            .name = "HEIF",
            .helpName = "HEIC/HEIF",
            .matches = IsHeif,
            .recognitionOrder = 7,
            .mimeTypes = kHeifTypes,
            .filePatterns = kHeifPatterns,
#ifdef QUILLMERE_WITHOUT_HEIF
            QUILLMERE_LEFT_OUT },
#else
            QUILLMERE_IN_MODULE(OpenHeif) },
#endif
        { .id = PictureFormatId::Avif,
            .name = "AVIF",
            .matches = IsAvif,
            .recognitionOrder = 6,
            .mimeTypes = kAvifTypes,
            .filePatterns = kAvifPatterns,
#ifdef QUILLMERE_WITHOUT_AVIF
            QUILLMERE_LEFT_OUT },
#else
            QUILLMERE_IN_MODULE(OpenAvif) },
#endif
        // Debian's libjxl prints a line on stderr for each flaw it meets.
        { .id = PictureFormatId::Jxl,
            .name = "JPEG XL",
            .matches = IsJxl,
            .recognitionOrder = 8,
            .mimeTypes = kJxlTypes,
            .filePatterns = kJxlPatterns,
            .quietStderr = true,
#ifdef QUILLMERE_WITHOUT_JXL
            QUILLMERE_LEFT_OUT },
#else
            QUILLMERE_IN_MODULE(OpenJxl) },
#endif
    };
#pragma GCC diagnostic pop

    constexpr std::size_t kFormatCount = std::size(kFormats);

    // The rows in recognitionOrder.
    constexpr std::array<const PictureFormat *, kFormatCount> kRecognitionSequence = [] {
        std::array<const PictureFormat *, kFormatCount> rows {};
        for (std::size_t i = 0; i < kFormatCount; ++i)
            rows[i] = &kFormats[i];
        std::sort(rows.begin(), rows.end(), [](const PictureFormat *a, const PictureFormat *b) {
            return a->recognitionOrder < b->recognitionOrder;
        });
        return rows;
    }();

    std::string JoinNames(const std::vector<std::string_view> &names, std::string_view last)
    {
        std::string joined;
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (i > 0)
                joined += i + 1 == names.size() ? last : std::string_view(", ");
            joined += names[i];
        }
        return joined;
    }

} // namespace

std::span<const PictureFormat> PictureFormats() { return kFormats; }

const PictureFormat *RecognisePictureFormat(const unsigned char *head, std::size_t n)
{
    for (const PictureFormat *row : kRecognitionSequence) {
        if (row->matches(head, n))
            return row;
    }
    return nullptr;
}

bool IsKnownPictureFormat(const unsigned char *head, std::size_t n)
{
    return RecognisePictureFormat(head, n) != nullptr;
}

const PictureFormat *FindPictureFormat(PictureFormatId id)
{
    for (const PictureFormat &row : kFormats) {
        if (row.id == id)
            return &row;
    }
    return nullptr;
}

std::string FormatNamesIn(DecoderHome home)
{
    std::vector<std::string_view> names;
    for (const PictureFormat &row : kFormats) {
        if (row.home == home)
            names.push_back(row.name);
    }
    return JoinNames(names, " and ");
}

std::string FormatNamesForHelp()
{
    std::vector<std::string_view> names;
    for (const PictureFormat &row : kFormats) {
        if (row.home != DecoderHome::NotBuilt)
            names.push_back(row.helpName.empty() ? row.name : row.helpName);
    }
    return JoinNames(names, ", ");
}

std::string FilePatternsIn(DecoderHome home)
{
    std::vector<std::string_view> patterns;
    for (const PictureFormat &row : kFormats) {
        if (row.home == home)
            patterns.insert(patterns.end(), row.filePatterns.begin(), row.filePatterns.end());
    }
    std::string joined;
    for (const std::string_view pattern : patterns) {
        if (!joined.empty())
            joined += ' ';
        joined += pattern;
    }
    return joined;
}

std::vector<std::string_view> OfferedMimeTypes()
{
    std::vector<const PictureFormat *> rows;
    for (const PictureFormat &row : kFormats)
        rows.push_back(&row);
    std::stable_sort(rows.begin(), rows.end(),
        [](const PictureFormat *a, const PictureFormat *b) { return a->offerRank < b->offerRank; });
    std::vector<std::string_view> types;
    for (const PictureFormat *row : rows)
        types.insert(types.end(), row->mimeTypes.begin(), row->mimeTypes.end());
    return types;
}

} // namespace imaging
