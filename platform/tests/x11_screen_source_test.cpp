#include "platform/x11_screen_source.h"

#include "platform/tests/xvfb_server.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

namespace platform {
namespace {

    using testing::XvfbServer;

    // The probe prints the grab's size and ratio, then one colour per point asked for.
    QStringList Probe(const XvfbServer &x, const QStringList &points)
    {
        const auto out = x.Run(QStringLiteral(QUILLMERE_SCREEN_PROBE), points);
        return out ? out->trimmed().split(QLatin1Char('\n'))
                   : QStringList { QStringLiteral("failed") };
    }

    TEST(X11ScreenSource, WithoutAnX11ScreenTheGrabIsNull)
    {
        // These tests run on the offscreen platform, whose own grab is a black picture: passing
        // that on would be analysed as if it were the screen.
        ASSERT_NE(QGuiApplication::platformName(), QLatin1String("xcb"));
        EXPECT_FALSE(X11ScreenSource::Available());
        int calls = 0;
        platform::ScreenGrab grabbed {
            { { QRect(0, 0, 4, 4), QImage(4, 4, QImage::Format_RGB32) } }
        };
        X11ScreenSource().GrabScreens([&](platform::ScreenGrab grab) {
            ++calls;
            grabbed = std::move(grab);
        });
        EXPECT_EQ(calls, 1);
        EXPECT_TRUE(grabbed.screens.empty());
        EXPECT_EQ(grabbed.failure, platform::ScreenGrabFailure::NoPicture);
    }

    TEST(X11ScreenSource, GrabsTheWholeScreenAtFullSizeWithExactColours)
    {
        XvfbServer x;
        ASSERT_TRUE(x.IsRunning());
        const QStringList corners
            = { "0", "0", "1279", "0", "0", "1023", "1279", "1023", "640", "512" };
        for (const char *colour : { "#2060A0", "#FE0102" }) {
            SCOPED_TRACE(colour);
            ASSERT_TRUE(x.Run(QStringLiteral("xsetroot"), { "-solid", colour }));
            const QStringList lines = Probe(x, corners);
            ASSERT_EQ(lines.size(), 6) << lines.join(QLatin1Char('|')).toStdString();
            EXPECT_EQ(lines[0], QStringLiteral("1280 1024 1"));
            for (qsizetype i = 1; i < lines.size(); ++i)
                EXPECT_EQ(lines[i], QLatin1String(colour)) << "point " << i;
        }
    }

} // namespace
} // namespace platform
