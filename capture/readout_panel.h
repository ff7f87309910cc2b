#pragma once

#include "analysis/calc_color.h"

#include <QFrame>
#include <QSize>
#include <QString>

#include <optional>

class QLabel;

namespace capture {

class Magnifier;

// The panel that follows the pointer over the overlay: the magnifier, and while a band is
// dragged the band's size in screen pixels and its average as a swatch and "#RRGGBB". Its texts
// are plain label texts, which is what screen readers read.
class ReadoutPanel : public QFrame
{
    Q_OBJECT

public:
    explicit ReadoutPanel(QWidget *parent = nullptr);

    [[nodiscard]] Magnifier &Zoom() const { return *magnifier; }

    // "W x H" of the block in screen pixels, and its average as a swatch and "#RRGGBB".
    void SetReadout(QSize block, const analysis::ColourSummary &average);
    // The size and average show only while a band is dragged; the magnifier always.
    void ShowReadout(bool shown);

    // The average the readout shows; none while it is hidden.
    [[nodiscard]] std::optional<analysis::ColourSummary> Average() const;
    // Ctrl+C during a drag: the band's average as "#RRGGBB" on the clipboard, if one shows.
    void CopyHex() const;

private:
    Magnifier *magnifier = nullptr;
    QWidget *readout = nullptr;
    QLabel *sizeText = nullptr;
    QLabel *swatch = nullptr;
    QLabel *hexText = nullptr;
    std::optional<analysis::ColourSummary> average;
};

} // namespace capture
