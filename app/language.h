#pragma once

#include <QString>

#include <functional>

class QTranslator;

namespace app {

// Reads an environment variable; empty when unset.
using EnvironmentReader = std::function<QString(const char *name)>;

// Whether the desktop asks for English: the first of LANGUAGE (its first entry), LC_ALL,
// LC_MESSAGES and LANG that is set decides, and it asks for English when it starts with "en".
// Anything else, including "C" and no language at all, keeps the program's own Chinese texts.
[[nodiscard]] bool PrefersEnglish(const EnvironmentReader &environment);

// Loads the English texts into the application when the environment asks for them; returns the
// installed translator (owned by the application), or null when the Chinese texts stay.
QTranslator *InstallTranslations(const EnvironmentReader &environment);

// The process environment.
[[nodiscard]] QString ReadEnvironment(const char *name);

} // namespace app
