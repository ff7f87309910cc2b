#pragma once

#include "analysis/dominant_colours.h"

#include <QWidget>

#include <array>
#include <vector>

class QLabel;

namespace app {

// The row of the picture's main colours under the results: up to five swatches, each with its
// share of the pixels below it. Hovering a swatch shows its hex and share, a click copies the hex.
class MainColourRow : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSwatches = 5;

    explicit MainColourRow(QWidget *parent = nullptr);

    // Shows `colours`, largest share first; swatches beyond them stay empty.
    void ShowColours(const std::vector<analysis::DominantColour> &colours);
    // Empties every swatch, while the colours are being found or when there are none.
    void Clear();
    [[nodiscard]] const std::vector<analysis::DominantColour> &Colours() const { return shown; }

    // The share as the row writes it under a swatch: whole percent, "<1%" for a few pixels.
    [[nodiscard]] static QString ShareText(double share);
    // The swatch's hover and screen-reader text: "#RRGGBB, 38.2% of the pixels".
    [[nodiscard]] static QString SwatchText(const analysis::DominantColour &colour);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void FitFont();

    std::array<QLabel *, kSwatches> swatches {};
    std::array<QLabel *, kSwatches> shares {};
    std::vector<analysis::DominantColour> shown;
};

} // namespace app
