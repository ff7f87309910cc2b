#include "capture/colour_copy.h"

#include <QAction>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>

namespace capture {

namespace {

    // The menu's order, and the names tests find the actions by.
    struct FormAction
    {
        imaging::ColourForm form;
        const char *objectName;
    };
    constexpr FormAction kForms[] = { { imaging::ColourForm::Hex, "CopyHex" },
        { imaging::ColourForm::Rgb, "CopyRgb" }, { imaging::ColourForm::Hsl, "CopyHsl" },
        { imaging::ColourForm::Oklch, "CopyOklch" }, { imaging::ColourForm::Info, "CopyInfo" } };

} // namespace

QString ColourFormName(imaging::ColourForm form)
{
    using imaging::ColourForm;
    switch (form) {
    case ColourForm::Hex:
        return QCoreApplication::translate("ColourCopy", "十六进制");
    case ColourForm::Rgb:
        return QStringLiteral("RGB");
    case ColourForm::Hsl:
        return QStringLiteral("HSL");
    case ColourForm::Oklch:
        return QStringLiteral("OKLCH");
    case ColourForm::Info:
        return QCoreApplication::translate("ColourCopy", "三行信息");
    }
    return {};
}

QString ColourFormText(imaging::ColourForm form, const analysis::ColourSummary &mean)
{
    return QString::fromStdString(imaging::FormText(form, mean));
}

void CopyColour(imaging::ColourForm form, const analysis::ColourSummary &mean)
{
    QGuiApplication::clipboard()->setText(ColourFormText(form, mean));
}

void AddCopyActions(QMenu &menu, const analysis::ColourSummary &mean, QAction *before)
{
    for (const auto &[form, objectName] : kForms) {
        // The info lines go on one line of the menu; the clipboard gets them as they are.
        QString value = ColourFormText(form, mean);
        value.replace(QLatin1Char('\n'), QStringLiteral("  "));
        // An ampersand in a menu text would mark a shortcut letter.
        value.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto *action = new QAction(QCoreApplication::translate("ColourCopy", "复制%1：%2")
                                       .arg(ColourFormName(form), value),
            &menu);
        menu.insertAction(before, action);
        action->setObjectName(QLatin1String(objectName));
        QObject::connect(
            action, &QAction::triggered, &menu, [form = form, mean] { CopyColour(form, mean); });
        if (form == imaging::ColourForm::Hex)
            menu.setDefaultAction(action);
    }
}

} // namespace capture
