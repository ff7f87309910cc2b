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
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
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

// gtest names a failing case by its seed rather than a dump of its bytes.
void PrintTo(const SeedRow &row, std::ostream *out) { *out << row.seed; }

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

// The mean of each channel, one decimal: "~R,G,B".
std::string Mean(const std::vector<std::uint32_t> &pixels)
{
    double sums[3] = {};
    for (const std::uint32_t pixel : pixels) {
        for (int c = 0; c < 3; ++c)
            sums[c] += (pixel >> (16 - 8 * c)) & 0xFF;
    }
    const double n = pixels.empty() ? 1.0 : static_cast<double>(pixels.size());
    char text[64];
    std::snprintf(text, sizeof text, "~%.1f,%.1f,%.1f", sums[0] / n, sums[1] / n, sums[2] / n);
    return text;
}

const imaging::PictureFormat *FormatOf(const std::string &bytes)
{
    return imaging::RecognisePictureFormat(reinterpret_cast<const unsigned char *>(bytes.data()),
        std::min(bytes.size(), imaging::kRecognitionBytes));
}

bool IsHeldToItsMean(const std::string &bytes)
{
    const imaging::PictureFormat *format = FormatOf(bytes);
    return format
        && (format->id == imaging::PictureFormatId::Heif
            || format->id == imaging::PictureFormatId::Avif
            || format->id == imaging::PictureFormatId::Jxl);
}

template <typename Picture>
std::string Draw(const Picture &picture, bool raw, bool withSize, bool byMean)
{
    fixtures::KeepingSink sink;
    const imaging::LoadFailure failure = modGDIPlusResize::DrawPictureRows(
        picture, sink, 0xFFFFFF, imaging::ColourOptions { raw });
    if (failure != imaging::LoadFailure::None)
        return "! " + std::string(imaging::LoadFailureText(failure));
    const std::string sums = std::string(raw ? "raw" : "srgb")
        + (byMean ? Mean(sink.pixels) : '=' + Checksum(sink.pixels));
    if (!withSize)
        return sums;
    const std::size_t height = sink.width > 0 ? sink.pixels.size() / sink.width : 0;
    return std::to_string(sink.width) + 'x' + std::to_string(height) + ' ' + sums;
}

// What this build makes of the seed: the file read by name, and its first half from memory.
// Pictures whose colours are converted are held to their means as well: the conversion takes
// AVX2's one pass where the processor has it, and rounds a level apart from the table path here
// and there.
SeedRow Decode(const std::string &seed)
{
    SeedRow row { seed, {}, {} };
    const modGDIPlusResize::NativePath path { kSeeds + seed };
    const std::string bytes = ReadBytes(kSeeds + seed);
    const bool byMean = IsHeldToItsMean(bytes);
    const std::string raw = Draw(path, true, false, byMean);
    const std::string converted = Draw(path, false, false, false);
    const bool convertedByMean = byMean
        || (raw[0] != '!' && converted.substr(converted.find('=')) != raw.substr(raw.find('=')));
    row.whole = Draw(path, false, true, convertedByMean);
    if (row.whole[0] != '!')
        row.whole += ' ' + raw;
    const modGDIPlusResize::PictureBytes half { bytes.substr(0, bytes.size() / 2) };
    row.cut = Draw(half, false, true, convertedByMean);
    return row;
}

// Whether a result is the table's: word for word, but means ("~R,G,B") within a level.
testing::AssertionResult SameResult(const std::string &decoded, const std::string &expected)
{
    std::istringstream a(decoded), b(expected);
    for (std::string x, y;;) {
        const bool more = static_cast<bool>(a >> x), moreExpected = static_cast<bool>(b >> y);
        if (!more && !moreExpected)
            return testing::AssertionSuccess();
        if (more != moreExpected)
            break;
        const std::size_t tilde = x.find('~');
        if (tilde == std::string::npos || y.find('~') != tilde) {
            if (x != y)
                break;
            continue;
        }
        double p[3] = {}, q[3] = {};
        if (x.compare(0, tilde, y, 0, tilde) != 0
            || std::sscanf(x.c_str() + tilde, "~%lf,%lf,%lf", &p[0], &p[1], &p[2]) != 3
            || std::sscanf(y.c_str() + tilde, "~%lf,%lf,%lf", &q[0], &q[1], &q[2]) != 3
            || std::abs(p[0] - q[0]) > 1.0 || std::abs(p[1] - q[1]) > 1.0
            || std::abs(p[2] - q[2]) > 1.0)
            break;
    }
    return testing::AssertionFailure()
        << "decoded \"" << decoded << "\", the table has \"" << expected << '"';
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
    const imaging::PictureFormat *format = FormatOf(ReadBytes(kSeeds + row.seed));
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
    EXPECT_TRUE(SameResult(decoded.whole, expected.whole));
    EXPECT_TRUE(SameResult(decoded.cut, expected.cut));
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
        table << "# seed\twhole file: size, checksums of its rows over white (sRGB, raw) or "
                 "their means after ~\tits first half\n"
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
