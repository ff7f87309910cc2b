#include "app/scan_texts.h"

#include "imaging/colour_text.h"

#include <QCoreApplication>

#include <cmath>

namespace app {

// The window's own texts, filed under its context in the translations.
QString WaitText() { return QCoreApplication::translate("Form1", "请稍候..."); }

QString StopHint() { return QCoreApplication::translate("Form1", "双击这里停止"); }

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
