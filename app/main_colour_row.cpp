#include "app/main_colour_row.h"

#include "imaging/colour_text.h"

#include <QClipboard>
#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>

#include <cmath>

namespace app {
namespace {

    QString Hex(const analysis::DominantColour &colour)
    {
        return QString::fromStdString(imaging::HexText(colour.r, colour.g, colour.b));
    }

} // namespace

MainColourRow::MainColourRow(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MainColours"));
    setAccessibleDescription(tr("图片的主色"));
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(2);
    grid->setVerticalSpacing(1);
    for (int k = 0; k < kSwatches; ++k) {
        QLabel *swatch = swatches[static_cast<std::size_t>(k)] = new QLabel(this);
        swatch->setObjectName(QStringLiteral("MainColour%1").arg(k));
        swatch->setFrameStyle(QFrame::Box | QFrame::Plain);
        swatch->setAutoFillBackground(true);
        swatch->setCursor(Qt::PointingHandCursor);
        swatch->installEventFilter(this);
        QLabel *share = shares[static_cast<std::size_t>(k)] = new QLabel(this);
        share->setObjectName(QStringLiteral("MainColourShare%1").arg(k));
        share->setTextFormat(Qt::PlainText);
        share->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        share->setAccessibleDescription(tr("主色所占比例"));
        grid->addWidget(swatch, 0, k);
        grid->addWidget(share, 1, k);
        grid->setColumnStretch(k, 1);
    }
    grid->setRowStretch(0, 3);
    grid->setRowStretch(1, 2);
    for (QWidget *child : findChildren<QWidget *>())
        child->setFocusPolicy(Qt::NoFocus);
    Clear();
}

QString MainColourRow::ShareText(double share)
{
    const long percent = std::lround(share * 100.0);
    return percent < 1 ? QStringLiteral("<1%") : QString::number(percent) + QLatin1Char('%');
}

QString MainColourRow::SwatchText(const analysis::DominantColour &colour)
{
    return tr("%1，占像素的 %2%").arg(Hex(colour), QString::number(colour.share * 100.0, 'f', 1));
}

void MainColourRow::ShowColours(const std::vector<analysis::DominantColour> &colours)
{
    shown.assign(colours.begin(),
        colours.begin()
            + static_cast<std::ptrdiff_t>(std::min<std::size_t>(colours.size(), kSwatches)));
    for (std::size_t k = 0; k < kSwatches; ++k) {
        QLabel *swatch = swatches[k];
        if (k >= shown.size()) {
            // Empty, but keeping its place, so that the row never reflows.
            swatch->setFrameStyle(QFrame::NoFrame);
            swatch->setAutoFillBackground(false);
            swatch->setToolTip(QString());
            swatch->setAccessibleDescription(QString());
            shares[k]->clear();
            continue;
        }
        QPalette palette = swatch->palette();
        palette.setColor(QPalette::Window, QColor(shown[k].r, shown[k].g, shown[k].b));
        swatch->setPalette(palette);
        const QString text = SwatchText(shown[k]);
        swatch->setToolTip(text + QLatin1Char('\n') + tr("单击复制"));
        // An empty label reads as its description alone.
        swatch->setAccessibleDescription(text);
        swatch->setFrameStyle(QFrame::Box | QFrame::Plain);
        swatch->setAutoFillBackground(true);
        shares[k]->setText(ShareText(shown[k].share));
    }
}

void MainColourRow::Clear() { ShowColours({}); }

bool MainColourRow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        for (std::size_t k = 0; k < shown.size(); ++k)
            if (watched == swatches[k]) {
                QGuiApplication::clipboard()->setText(Hex(shown[k]));
                return true;
            }
    }
    return QWidget::eventFilter(watched, event);
}

void MainColourRow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FitFont();
}

void MainColourRow::FitFont()
{
    // "100%" within a fifth of the column, shrinking the font as the window's other texts do.
    const int room = (width() - 2 * (kSwatches - 1)) / kSwatches;
    QFont font = this->font();
    while (QFontMetrics(font).horizontalAdvance(QStringLiteral("100%")) > room
        && font.pointSizeF() - 0.25 >= 6.0)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    for (QLabel *share : shares)
        share->setFont(font);
}

} // namespace app
