#include "platform/system_colours.h"

#include <QApplication>
#include <QPalette>

#include <gtest/gtest.h>

namespace platform {
namespace {

    // Restores the application palette when a test changed it.
    struct PaletteGuard
    {
        QPalette saved = QApplication::palette();
        ~PaletteGuard() { QApplication::setPalette(saved); }
    };

    TEST(SystemColours, ReferencesFollowTheDesktopPalette)
    {
        PaletteGuard guard;
        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::Base, QColor(0xFA, 0xFB, 0xFC));
        palette.setColor(QPalette::Text, QColor(0x01, 0x02, 0x03));
        palette.setColor(QPalette::Button, QColor(0xD4, 0xD0, 0xC8));
        QApplication::setPalette(palette);
        struct Case
        {
            const char *name;
            analysis::ColourValue reference, expected;
        };
        const Case cases[] = {
            { "window background", kWindowBackground, 0x00FCFBFA },
            { "window text", kWindowText, 0x00030201 },
            { "button face", kButtonFace, 0x00C8D0D4 },
        };
        for (const Case &c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(ResolveColour(c.reference), c.expected);
        }
    }

    TEST(SystemColours, PlainColoursPassThroughWithoutTheTopByte)
    {
        const analysis::ColourValue cases[][2] = {
            { 0x00000000, 0x00000000 },
            { 0x00FFFFFF, 0x00FFFFFF },
            { 0x00563412, 0x00563412 },
            { 0x7F563412, 0x00563412 },
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(c[0]);
            EXPECT_FALSE(IsSystemColour(c[0]));
            EXPECT_EQ(ResolveColour(c[0]), c[1]);
        }
        EXPECT_TRUE(IsSystemColour(0xFFFFFFFFu));
    }

} // namespace
} // namespace platform
