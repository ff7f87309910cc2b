#pragma once

#include "imaging/colour_description.h"
#include "imaging/colour_rows.h"

#include <memory>
#include <string>

// From what a picture says about its colours to the stage that takes its numbers to linear sRGB.
namespace imaging::colour {

struct SourceChoice
{
    // Empty for the identity (sRGB, or a description that could not be used).
    std::unique_ptr<RowConverter> rows;
    std::string name = "sRGB";
    bool unusable = false;
};

[[nodiscard]] SourceChoice ChooseSource(const ColourDescription &description);

} // namespace imaging::colour
