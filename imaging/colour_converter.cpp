#include "imaging/colour_converter.h"

#include "imaging/colour_rows.h"
#include "imaging/colour_sources.h"

#include <utility>

namespace imaging {

struct ColourConverter::Conversion
{
    std::unique_ptr<colour::RowConverter> rows;
};

ColourConverter::ColourConverter() = default;
ColourConverter::~ColourConverter() = default;
ColourConverter::ColourConverter(ColourConverter &&) noexcept = default;
ColourConverter &ColourConverter::operator=(ColourConverter &&) noexcept = default;

ColourConverter ColourConverter::For(const ColourDescription &description)
{
    colour::SourceChoice choice = colour::ChooseSource(description);
    ColourConverter converter;
    if (choice.rows)
        converter.conversion = std::make_unique<Conversion>(Conversion { std::move(choice.rows) });
    converter.sourceName = std::move(choice.name);
    converter.unusable = choice.unusable;
    return converter;
}

bool ColourConverter::IsIdentity() const { return !conversion; }

bool ColourConverter::Unusable() const { return unusable; }

const std::string &ColourConverter::SourceName() const { return sourceName; }

void ColourConverter::ConvertRow(std::uint32_t *row, std::int32_t n)
{
    if (conversion)
        clipped += conversion->rows->ConvertRow(row, n);
}

void ColourConverter::ConvertRow16(const std::uint16_t *rgba, std::uint32_t *out, std::int32_t n)
{
    if (conversion) {
        clipped += conversion->rows->ConvertRow16(rgba, out, n);
        return;
    }
    for (std::int32_t i = 0; i < n; ++i) {
        const std::uint16_t *p = rgba + 4 * static_cast<std::ptrdiff_t>(i);
        const auto to8 = [](std::uint16_t v) { return (v * 255u + 32767u) / 65535u; };
        out[i] = (to8(p[3]) << 24) | (to8(p[0]) << 16) | (to8(p[1]) << 8) | to8(p[2]);
    }
}

std::uint64_t ColourConverter::ClippedPixels() const { return clipped; }

} // namespace imaging
