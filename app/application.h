#pragma once

#include <QString>
#include <QStringList>

class Form1;
class QIcon;

namespace app {

// Process-wide set-up, run right after the QApplication exists and before any window: names and
// version, the window icon, and no settings files read or written by Qt's own dialogs.
void PrepareApplication();

// The program's icon: 48, 32, 24 and 16 pixels, built into the program.
[[nodiscard]] QIcon ApplicationIcon();

// The file named on the command line (arguments as Qt leaves them, program first): the first
// argument that is not an option, everything after "--" counting as a file; empty for none.
[[nodiscard]] QString PathFromArguments(const QStringList &arguments);

// Opens the command line's file in the window as soon as the event loop runs, that is once the
// shown window is up. With QUILLMERE_EXIT_WHEN_SHOWN set in the environment, the program prints
// to stderr how long the picture took from the start of its opening until its results were on
// screen, and ends: a timing hook for bench/, inert otherwise.
void OpenFromCommandLine(Form1 &window, const QStringList &arguments);

} // namespace app
