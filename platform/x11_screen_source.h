#pragma once

#include "platform/screen_source.h"

namespace platform {

// The X11 grab: every screen's whole area at its full pixel size, read synchronously.
class X11ScreenSource : public ScreenSource
{
public:
    // True when the program runs on the X11 platform plugin, the only one whose grab reads the
    // real screen (the offscreen plugin, for one, hands back a black picture).
    [[nodiscard]] static bool Available();

    // Each screen read on its own, so each keeps its own device pixel ratio.
    void GrabScreens(GrabScreensDone done) override;
};

} // namespace platform
