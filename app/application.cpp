#include "app/application.h"

#include "app/form1.h"
#include "app/language.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace app {

QIcon ApplicationIcon()
{
    QIcon icon;
    for (const int size : { 16, 24, 32, 48 })
        icon.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/quillmere.png").arg(size),
            QSize(size, size));
    return icon;
}

void PrepareApplication()
{
    platform::DisableSettingsFiles();
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION_TEXT));
    // Matches the installed .desktop file, which desktops use for the icon and the name.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUILLMERE_APP_ID));
    QApplication::setWindowIcon(ApplicationIcon());
    InstallTranslations(ReadEnvironment);
}

QString PathFromArguments(const QStringList &arguments)
{
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (options && argument == QStringLiteral("--")) {
            options = false;
            continue;
        }
        // A lone "-" is no option, but it is no file either: standard input is not read.
        if (options && argument.startsWith('-'))
            continue;
        return argument;
    }
    return {};
}

void OpenFromCommandLine(Form1 &window, const QStringList &arguments)
{
    const QString path = PathFromArguments(arguments);
    if (path.isEmpty())
        return;
    if (qEnvironmentVariableIsSet("QUILLMERE_EXIT_WHEN_SHOWN")) {
        auto clock = std::make_shared<QElapsedTimer>();
        QObject::connect(&window, &Form1::PictureShown, &window, [&window, clock] {
            // Paint now, so the time includes putting the results on screen.
            window.repaint();
            std::fprintf(stderr, "quillmere: shown after %.1f ms\n",
                static_cast<double>(clock->nsecsElapsed()) / 1e6);
            Form1::EndProgramNow();
        });
        QTimer::singleShot(0, &window, [&window, path, clock] {
            clock->start();
            window.OpenPath(path);
        });
        return;
    }
    QTimer::singleShot(0, &window, [&window, path] { window.OpenPath(path); });
}

} // namespace app
