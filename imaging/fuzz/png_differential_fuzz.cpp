// libFuzzer target: arbitrary bytes through both PNG readers, the loader's own and libpng's. They
// must both refuse the input or both give the same rows. Half of the inputs have their chunks'
// CRCs made right first, so that mutations get past the CRC check into the chunks and the image
// data.
#include "imaging/decoded_image.h"
#include "imaging/tests/keeping_sink.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Drawn
{
    imaging::LoadFailure failure = imaging::LoadFailure::None;
    std::vector<std::uint32_t> pixels;
};

// Pictures past this are compared by their headers only: drawing them twice on every run would
// fill the sanitizer's quarantine and slow the search down.
constexpr std::int64_t kMaxDrawnPixels = 1 << 20;

Drawn Draw(
    imaging::OpenedImage (*open)(imaging::FilePtr), std::string bytes, bool convert, QSize &size)
{
    imaging::FilePtr file(fmemopen(bytes.data(), bytes.size(), "rb"));
    if (!file)
        return { imaging::LoadFailure::CutShort, {} };
    imaging::OpenedImage opened = open(std::move(file));
    if (!opened.image)
        return { opened.failure, {} };
    size = opened.image->Size();
    if (std::int64_t { size.width() } * size.height() > kMaxDrawnPixels)
        return {};
    opened.image->SetColourOptions({ .raw = !convert });
    fixtures::KeepingSink sink;
    const imaging::LoadFailure failure = opened.image->DrawRows(sink, 0xFF808080u);
    return { failure, std::move(sink.pixels) };
}

std::uint32_t Crc(const std::uint8_t *data, std::size_t n)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::uint32_t ReadBe32(const std::uint8_t *bytes)
{
    return (std::uint32_t { bytes[0] } << 24) | (std::uint32_t { bytes[1] } << 16)
        | (std::uint32_t { bytes[2] } << 8) | bytes[3];
}

// Whether every chunk after the signature fits in the file. libpng allocates an ancillary
// chunk's stated length before reading it (a warning is all it says), so one that claims
// gigabytes the file does not have would end the fuzzer on memory, not on a finding.
bool ChunksFit(const std::string &bytes)
{
    const auto *data = reinterpret_cast<const std::uint8_t *>(bytes.data());
    for (std::size_t at = 8; at + 8 <= bytes.size();) {
        const std::uint64_t length = ReadBe32(data + at);
        if (length + 12 > bytes.size() - at)
            return length <= 1 << 20;
        at += 12 + length;
    }
    return true;
}

// Rewrites the CRC of every whole chunk after the signature.
void MendCrcs(std::string &bytes)
{
    auto *data = reinterpret_cast<std::uint8_t *>(bytes.data());
    std::size_t at = 8;
    while (at + 12 <= bytes.size()) {
        const std::uint32_t length = ReadBe32(data + at);
        if (length > bytes.size() - at - 12)
            return;
        const std::uint32_t crc = Crc(data + at + 4, length + 4);
        for (int i = 0; i < 4; ++i)
            data[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first byte chooses the mending and the conversion; the rest is the file.
    std::string bytes(reinterpret_cast<const char *>(data + 1), size - 1);
    if (!ChunksFit(bytes))
        return 0;
    if ((data[0] & 1) != 0)
        MendCrcs(bytes);
    const bool convert = (data[0] & 2) != 0;
    QSize ourSize, referenceSize;
    const Drawn ours = Draw(imaging::OpenPng, bytes, convert, ourSize);
    const Drawn reference = Draw(imaging::OpenPngThroughLibpng, bytes, convert, referenceSize);
    const bool oursGood = ours.failure == imaging::LoadFailure::None;
    const bool referenceGood = reference.failure == imaging::LoadFailure::None;
    // A picture may be refused on opening by one reader and on drawing by the other.
    if (oursGood != referenceGood
        || (oursGood && (ourSize != referenceSize || ours.pixels != reference.pixels))) {
        std::fprintf(stderr, "PNG readers disagree: ours %d, libpng's %d\n",
            static_cast<int>(ours.failure), static_cast<int>(reference.failure));
        __builtin_trap();
    }
    return 0;
}
