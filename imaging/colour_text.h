#pragma once

#include "analysis/calc_color.h"

#include <cstdint>
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

} // namespace imaging
