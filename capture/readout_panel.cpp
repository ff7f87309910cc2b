#include "capture/readout_panel.h"

#include "capture/colour_copy.h"
#include "capture/magnifier.h"
#include "imaging/colour_text.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace capture {

ReadoutPanel::ReadoutPanel(QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("ReadoutPanel"));
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setAutoFillBackground(true);
    // The overlay below keeps every pointer event, also the ones over the panel.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);

    magnifier = new Magnifier(this);
    readout = new QWidget(this);
    readout->setObjectName(QStringLiteral("ReadoutTexts"));
    sizeText = new QLabel(readout);
    sizeText->setObjectName(QStringLiteral("ReadoutSize"));
    swatch = new QLabel(readout);
    swatch->setObjectName(QStringLiteral("ReadoutSwatch"));
    swatch->setFixedSize(32, 32);
    swatch->setFrameStyle(QFrame::Box | QFrame::Plain);
    swatch->setAutoFillBackground(true);
    hexText = new QLabel(readout);
    hexText->setObjectName(QStringLiteral("ReadoutHex"));
    // Every colour and size the same width, so the panel does not jitter while dragging.
    const QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    sizeText->setFont(digits);
    hexText->setFont(digits);
    // A label's text is what a screen reader reads: its role goes in the description only.
    sizeText->setAccessibleDescription(tr("选区大小（屏幕像素）"));
    swatch->setAccessibleDescription(tr("选区平均色色块"));
    hexText->setAccessibleDescription(tr("选区平均色"));

    auto *colourRow = new QHBoxLayout;
    colourRow->addWidget(swatch);
    colourRow->addWidget(hexText);
    auto *texts = new QVBoxLayout(readout);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addWidget(sizeText);
    texts->addLayout(colourRow);
    texts->addStretch();
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 4, 4, 4);
    row->addWidget(magnifier);
    row->addWidget(readout);

    // Sized for the widest texts once, so showing the readout never resizes the panel.
    sizeText->setText(QStringLiteral("00000 x 00000"));
    hexText->setText(QStringLiteral("#DDDDDD"));
    readout->setFixedSize(readout->sizeHint());
    setFixedSize(sizeHint());
    sizeText->clear();
    hexText->clear();
    readout->setVisible(false);
}

void ReadoutPanel::SetReadout(QSize block, const analysis::ColourSummary &newAverage)
{
    average = newAverage;
    const analysis::ColourSummary &shown = newAverage;
    sizeText->setText(QStringLiteral("%1 x %2").arg(block.width()).arg(block.height()));
    QPalette palette = swatch->palette();
    palette.setColor(QPalette::Window, QColor(shown.avgR, shown.avgG, shown.avgB));
    swatch->setPalette(palette);
    // The window's hex text comes from the same formatter, so the two never read differently.
    hexText->setText(QString::fromStdString(imaging::HexText(shown)));
}

void ReadoutPanel::ShowReadout(bool shown)
{
    readout->setVisible(shown);
    if (!shown)
        average.reset();
}

std::optional<analysis::ColourSummary> ReadoutPanel::Average() const { return average; }

void ReadoutPanel::CopyHex() const
{
    if (average)
        CopyColour(imaging::ColourForm::Hex, *average);
}

} // namespace capture
