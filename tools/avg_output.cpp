#include "tools/avg_output.h"

#include "imaging/colour_text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

namespace tools {
namespace {

    // Length of the valid UTF-8 sequence at the start of bytes, or 0 when it is not one
    // (overlong forms, surrogates and code points past U+10FFFF are not valid).
    std::size_t Utf8SequenceLength(std::string_view bytes)
    {
        const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
        const unsigned char lead = at(0);
        if (lead < 0x80)
            return 1;
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return 0;
        }
        if (bytes.size() < length || at(1) < low || at(1) > high)
            return 0;
        for (std::size_t i = 2; i < length; ++i) {
            if (at(i) < 0x80 || at(i) > 0xBF)
                return 0;
        }
        return length;
    }

    // One U+FFFD for each byte outside a valid sequence. nlohmann's own replacement takes a cut
    // sequence as one character, which would change the names printed so far.
    std::string ValidUtf8(std::string_view bytes, bool &wasValid)
    {
        std::string text;
        wasValid = true;
        for (std::size_t i = 0; i < bytes.size();) {
            const std::size_t length = Utf8SequenceLength(bytes.substr(i));
            if (length == 0) {
                text += "\xEF\xBF\xBD";
                wasValid = false;
                ++i;
            } else {
                text.append(bytes.substr(i, length));
                i += length;
            }
        }
        return text;
    }

    std::string Base64(std::string_view bytes)
    {
        static constexpr char kDigits[]
            = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string text;
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
            std::uint32_t group = 0;
            for (std::size_t k = 0; k < 3; ++k)
                group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
            for (std::size_t k = 0; k < 4; ++k)
                text += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3Fu] : '=';
        }
        return text;
    }

    // nlohmann writes control characters as \n or lower-case \u001f; the program has always
    // written \u000A and \u001F.
    void WriteString(std::string_view bytes, std::string &out)
    {
        bool valid = true;
        const std::string text = ValidUtf8(bytes, valid);
        out += '"';
        for (const char c : text) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
        out += '"';
    }

    void Write(const nlohmann::ordered_json &value, std::string &out)
    {
        switch (value.type()) {
        case nlohmann::ordered_json::value_t::object: {
            out += '{';
            const char *separator = "";
            for (const auto &member : value.items()) {
                out += separator;
                separator = ",";
                WriteString(member.key(), out);
                out += ':';
                Write(member.value(), out);
            }
            out += '}';
            break;
        }
        case nlohmann::ordered_json::value_t::array: {
            out += '[';
            const char *separator = "";
            for (const nlohmann::ordered_json &element : value) {
                out += separator;
                separator = ",";
                Write(element, out);
            }
            out += ']';
            break;
        }
        case nlohmann::ordered_json::value_t::string:
            WriteString(value.get_ref<const std::string &>(), out);
            break;
        case nlohmann::ordered_json::value_t::number_float: {
            // nlohmann writes the shortest form that reads back ("12.5"); the program's
            // standard deviations have always had four decimals.
            char text[32];
            std::snprintf(text, sizeof text, "%.4f", value.get<double>());
            out += text;
            break;
        }
        default:
            out += value.dump();
            break;
        }
    }

    nlohmann::ordered_json Channels(std::int32_t r, std::int32_t g, std::int32_t b)
    {
        return { { "r", r }, { "g", g }, { "b", b } };
    }

} // namespace

std::string FormatAvgLine(const analysis::ColourSummary &summary, std::string_view path)
{
    std::string line = imaging::HexText(summary);
    line += ' ';
    line += imaging::InfoLine(summary);
    line += "  ";
    line += path;
    return line;
}

void AddJsonPath(nlohmann::ordered_json &object, std::string_view path)
{
    bool valid = true;
    object["path"] = ValidUtf8(path, valid);
    if (!valid)
        object["path_bytes"] = Base64(path);
}

nlohmann::ordered_json JsonFigures(const analysis::PictureStatistics &s, std::string_view path)
{
    const analysis::ColourSummary mean = analysis::Summarise(s.totals);
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    AddJsonPath(object, path);
    object["width"] = s.width;
    object["height"] = s.height;
    object["pixels"] = s.totals.count;
    nlohmann::ordered_json &means = object["mean"];
    means["hex"] = imaging::HexText(mean);
    means.update(Channels(mean.avgR, mean.avgG, mean.avgB));
    means["h"] = mean.hsl.H;
    means["s"] = mean.hsl.S;
    means["l"] = mean.hsl.L;
    nlohmann::ordered_json &linear = object["linear_mean"];
    linear["hex"] = imaging::HexText(s.linearR, s.linearG, s.linearB);
    linear.update(Channels(s.linearR, s.linearG, s.linearB));
    object["stddev"] = { { "r", s.r.stddev }, { "g", s.g.stddev }, { "b", s.b.stddev } };
    object["min"] = Channels(s.r.min, s.g.min, s.b.min);
    object["max"] = Channels(s.r.max, s.g.max, s.b.max);
    return object;
}

std::string WriteJson(const nlohmann::ordered_json &value)
{
    std::string out;
    Write(value, out);
    return out;
}

std::string FormatJsonLine(const analysis::PictureStatistics &statistics, std::string_view path)
{
    return WriteJson(JsonFigures(statistics, path));
}

std::string FormatJsonLine(const analysis::PictureStatistics &statistics, std::string_view path,
    const imaging::ColourReport &colour)
{
    nlohmann::ordered_json object = JsonFigures(statistics, path);
    object["colour_space"] = colour.sourceName;
    object["clipped_pixels"] = colour.clippedPixels;
    if (colour.raw)
        object["raw"] = true;
    if (colour.unusable)
        object["colour_unusable"] = true;
    return WriteJson(object);
}

std::string FormatFailureLine(std::string_view path, std::string_view reason, bool json)
{
    if (!json)
        return "Error loading picture " + std::string(path) + ": " + std::string(reason);
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    AddJsonPath(object, path);
    object["error"] = std::string(reason);
    return WriteJson(object);
}

} // namespace tools
