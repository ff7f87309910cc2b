#pragma once

#include "imaging/decoded_image.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The picture formats the loader reads, one row each. Everything that names the formats (the
// recogniser, the dispatch, the formats module's entry, the open dialog's filters, the types a
// drop or paste is asked for, the help text) is read off these rows.
namespace imaging {

// A format's number; it crosses into the formats module, so a row's number never changes.
enum class PictureFormatId : std::uint8_t {
    Bmp = 1,
    Png,
    Gif,
    Jpeg,
    Ico,
    Webp,
    Tiff,
    Heif,
    Avif,
    Jxl,
};

// Where a format's decoder is linked.
enum class DecoderHome : std::uint8_t {
    BuiltIn, // the loader itself
    FormatsModule, // the module loaded on first use (formats_module.h)
    NotBuilt, // known by its magic, but this build has no decoder (its library was not built)
};

using PictureOpener = OpenedImage (*)(FilePtr file);

struct PictureFormat
{
    PictureFormatId id {};
    // As the messages, the help text and the man pages name it: "JPEG XL".
    std::string_view name;
    // Where the help text names more than the format ("HEIC/HEIF"); empty for name.
    std::string_view helpName;
    // Whether the first bytes of a file (kRecognitionBytes, or all of a shorter one) are this
    // format's; the rows are asked in recognitionOrder, lowest first, and the first yes wins.
    bool (*matches)(const unsigned char *head, std::size_t n) = nullptr;
    int recognitionOrder = 0;
    // Media types, the usual one first.
    std::span<const std::string_view> mimeTypes;
    // File name patterns for the open dialog, "*.ext".
    std::span<const std::string_view> filePatterns;
    // Whether the decoder's library prints on stderr and its calls run under a QuietStderr.
    bool quietStderr = false;
    // Rank among the types a drop or paste offers, lowest first; rows of the same rank keep the
    // table's order.
    int offerRank = 100;
    DecoderHome home = DecoderHome::BuiltIn;
    // The decoder; null in the build that does not link it (the formats module's rows in the
    // loader, the loader's rows in the module) and in every build for NotBuilt.
    PictureOpener open = nullptr;
};

// Every row, the loader's own formats first, in the order the open dialog lists them.
[[nodiscard]] std::span<const PictureFormat> PictureFormats();

// How many bytes at the start of a file tell its format.
inline constexpr std::size_t kRecognitionBytes = 64;

// The row whose magic bytes the first bytes of a file (kRecognitionBytes, or all of a shorter
// file) carry, or null; the file name plays no part.
[[nodiscard]] const PictureFormat *RecognisePictureFormat(const unsigned char *head, std::size_t n);

// Whether the first bytes of a file are those of a format the loader knows.
[[nodiscard]] bool IsKnownPictureFormat(const unsigned char *head, std::size_t n);

// The row of a format number, or null for a number no row has.
[[nodiscard]] const PictureFormat *FindPictureFormat(PictureFormatId id);

// The names of the formats decoded in home, joined as prose: "WebP, TIFF, HEIF, AVIF and
// JPEG XL".
[[nodiscard]] std::string FormatNamesIn(DecoderHome home);

// The name of every format this build reads, for quillmere-avg's help: "BMP, PNG, GIF, JPEG, ICO,
// WebP, TIFF, HEIC/HEIF, AVIF, JPEG XL".
[[nodiscard]] std::string FormatNamesForHelp();

// The file name patterns of the formats decoded in home, space-separated: "*.bmp *.dib ...".
[[nodiscard]] std::string FilePatternsIn(DecoderHome home);

// Every format's media types, in the order a drop or paste asks for them (offerRank).
[[nodiscard]] std::vector<std::string_view> OfferedMimeTypes();

} // namespace imaging
