#pragma once

#include "analysis/colour_math.h"
#include "imaging/load_failure.h"
#include "platform/picture_input.h"

#include <QImage>
#include <QString>

#include <cstdint>

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
};

// Loads a file, image bytes or a decoded image through the picture loader, composed over colour
// (0x00BBGGRR), at the picture's own size. Runs on any thread; nothing is written to disk.
[[nodiscard]] LoadedPicture LoadPicture(
    const platform::PictureInput &input, analysis::ColourValue colour);

// The reason of a failed load as the window words it, in the desktop's language; empty for None.
[[nodiscard]] QString LoadFailureMessage(imaging::LoadFailure reason);

} // namespace app
