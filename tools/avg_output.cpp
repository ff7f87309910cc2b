#include "tools/avg_output.h"

#include "analysis/oklab.h"
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

    nlohmann::ordered_json Dominant(const std::vector<analysis::DominantColour> &colours)
    {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const analysis::DominantColour &c : colours) {
            nlohmann::ordered_json colour = { { "hex", imaging::HexText(c.r, c.g, c.b) } };
            colour.update(Channels(c.r, c.g, c.b));
            colour["share"] = c.share;
            list.push_back(std::move(colour));
        }
        return list;
    }

    // The members from "pixels" on, the same for a whole picture and for each of its parts.
    void AddFigures(nlohmann::ordered_json &object, const analysis::PictureStatistics &s)
    {
        const analysis::ColourSummary mean = analysis::Summarise(s.totals);
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
        object["median"] = Channels(s.r.median, s.g.median, s.b.median);
        const analysis::OkLab lab
            = analysis::OkLabFromLinearSrgb(s.linearLightR, s.linearLightG, s.linearLightB);
        const analysis::OkLch lch = analysis::OkLchFromOkLab(lab);
        object["oklab"] = { { "l", lab.L }, { "a", lab.a }, { "b", lab.b } };
        object["oklch"] = { { "l", lch.L }, { "c", lch.C }, { "h", lch.h } };
    }

    void AddPart(nlohmann::ordered_json &object, const PartFigures &part)
    {
        AddFigures(object, part.statistics);
        if (part.dominant)
            object["dominant"] = Dominant(*part.dominant);
    }

    void AddReport(nlohmann::ordered_json &object, const imaging::ColourReport &colour)
    {
        object["colour_space"] = colour.sourceName;
        object["clipped_pixels"] = colour.clippedPixels;
        if (colour.raw)
            object["raw"] = true;
        if (colour.unusable)
            object["colour_unusable"] = true;
    }

    nlohmann::ordered_json Rectangle(const Cell &cell)
    {
        return { { "x", cell.x }, { "y", cell.y }, { "width", cell.width },
            { "height", cell.height } };
    }

    nlohmann::ordered_json Parts(const PictureFigures &figures)
    {
        nlohmann::ordered_json cells = nlohmann::ordered_json::array();
        const bool grid = figures.area.kind == AreaRequest::Kind::Grid;
        for (const PartFigures &part : figures.parts) {
            nlohmann::ordered_json cell = nlohmann::ordered_json::object();
            // "cell 2,1" is written "2,1"; a side by its name.
            cell[grid ? "cell" : "side"] = grid ? part.cell.label.substr(5) : part.cell.label;
            cell.update(Rectangle(part.cell));
            AddPart(cell, part);
            cells.push_back(std::move(cell));
        }
        return cells;
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
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    AddJsonPath(object, path);
    object["width"] = s.width;
    object["height"] = s.height;
    AddFigures(object, s);
    return object;
}

std::string FormatTextLine(const std::vector<imaging::ColourForm> &forms,
    const analysis::ColourSummary &summary, std::string_view label, std::string_view path)
{
    std::string line;
    for (const imaging::ColourForm form : forms) {
        if (!line.empty())
            line += ' ';
        line += form == imaging::ColourForm::Info
            ? imaging::HexText(summary) + ' ' + imaging::InfoLine(summary)
            : imaging::FormText(form, summary);
    }
    if (!label.empty()) {
        line += "  ";
        line += label;
    }
    line += "  ";
    line += path;
    return line;
}

std::string FormatTextLines(const PictureFigures &figures,
    const std::vector<imaging::ColourForm> &forms, std::string_view path)
{
    std::string lines;
    for (const PartFigures &part : figures.parts) {
        if (!lines.empty())
            lines += '\n';
        lines += FormatTextLine(
            forms, analysis::Summarise(part.statistics.totals), part.cell.label, path);
    }
    return lines;
}

std::string FormatJsonLine(
    const PictureFigures &figures, std::string_view path, const imaging::ColourReport &colour)
{
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    AddJsonPath(object, path);
    object["width"] = figures.width;
    object["height"] = figures.height;
    switch (figures.area.kind) {
    case AreaRequest::Kind::Whole:
    case AreaRequest::Kind::Region:
        if (figures.area.kind == AreaRequest::Kind::Region)
            object["region"] = Rectangle(figures.parts.front().cell);
        AddPart(object, figures.parts.front());
        break;
    case AreaRequest::Kind::Grid:
        object["grid"] = { { "columns", figures.area.columns }, { "rows", figures.area.rows } };
        object["cells"] = Parts(figures);
        break;
    case AreaRequest::Kind::Edges:
        object["edges"] = figures.area.strip;
        object["cells"] = Parts(figures);
        break;
    }
    AddReport(object, colour);
    return WriteJson(object);
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
    AddReport(object, colour);
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
