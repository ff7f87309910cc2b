#include "platform/system_colours.h"

#include <QGuiApplication>
#include <QPalette>

namespace platform {
namespace {

    // Index of each system colour reference (the low byte) to the palette role that plays the
    // same part on this desktop. Unknown indices fall back to the window background.
    QPalette::ColorRole RoleFor(analysis::ColourValue colour)
    {
        switch (colour & 0xFFu) {
        case 0x05: // window background
            return QPalette::Base;
        case 0x08: // window text
            return QPalette::Text;
        case 0x0F: // button face
            return QPalette::Button;
        case 0x12: // button text
            return QPalette::ButtonText;
        case 0x0D: // highlight
            return QPalette::Highlight;
        case 0x0E: // highlighted text
            return QPalette::HighlightedText;
        case 0x10: // button shadow
            return QPalette::Mid;
        case 0x14: // button highlight
            return QPalette::Light;
        case 0x17: // tooltip text
            return QPalette::ToolTipText;
        case 0x18: // tooltip background
            return QPalette::ToolTipBase;
        default:
            return QPalette::Base;
        }
    }

} // namespace

analysis::ColourValue ResolveColour(analysis::ColourValue colour)
{
    if (!IsSystemColour(colour))
        return colour & 0x00FFFFFFu;
    // Without a GUI application there is no palette; white is what the window background is
    // almost everywhere.
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return 0x00FFFFFFu;
    const QColor c = QGuiApplication::palette().color(QPalette::Active, RoleFor(colour));
    return analysis::MakeColour(c.red(), c.green(), c.blue());
}

} // namespace platform
