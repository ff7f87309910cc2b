#pragma once

#include "analysis/colour_math.h"
#include "imaging/picture_formats.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>

class QWidget;

namespace platform {

// Qt's own dialogs keep history and custom colours in ~/.config/QtProject.conf and read them back
// at the next start. Pointing every settings location at /dev/null stops both; call it right after
// the application object exists, before any dialog.
void DisableSettingsFiles();

// An open dialog entry for the formats decoded in home: "description (*.a *.b ...)", the patterns
// from the table of formats.
[[nodiscard]] QString PictureFilter(const QString &description, imaging::DecoderHome home);

// The open dialog's entries after the caller's own, in the desktop's language: the formats phones
// and the web brought (matched in any case, like every entry), then every file.
[[nodiscard]] QStringList MorePictureFilters();

struct OpenFileRequest
{
    QString title;
    QString filter; // the first entry, selected at the start: "description (*.a *.b)"
    QString folder;
    QStringList moreFilters = MorePictureFilters();
};

// Modal file chooser owned by `owner`, accepting one existing file. Returns its absolute path, or
// an empty string when the user cancelled.
[[nodiscard]] QString ChooseOpenFile(QWidget *owner, const OpenFileRequest &request);

// Sixteen custom colours of the colour chooser, 0x00BBGGRR each.
using CustomColours = std::array<analysis::ColourValue, 16>;

// Modal colour chooser owned by `owner`, opening with black selected and offering `custom` as its
// custom colours. On OK returns the chosen colour (0x00BBGGRR) and writes the custom colours as
// the user left them into `custom`; on cancel returns nothing and leaves `custom` alone.
[[nodiscard]] std::optional<analysis::ColourValue> ChooseColour(
    QWidget *owner, CustomColours &custom);

// Modal message box owned by `owner` reporting an error the user can act on; details, where given,
// are behind the box's details button.
void ShowError(QWidget *owner, const QString &text, const QString &details = QString());

} // namespace platform
