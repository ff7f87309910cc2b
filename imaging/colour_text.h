#pragma once

#include "analysis/calc_color.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The forms a mean colour is written in, the same for the window, the capture readout and
// quillmere-avg. The letters and signs are the same in every language.
namespace imaging {

// "#RRGGBB" in upper-case hex for channel values 0..255.
[[nodiscard]] std::string HexText(std::int32_t r, std::int32_t g, std::int32_t b);
[[nodiscard]] std::string HexText(const analysis::ColourSummary &summary);

// The three info lines "R:r H:h", "G:g S:s", "B:b L:l" joined by lineBreak.
[[nodiscard]] std::string InfoText(
    const analysis::ColourSummary &summary, std::string_view lineBreak = "\r\n");

// The same figures on one line, means first: "R:r G:g B:b H:h S:s L:l".
[[nodiscard]] std::string InfoLine(const analysis::ColourSummary &summary);

// The forms a colour is copied or printed in.
enum class ColourForm { Hex, Rgb, Hsl, Oklch, Info };

// The summary's mean in one form: "#RRGGBB", "rgb(R G B)", "hsl(H S% L%)" (the CSS model, not
// the HSV figures of the info text), "oklch(L% C H)" or the three info lines joined by "\n".
// Every form names the colour of the hex text: hsl and oklch are worked out from the same 8-bit
// channels, L, S and H to 2 decimals and C to 5, enough that each reads back as that colour.
[[nodiscard]] std::string FormText(ColourForm form, const analysis::ColourSummary &summary);

// "hex", "rgb", "hsl", "oklch" or "info" (lower case); nothing for any other word.
[[nodiscard]] std::optional<ColourForm> ParseColourForm(std::string_view word);

} // namespace imaging
