#pragma once

#include <QByteArray>

namespace platform {

// The display profile a colour manager put on the X11 root window for the screen at `index` in
// the desktop's screen order: `_ICC_PROFILE` for the first, `_ICC_PROFILE_<index>` for the others.
// Empty where there is none, or not on X11.
[[nodiscard]] QByteArray X11DisplayProfile(int index);

} // namespace platform
