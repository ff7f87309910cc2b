#include "app/language.h"

#include <QCoreApplication>
#include <QTranslator>

namespace app {

bool PrefersEnglish(const EnvironmentReader &environment)
{
    for (const char *name : { "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG" }) {
        QString value = environment(name);
        // LANGUAGE is a priority list ("en_GB:de"); the desktop's first choice counts.
        if (qstrcmp(name, "LANGUAGE") == 0)
            value = value.section(QLatin1Char(':'), 0, 0);
        if (!value.isEmpty())
            return value.startsWith(QLatin1String("en"));
    }
    return false;
}

QTranslator *InstallTranslations(const EnvironmentReader &environment)
{
    if (!PrefersEnglish(environment))
        return nullptr;
    auto *translator = new QTranslator(QCoreApplication::instance());
    // Compiled into the program, so an installed copy needs no data files to find.
    if (!translator->load(QStringLiteral(":/i18n/quillmere_en.qm"))
        || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

QString ReadEnvironment(const char *name) { return qEnvironmentVariable(name); }

} // namespace app
