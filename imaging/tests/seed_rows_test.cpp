// Every fuzz seed, whole and cut in half, through the row path: the picture's size and checksums
// of its rows (converted to sRGB, and raw), against imaging/tests/seed_rows.tsv. The Windows build
// runs the same table under Wine, so both builds must decode every seed to the same pixels. The
// table was written by the Linux build, whose decoders the other tables check pixel by pixel;
// QUILLMERE_WRITE_SEED_ROWS=<file> writes it afresh after a seed or a decoder changes on purpose.
#include "imaging/load_failure.h"
#include "imaging/picture_formats.h"
#include "imaging/picture_rows.h"
#include "imaging/tests/keeping_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string kSeeds = QUILLMERE_SOURCE_DIR "/imaging/fuzz/seeds/";
const std::string kTable = QUILLMERE_SOURCE_DIR "/imaging/tests/seed_rows.tsv";

struct SeedRow
{
    std::string seed;
    std::string whole; // "WxH srgb=<hash> raw=<hash>" or "! <reason>"
    std::string cut; // the first half of the file: "WxH srgb=<hash>" or "! <reason>"
};

std::string ReadBytes(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>() };
}

// FNV-1a over the pixels' bytes, little-endian, as 16 hex digits.
std::string Checksum(const std::vector<std::uint32_t> &pixels)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const std::uint32_t pixel : pixels) {
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (pixel >> shift) & 0xFF;
            hash *= 0x100000001b3u;
        }
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

template <typename Picture> std::string Draw(const Picture &picture, bool raw, bool withSize)
{
    fixtures::KeepingSink sink;
    const imaging::LoadFailure failure = modGDIPlusResize::DrawPictureRows(
        picture, sink, 0xFFFFFF, imaging::ColourOptions { raw });
    if (failure != imaging::LoadFailure::None)
        return "! " + std::string(imaging::LoadFailureText(failure));
    const std::string sums = (raw ? "raw=" : "srgb=") + Checksum(sink.pixels);
    if (!withSize)
        return sums;
    const std::size_t height = sink.width > 0 ? sink.pixels.size() / sink.width : 0;
    return std::to_string(sink.width) + 'x' + std::to_string(height) + ' ' + sums;
}

// What this build makes of the seed: the file read by name, and its first half from memory.
SeedRow Decode(const std::string &seed)
{
    SeedRow row { seed, {}, {} };
    const modGDIPlusResize::NativePath path { kSeeds + seed };
    row.whole = Draw(path, false, true);
    if (row.whole[0] != '!')
        row.whole += ' ' + Draw(path, true, false);
    const std::string bytes = ReadBytes(kSeeds + seed);
    row.cut
        = Draw(modGDIPlusResize::PictureBytes { bytes.substr(0, bytes.size() / 2) }, false, true);
    return row;
}

std::vector<SeedRow> ReadTable()
{
    std::vector<SeedRow> rows;
    std::ifstream table(kTable);
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        SeedRow row;
        std::getline(fields, row.seed, '\t');
        std::getline(fields, row.whole, '\t');
        std::getline(fields, row.cut, '\t');
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> SeedsOnDisk()
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(kSeeds))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool Writing() { return std::getenv("QUILLMERE_WRITE_SEED_ROWS") != nullptr; }

// A build that leaves a format's decoder out refuses its files, whole or cut, for that reason
// alone.
SeedRow ExpectedHere(SeedRow row)
{
    const std::string head = ReadBytes(kSeeds + row.seed).substr(0, imaging::kRecognitionBytes);
    const imaging::PictureFormat *format = imaging::RecognisePictureFormat(
        reinterpret_cast<const unsigned char *>(head.data()), head.size());
    if (format && format->home == imaging::DecoderHome::NotBuilt) {
        row.whole = row.cut
            = "! " + std::string(imaging::LoadFailureText(imaging::LoadFailure::NotInThisBuild));
    }
    return row;
}

class SeedRowsTest : public testing::TestWithParam<SeedRow>
{
};

TEST_P(SeedRowsTest, DecodeAsTheTableSays)
{
    if (Writing())
        GTEST_SKIP() << "writing the table";
    const SeedRow expected = ExpectedHere(GetParam());
    const SeedRow decoded = Decode(expected.seed);
    EXPECT_EQ(decoded.whole, expected.whole);
    EXPECT_EQ(decoded.cut, expected.cut);
}

INSTANTIATE_TEST_SUITE_P(EverySeed, SeedRowsTest, testing::ValuesIn(ReadTable()),
    [](const testing::TestParamInfo<SeedRow> &info) {
        std::string name = info.param.seed;
        std::replace_if(
            name.begin(), name.end(),
            [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

// A seed added without its row would go unchecked on Windows.
TEST(SeedRows, TheTableHasOneRowForEachSeed)
{
    const std::vector<std::string> seeds = SeedsOnDisk();
    if (Writing()) {
        std::ofstream table(std::getenv("QUILLMERE_WRITE_SEED_ROWS"));
        table << "# seed\twhole file: size, checksums of its rows over white (sRGB, raw)\t"
                 "its first half\n"
                 "# Written by imaging_tests with QUILLMERE_WRITE_SEED_ROWS=<this file>.\n";
        for (const std::string &seed : seeds) {
            const SeedRow row = Decode(seed);
            table << row.seed << '\t' << row.whole << '\t' << row.cut << '\n';
        }
        ASSERT_TRUE(table.good());
        GTEST_SKIP() << "table written";
    }
    std::vector<std::string> listed;
    for (const SeedRow &row : ReadTable())
        listed.push_back(row.seed);
    EXPECT_EQ(listed, seeds);
}

} // namespace
