#pragma once

#include "analysis/calc_color.h"

#include <QString>

#include <cstdint>

// What the window's info label and hex box show for a scan, written from the scan's numbers in
// the desktop's language. A label breaks lines at "\n".
namespace app {

// "请稍候...": a scan is running.
[[nodiscard]] QString WaitText();
// "双击这里停止"; a translation may take more than one line.
[[nodiscard]] QString StopHint();

// The rows done of all rows as a whole percent, rounded half away from zero.
[[nodiscard]] long ProgressPercent(std::int32_t rowsDone, std::int32_t rows);
// "请稍候...P%", a line break, then the stop hint.
[[nodiscard]] QString ProgressText(std::int32_t rowsDone, std::int32_t rows);

// The three lines "R:r H:h", "G:g S:s", "B:b L:l" of a finished scan.
[[nodiscard]] QString InfoText(const analysis::ColourSummary &summary);
// "#RRGGBB" of a finished scan.
[[nodiscard]] QString HexText(const analysis::ColourSummary &summary);

} // namespace app
