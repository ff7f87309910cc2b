#include "app/application.h"

#include "app/language.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QIcon>

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

} // namespace app
