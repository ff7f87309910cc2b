#include "imaging/png_chunks.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

namespace imaging::png {
namespace {

    // A profile inflated past this is taken as damaged; real ones are a few hundred kilobytes.
    constexpr std::size_t kMaxProfileBytes = 32 << 20;

    // An iCCP chunk's profile: a name of 1 to 79 bytes and its terminator, compression method 0,
    // then the zlib stream. Empty where any part is wrong, including a profile whose header
    // gives another length than it has.
    std::vector<std::uint8_t> InflateProfile(const std::uint8_t *data, std::size_t length)
    {
        if (length < 3)
            return {};
        const auto *end = static_cast<const std::uint8_t *>(
            std::memchr(data, 0, std::min<std::size_t>(length, 80)));
        if (!end || end == data || static_cast<std::size_t>(end - data) + 2 > length || end[1] != 0)
            return {};
        z_stream stream {};
        if (inflateInit(&stream) != Z_OK)
            return {};
        stream.next_in = const_cast<std::uint8_t *>(end + 2);
        stream.avail_in = static_cast<uInt>(length - static_cast<std::size_t>(end + 2 - data));
        std::vector<std::uint8_t> profile;
        int result = Z_OK;
        while (result == Z_OK && profile.size() < kMaxProfileBytes) {
            const std::size_t at = profile.size();
            profile.resize(at + 64 * 1024);
            stream.next_out = profile.data() + at;
            stream.avail_out = 64 * 1024;
            result = inflate(&stream, Z_NO_FLUSH);
            profile.resize(at + 64 * 1024 - stream.avail_out);
            if (result == Z_BUF_ERROR && stream.avail_in == 0)
                break; // the stream stops before its end
        }
        inflateEnd(&stream);
        if (result != Z_STREAM_END || profile.size() < 132
            || ReadBe32(profile.data()) != profile.size())
            return {};
        return profile;
    }

    // Marks an absent chunk good or damaged; whether it is good now.
    bool Judge(Chunk &slot, bool good)
    {
        if (slot == Chunk::Absent)
            slot = good ? Chunk::Good : Chunk::Damaged;
        return slot == Chunk::Good;
    }

} // namespace

Chunk *ColourChunks::Slot(const char *name)
{
    Chunk *states[] = { &cicp, &iccp, &srgb, &gama, &chrm };
    for (int i = 0; i < kColourChunkCount; ++i) {
        if (std::memcmp(name, kColourChunkNames + 5 * i, 4) == 0)
            return states[i];
    }
    return nullptr;
}

void ColourChunks::Read(const char *name, const std::uint8_t *data, std::size_t length)
{
    const auto named = [name](const char *four) { return std::memcmp(name, four, 4) == 0; };
    if (named("cICP")) {
        // PNG pixels are RGB: only the identity matrix makes sense.
        if (cicp == Chunk::Absent && Judge(cicp, length == 4 && data[2] == 0 && data[3] <= 1))
            codePoints = { data[0], data[1], data[2], data[3] == 1 };
    } else if (named("iCCP")) {
        if (iccp == Chunk::Absent) {
            icc = InflateProfile(data, length);
            Judge(iccp, !icc.empty());
        }
    } else if (named("sRGB")) {
        Judge(srgb, length == 1 && data[0] <= 3);
    } else if (named("gAMA")) {
        if (gama == Chunk::Absent && Judge(gama, length == 4 && ReadBe32(data) != 0))
            gamma = ReadBe32(data) / 100000.0;
    } else if (named("cHRM")) {
        if (chrm == Chunk::Absent && Judge(chrm, length == 32)) {
            for (int i = 0; i < 8; ++i)
                chromaticities[i] = ReadBe32(data + 4 * i) / 100000.0;
        }
    }
}

ColourDescription DescriptionOf(ColourChunks &chunks)
{
    using Kind = ColourDescription::Kind;
    ColourDescription colour;
    if (chunks.cicp != Chunk::Absent) {
        colour.kind = Kind::Cicp;
        colour.cicp = chunks.codePoints;
        colour.damaged = chunks.cicp == Chunk::Damaged;
    } else if (chunks.iccp != Chunk::Absent) {
        colour.kind = Kind::Icc;
        colour.icc = std::move(chunks.icc);
        colour.damaged = chunks.iccp == Chunk::Damaged;
    } else if (chunks.srgb != Chunk::Absent) {
        colour.kind = Kind::Srgb;
        colour.damaged = chunks.srgb == Chunk::Damaged;
    } else if (chunks.gama != Chunk::Absent) {
        colour.kind = Kind::GammaChromaticities;
        colour.gamma = chunks.gamma;
        if (chunks.chrm == Chunk::Good)
            colour.chromaticities = chunks.chromaticities;
        colour.damaged = chunks.gama == Chunk::Damaged || chunks.chrm == Chunk::Damaged;
    }
    if (colour.damaged) {
        colour = {};
        colour.damaged = true;
    }
    return colour;
}

} // namespace imaging::png
