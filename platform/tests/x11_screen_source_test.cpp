#include "platform/x11_screen_source.h"

#include "platform/tests/xvfb_server.h"

#include <QColor>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <vector>

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

    // A Display P3 profile as colour managers describe such a screen: P3 primaries, D65, the sRGB
    // curve.
    std::vector<std::uint8_t> DisplayP3Profile()
    {
        const cmsCIExyY white { 0.3127, 0.3290, 1.0 };
        const cmsCIExyYTRIPLE primaries { { 0.680, 0.320, 1.0 }, { 0.265, 0.690, 1.0 },
            { 0.150, 0.060, 1.0 } };
        const double srgbCurve[] = { 2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045 };
        cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
        cmsToneCurve *curves[] = { curve, curve, curve };
        cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
        cmsUInt32Number size = 0;
        cmsSaveProfileToMem(profile, nullptr, &size);
        std::vector<std::uint8_t> bytes(size);
        cmsSaveProfileToMem(profile, bytes.data(), &size);
        cmsCloseProfile(profile);
        cmsFreeToneCurve(curve);
        return bytes;
    }

    // The sRGB colour lcms2's floating-point transform gives for an 8-bit colour in the profile,
    // clipped and rounded.
    QColor InSrgb(const std::vector<std::uint8_t> &profileBytes, QColor colour)
    {
        cmsHPROFILE source = cmsOpenProfileFromMem(
            profileBytes.data(), static_cast<cmsUInt32Number>(profileBytes.size()));
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHTRANSFORM transform = cmsCreateTransform(
            source, TYPE_RGB_FLT, srgb, TYPE_RGB_FLT, INTENT_RELATIVE_COLORIMETRIC, 0);
        const float in[3]
            = { colour.red() / 255.0f, colour.green() / 255.0f, colour.blue() / 255.0f };
        float out[3] = {};
        cmsDoTransform(transform, in, out, 1);
        cmsDeleteTransform(transform);
        cmsCloseProfile(srgb);
        cmsCloseProfile(source);
        const auto code = [](float v) {
            return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
        };
        return QColor(code(out[0]), code(out[1]), code(out[2]));
    }

    // A colour manager's display profile on the root window: the grab is converted from it to
    // sRGB, and back to the stored numbers once the profile goes.
    TEST(X11ScreenSource, ConvertsFromTheDisplayProfileOnTheRootWindow)
    {
        XvfbServer x;
        ASSERT_TRUE(x.IsRunning());
        const QColor stored(200, 60, 40);
        ASSERT_TRUE(x.Run(QStringLiteral("xsetroot"), { "-solid", stored.name() }));
        const std::vector<std::uint8_t> profile = DisplayP3Profile();
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("display.icc"));
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(reinterpret_cast<const char *>(profile.data()), qint64(profile.size()));
        out.close();
        const QString probe = QStringLiteral(QUILLMERE_SCREEN_PROBE);
        ASSERT_TRUE(x.Run(probe, { "--set-profile", "_ICC_PROFILE", file }));
        // xprop sees it as colour managers leave it.
        const auto listed = x.Run(QStringLiteral("xprop"), { "-root", "_ICC_PROFILE" });
        ASSERT_TRUE(listed && listed->contains(QStringLiteral("_ICC_PROFILE(CARDINAL)")))
            << (listed ? listed->toStdString() : "xprop failed");

        const QColor expected = InSrgb(profile, stored);
        // About #D92A17: a saturated colour moves by more than a dozen steps.
        ASSERT_GT(std::abs(expected.red() - stored.red()), 10);
        const QStringList lines = Probe(x, { "160", "120" });
        ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('|')).toStdString();
        const QColor shown(lines[1]);
        EXPECT_NEAR(shown.red(), expected.red(), 1) << lines[1].toStdString();
        EXPECT_NEAR(shown.green(), expected.green(), 1) << lines[1].toStdString();
        EXPECT_NEAR(shown.blue(), expected.blue(), 1) << lines[1].toStdString();

        ASSERT_TRUE(x.Run(QStringLiteral("xprop"), { "-root", "-remove", "_ICC_PROFILE" }));
        const QStringList plain = Probe(x, { "160", "120" });
        ASSERT_EQ(plain.size(), 2);
        EXPECT_EQ(plain[1], stored.name().toUpper());
    }

} // namespace
} // namespace platform
