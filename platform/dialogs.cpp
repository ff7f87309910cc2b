#include "platform/dialogs.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>

namespace platform {

QString PictureFilter(const QString &description, imaging::DecoderHome home)
{
    return description + QStringLiteral(" (")
        + QString::fromStdString(imaging::FilePatternsIn(home)) + QLatin1Char(')');
}

QStringList MorePictureFilters()
{
    return { PictureFilter(QCoreApplication::translate("OpenFileRequest", "新图片格式"),
                 imaging::DecoderHome::FormatsModule),
        QCoreApplication::translate("OpenFileRequest", "所有文件") + QStringLiteral(" (*)") };
}
namespace {

    QColor ToQColor(analysis::ColourValue colour)
    {
        return QColor(
            analysis::GetRValue(colour), analysis::GetGValue(colour), analysis::GetBValue(colour));
    }

    analysis::ColourValue FromQColor(const QColor &colour)
    {
        const QColor rgb = colour.toRgb();
        return analysis::MakeColour(rgb.red(), rgb.green(), rgb.blue());
    }

} // namespace

void DisableSettingsFiles()
{
    for (const QSettings::Format format : { QSettings::NativeFormat, QSettings::IniFormat })
        for (const QSettings::Scope scope : { QSettings::UserScope, QSettings::SystemScope })
            QSettings::setPath(format, scope, QStringLiteral("/dev/null"));
}

QString ChooseOpenFile(QWidget *owner, const OpenFileRequest &request)
{
    // Qt's own dialog everywhere: it honours every option below, also without a desktop session.
    QFileDialog dialog(owner, request.title, request.folder);
    dialog.setObjectName(QStringLiteral("OpenFileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters(QStringList { request.filter } + request.moreFilters);
    dialog.selectNameFilter(request.filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setWindowModality(Qt::WindowModal);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

std::optional<analysis::ColourValue> ChooseColour(QWidget *owner, CustomColours &custom)
{
    // The dialog's custom colours are process-wide; ours are lent to it for this one dialog.
    CustomColours before;
    for (int k = 0; k < QColorDialog::customCount(); ++k)
        before[static_cast<std::size_t>(k)] = FromQColor(QColorDialog::customColor(k));
    for (int k = 0; k < QColorDialog::customCount(); ++k)
        QColorDialog::setCustomColor(k, ToQColor(custom[static_cast<std::size_t>(k)]));

    QColorDialog dialog(Qt::black, owner);
    dialog.setObjectName(QStringLiteral("ColourDialog"));
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    dialog.setWindowModality(Qt::WindowModal);
    const bool confirmed = dialog.exec() == QDialog::Accepted;
    std::optional<analysis::ColourValue> chosen;
    if (confirmed) {
        chosen = FromQColor(dialog.selectedColor());
        for (int k = 0; k < QColorDialog::customCount(); ++k)
            custom[static_cast<std::size_t>(k)] = FromQColor(QColorDialog::customColor(k));
    }
    for (int k = 0; k < QColorDialog::customCount(); ++k)
        QColorDialog::setCustomColor(k, ToQColor(before[static_cast<std::size_t>(k)]));
    return chosen;
}

void ShowError(QWidget *owner, const QString &text, const QString &details)
{
    QMessageBox box(
        QMessageBox::Critical, QStringLiteral("Quillmere"), text, QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("ErrorMessage"));
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

} // namespace platform
