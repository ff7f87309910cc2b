#pragma once

#include "analysis/calc_color.h"
#include "imaging/colour_text.h"

#include <QString>

class QAction;
class QMenu;

// Copying a mean colour in the forms people paste, the same for the window's results, its main
// colours and the capture's live readout.
namespace capture {

// The form's name in the desktop's language: "十六进制", "RGB", ... .
[[nodiscard]] QString ColourFormName(imaging::ColourForm form);

// The form's text as it goes to the clipboard.
[[nodiscard]] QString ColourFormText(imaging::ColourForm form, const analysis::ColourSummary &mean);

// Puts the form's text on the clipboard as plain text.
void CopyColour(imaging::ColourForm form, const analysis::ColourSummary &mean);

// Adds one action per form to `menu`, each named with its value and copying it when triggered;
// the hex form, which Ctrl+C copies, is the menu's default. They go before `before`, or at the end
// when it is null.
void AddCopyActions(QMenu &menu, const analysis::ColourSummary &mean, QAction *before = nullptr);

} // namespace capture
