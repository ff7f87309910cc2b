#include "platform/screen_source.h"

#include "platform/x11_screen_source.h"

namespace platform {

std::unique_ptr<ScreenSource> CreateScreenSource() { return std::make_unique<X11ScreenSource>(); }

} // namespace platform
