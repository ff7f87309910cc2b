#include "app/scan_texts.h"

#include "app/form1.h"
#include "imaging/colour_text.h"

#include <cmath>

namespace app {

// The window's own texts, so they are filed under its context in the translations.
QString WaitText() { return Form1::tr("请稍候..."); }

QString StopHint() { return Form1::tr("双击这里停止"); }

long ProgressPercent(std::int32_t rowsDone, std::int32_t rows)
{
    return std::lround(static_cast<double>(rowsDone) / static_cast<double>(rows) * 100.0);
}

QString ProgressText(std::int32_t rowsDone, std::int32_t rows)
{
    return WaitText() + QString::number(ProgressPercent(rowsDone, rows)) + QStringLiteral("%\n")
        + StopHint();
}

QString InfoText(const analysis::ColourSummary &summary)
{
    return QString::fromStdString(imaging::InfoText(summary, "\n"));
}

QString HexText(const analysis::ColourSummary &summary)
{
    return QString::fromStdString(imaging::HexText(summary));
}

} // namespace app
