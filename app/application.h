#pragma once

class QIcon;

namespace app {

// Process-wide set-up, run right after the QApplication exists and before any window: names and
// version, the window icon, and no settings files read or written by Qt's own dialogs.
void PrepareApplication();

// The program's icon: 48, 32, 24 and 16 pixels, built into the program.
[[nodiscard]] QIcon ApplicationIcon();

} // namespace app
