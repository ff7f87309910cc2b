#pragma once

#include "platform/screen_source.h"

#include <memory>

namespace platform {

// The source that fits the running session: the desktop portal on Wayland, the screen grab on X11.
[[nodiscard]] std::unique_ptr<ScreenSource> CreateScreenSource();

} // namespace platform
