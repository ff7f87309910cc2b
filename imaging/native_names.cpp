#include "imaging/native_names.h"

namespace imaging {
namespace {

    bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
    bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

    void AppendUtf8(std::string &out, char32_t code)
    {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    // The code point starting at name[at] and its length in bytes, or 0 for bytes that are not
    // the shortest UTF-8 form of a code point.
    std::size_t DecodeOne(std::string_view name, std::size_t at, char32_t &code)
    {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(name[at + i]); };
        const unsigned char lead = byte(0);
        std::size_t length = 0;
        if (lead < 0x80) {
            code = lead;
            return 1;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07;
        } else {
            return 0;
        }
        if (at + length > name.size())
            return 0;
        for (std::size_t i = 1; i < length; ++i) {
            if ((byte(i) & 0xC0) != 0x80)
                return 0;
            code = (code << 6) | (byte(i) & 0x3F);
        }
        const char32_t shortest[] = { 0, 0, 0x80, 0x800, 0x10000 };
        return code < shortest[length] || code > 0x10FFFF ? 0 : length;
    }

} // namespace

std::string NameFromUtf16(std::u16string_view wide)
{
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char32_t unit = wide[i];
        if (IsHighSurrogate(unit) && i + 1 < wide.size() && IsLowSurrogate(wide[i + 1])) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (wide[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::optional<std::u16string> Utf16FromName(std::string_view name)
{
    std::u16string wide;
    wide.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        char32_t code = 0;
        const std::size_t length = DecodeOne(name, at, code);
        if (length == 0)
            return std::nullopt;
        if (code < 0x10000) {
            wide += static_cast<char16_t>(code);
        } else {
            wide += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            wide += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        }
        at += length;
    }
    return wide;
}

} // namespace imaging
