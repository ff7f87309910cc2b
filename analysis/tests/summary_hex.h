#pragma once

#include "analysis/calc_color.h"

#include <cstdio>
#include <string>

namespace analysis::tests {

// The means as "#RRGGBB", so that the tables can give them the way a user reads them off the
// window; the faces' own formatter lives above analysis/.
[[nodiscard]] inline std::string SummaryHex(const ColourSummary &summary)
{
    char text[16];
    std::snprintf(text, sizeof text, "#%02X%02X%02X", static_cast<unsigned>(summary.avgR),
        static_cast<unsigned>(summary.avgG), static_cast<unsigned>(summary.avgB));
    return text;
}

} // namespace analysis::tests
