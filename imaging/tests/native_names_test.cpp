// Windows names (UTF-16) as the programs carry them (UTF-8 bytes) and back.
#include "imaging/native_names.h"

#include <gtest/gtest.h>

namespace {

struct NameCase
{
    const char *label;
    std::u16string wide;
    std::string bytes; // written out by hand from the Unicode tables
};

// Each name must give exactly these bytes and come back unchanged, unpaired surrogates included:
// the file opened is the one the walk found.
TEST(NativeNamesTest, Utf16NamesGiveTheseBytesAndComeBack)
{
    const NameCase cases[] = {
        { "empty", u"", "" },
        { "ascii", u"a b/c.png", "a b/c.png" },
        { "two bytes", u"caf\u00e9", "caf\xc3\xa9" },
        { "three bytes", u"\u5f69\u8272", "\xe5\xbd\xa9\xe8\x89\xb2" },
        { "last of three", u"\uffff", "\xef\xbf\xbf" },
        // U+1F3A8 is D83C DFA8 in UTF-16.
        { "pair", std::u16string { 0xD83C, 0xDFA8 }, "\xf0\x9f\x8e\xa8" },
        { "lone high", std::u16string { u'a', 0xD800, u'b' },
            "a\xed\xa0\x80"
            "b" },
        { "lone low", std::u16string { 0xDFFF }, "\xed\xbf\xbf" },
        { "low before high", std::u16string { 0xDC00, 0xD800 }, "\xed\xb0\x80\xed\xa0\x80" },
        { "high at the end", std::u16string { u'x', 0xDBFF }, "x\xed\xaf\xbf" },
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(imaging::NameFromUtf16(c.wide), c.bytes);
        const std::optional<std::u16string> back = imaging::Utf16FromName(c.bytes);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, c.wide);
    }
}

// Bytes that are no UTF-8 at all cannot be a Windows name: there is no file to open.
TEST(NativeNamesTest, BytesThatAreNotUtf8HaveNoUtf16Name)
{
    const std::string cases[] = {
        "caf\xe9", // Latin-1
        "\xc0\xaf", // overlong '/'
        "\xe0\x80\xaf", // overlong '/' in three bytes
        "\xf4\x90\x80\x80", // past U+10FFFF
        "\xe5\xbd", // cut short
        "\x80", // continuation alone
        "\xff",
    };
    for (const std::string &bytes : cases) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        EXPECT_FALSE(imaging::Utf16FromName(bytes).has_value());
    }
}

} // namespace
