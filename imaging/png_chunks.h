#pragma once

#include "imaging/colour_description.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// What both PNG readers share about the chunks that describe colours (cICP, iCCP, sRGB, gAMA,
// cHRM): they are judged here, not by libpng, whose own handling keeps only the first of iCCP and
// sRGB and drops a profile it dislikes with no more than a warning.
namespace imaging::png {

// The five names, each with its terminating NUL, as libpng's chunk lists take them.
inline constexpr std::uint8_t kColourChunkNames[] = "cICP\0iCCP\0sRGB\0gAMA\0cHRM";
inline constexpr int kColourChunkCount = 5;

enum class Chunk : std::uint8_t { Absent, Good, Damaged };

// What the colour chunks before the image data held; the first of each kind counts.
struct ColourChunks
{
    Chunk cicp = Chunk::Absent, iccp = Chunk::Absent, srgb = Chunk::Absent;
    Chunk gama = Chunk::Absent, chrm = Chunk::Absent;
    Cicp codePoints;
    std::vector<std::uint8_t> icc;
    double gamma = 0;
    std::array<double, 8> chromaticities {};

    // The state of the chunk of that four-letter name, or null for other chunks.
    [[nodiscard]] Chunk *Slot(const char *name);

    // Judges one colour chunk's body (length bytes at data); other names are ignored.
    void Read(const char *name, const std::uint8_t *data, std::size_t length);
};

// The description by the order of precedence: cICP, iCCP, sRGB, gAMA (with cHRM). The first kind
// present decides; when that one is damaged the picture is taken as sRGB (damaged set).
[[nodiscard]] ColourDescription DescriptionOf(ColourChunks &chunks);

// The big-endian 32-bit number at bytes.
[[nodiscard]] inline std::uint32_t ReadBe32(const std::uint8_t *bytes)
{
    return (std::uint32_t { bytes[0] } << 24) | (std::uint32_t { bytes[1] } << 16)
        | (std::uint32_t { bytes[2] } << 8) | bytes[3];
}

} // namespace imaging::png
