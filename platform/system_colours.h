#pragma once

#include "analysis/colour_math.h"

namespace platform {

// Colour values with bit 31 set name a colour of the desktop's scheme rather than an RGB value.
inline constexpr analysis::ColourValue kSystemColourFlag = 0x80000000u;
inline constexpr analysis::ColourValue kWindowBackground = 0x80000005u;
inline constexpr analysis::ColourValue kWindowText = 0x80000008u;
inline constexpr analysis::ColourValue kButtonFace = 0x8000000Fu;

[[nodiscard]] constexpr bool IsSystemColour(analysis::ColourValue colour)
{
    return (colour & kSystemColourFlag) != 0;
}

// The RGB value (0x00BBGGRR) a colour value stands for: system colours are looked up in the
// application palette, plain colours lose their unused top byte.
[[nodiscard]] analysis::ColourValue ResolveColour(analysis::ColourValue colour);

} // namespace platform
