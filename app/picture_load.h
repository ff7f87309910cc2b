#pragma once

#include "analysis/colour_math.h"
#include "analysis/row_sums.h"
#include "imaging/colour_report.h"
#include "imaging/load_failure.h"
#include "platform/picture_input.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <memory>

namespace app {

// What one load gave: the picture at its own size, or the text of the load error and its reason
// (None where none is known).
struct LoadedPicture
{
    QImage picture;
    std::int32_t width = -1;
    std::int32_t height = -1;
    QString failure;
    imaging::LoadFailure reason = imaging::LoadFailure::None;
    // Which colours the picture came in and what the conversion to sRGB did to it.
    imaging::ColourReport colour;
    // The sums of each of the picture's rows, taken as they were decoded; null when the loader
    // could not keep them.
    std::shared_ptr<const analysis::RowSums> rows;
};

// Loads a file, image bytes or a decoded image through the picture loader, composed over colour
// (0x00BBGGRR), at the picture's own size, with its rows' sums. Runs on any thread; nothing is
// written to disk.
[[nodiscard]] LoadedPicture LoadPicture(
    const platform::PictureInput &input, analysis::ColourValue colour);

// The window's line under the hex text for a picture of `pixels` pixels: the colour space it was
// converted from ("Display P3 → sRGB"), then on a line of its own the share of its pixels that
// were clipped, if any; or that its colour profile could not be read. Empty for sRGB pictures.
[[nodiscard]] QString ColourSpaceText(const imaging::ColourReport &report, std::uint64_t pixels);

// The reason of a failed load as the window words it, in the desktop's language; empty for None.
[[nodiscard]] QString LoadFailureMessage(imaging::LoadFailure reason);

} // namespace app
