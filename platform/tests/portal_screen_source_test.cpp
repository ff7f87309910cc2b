// The portal screen grab against a stand-in portal on a private bus that each test starts.
#include "platform/portal_screen_source.h"

#include "platform/tests/portal_test_support.h"

#include <QDBusConnection>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

using namespace std::chrono_literals;

namespace {

using platform::testing::PrivateBus;
using platform::testing::StandIn;
using platform::testing::TestPicture;

using platform::ScreenGrabFailure;

struct GrabResult
{
    std::optional<platform::ScreenGrab> grab;
    int calls = 0;
    std::chrono::milliseconds took {};

    // The primary screen's picture (the offscreen platform has that one alone); null for none.
    [[nodiscard]] QImage Screen() const
    {
        return grab && !grab->screens.empty() ? grab->screens.front().image : QImage();
    }
};

GrabResult Grab(platform::ScreenSource &source, int waitMs = 10000)
{
    GrabResult result;
    const auto start = std::chrono::steady_clock::now();
    source.GrabScreens([&result, start](platform::ScreenGrab grab) {
        result.grab = std::move(grab);
        ++result.calls;
        result.took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    });
    // The callers assert that an answer came.
    static_cast<void>(QTest::qWaitFor([&result] { return result.grab.has_value(); }, waitMs));
    return result;
}

QRect ScreenGeometry() { return QGuiApplication::primaryScreen()->geometry(); }

class PortalGrabTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
        ASSERT_TRUE(bus.bus.isConnected());
    }

    PrivateBus bus;
    QTemporaryDir files;
};

// The portal's answer arrives after the call's reply (the usual order), before it (the answer
// was sent first), or on a Request path other than the predicted one (older portals).
class PortalPictureTest : public PortalGrabTest, public testing::WithParamInterface<const char *>
{
};

TEST_P(PortalPictureTest, FrozenCopyIsThePortalsPictureAndItsFileIsRemoved)
{
    // At the screen's own scale, so the frozen copy is the picture's every pixel.
    const QRect screen = ScreenGeometry();
    const QImage picture = TestPicture(screen.size());
    const QString path = files.filePath(QStringLiteral("screenshot.png"));
    ASSERT_TRUE(picture.save(path));

    StandIn standIn(bus, QString::fromLatin1(GetParam()), path);
    ASSERT_TRUE(standIn.ready) << "the stand-in portal did not start";
    platform::PortalScreenSource source(bus.bus);
    const GrabResult result = Grab(source);

    ASSERT_TRUE(result.grab.has_value());
    EXPECT_EQ(result.grab->failure, ScreenGrabFailure::None);
    ASSERT_EQ(result.grab->screens.size(), 1u);
    EXPECT_EQ(result.grab->screens.front().geometry, screen);
    const QImage shown = result.Screen();
    EXPECT_EQ(shown.size(), picture.size());
    EXPECT_DOUBLE_EQ(shown.devicePixelRatio(), 1.0);
    EXPECT_EQ(shown.format(), QImage::Format_RGB32);
    EXPECT_TRUE(shown == picture) << "pixels differ from the portal's picture";
    EXPECT_FALSE(QFile::exists(path)) << "the portal's file was left behind";

    const QStringList lines = standIn.Lines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines.at(1).startsWith(QStringLiteral("screenshot token=quillmere")))
        << lines.at(1).toStdString();
    EXPECT_TRUE(lines.at(1).contains(QStringLiteral("interactive=false")))
        << lines.at(1).toStdString();
    EXPECT_EQ(result.calls, 1);
}

INSTANTIATE_TEST_SUITE_P(
    AnswerOrder, PortalPictureTest, testing::Values("picture", "early", "elsewhere"));

struct FailureCase
{
    const char *mode;
    // What the stand-in names as the picture: nothing, a picture, or a file that is not one.
    enum { NoFile, Picture, Text } file;
    // Whether the named file is ours to remove afterwards.
    bool removed;
    ScreenGrabFailure reason;
};

void PrintTo(const FailureCase &failure, std::ostream *out) { *out << failure.mode; }

// Every answer but a picture from the portal itself gives the "screen could not be read" image,
// at once rather than after the timeout.
class PortalFailureTest : public PortalGrabTest, public testing::WithParamInterface<FailureCase>
{
};

TEST_P(PortalFailureTest, GivesNullImageWithoutWaitingForTheTimeout)
{
    const FailureCase &failure = GetParam();
    QString path = files.filePath(QStringLiteral("screenshot.png"));
    if (failure.file == FailureCase::Picture) {
        ASSERT_TRUE(TestPicture(QSize(8, 8)).save(path));
    }
    if (failure.file == FailureCase::Text) {
        QFile text(path);
        ASSERT_TRUE(text.open(QIODevice::WriteOnly));
        text.write("not a picture\n");
    }

    StandIn standIn(bus, QString::fromLatin1(failure.mode), path);
    ASSERT_TRUE(standIn.ready) << "the stand-in portal did not start";
    platform::PortalScreenSource source(bus.bus, 5s);
    const GrabResult result = Grab(source);

    ASSERT_TRUE(result.grab.has_value()) << "no answer at all";
    EXPECT_TRUE(result.grab->screens.empty());
    EXPECT_EQ(result.grab->failure, failure.reason);
    EXPECT_LT(result.took, 4s) << "waited for the timeout instead of reading the answer";
    if (failure.file != FailureCase::NoFile) {
        EXPECT_EQ(QFile::exists(path), !failure.removed);
    }
    EXPECT_EQ(result.calls, 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, PortalFailureTest,
    testing::Values(
        FailureCase { "refuse", FailureCase::Picture, false, ScreenGrabFailure::Refused },
        FailureCase { "error", FailureCase::Picture, false, ScreenGrabFailure::Refused },
        // An error reply from the portal itself declines; it is there all the same.
        FailureCase { "fail", FailureCase::Picture, false, ScreenGrabFailure::Refused },
        FailureCase { "no-uri", FailureCase::Picture, false, ScreenGrabFailure::BadAnswer },
        FailureCase { "uri-not-text", FailureCase::Picture, false, ScreenGrabFailure::BadAnswer },
        FailureCase { "remote-uri", FailureCase::Picture, false, ScreenGrabFailure::BadAnswer },
        FailureCase { "bad-signature", FailureCase::Picture, false, ScreenGrabFailure::BadAnswer },
        // A file the portal wrote but that is no picture is still the portal's temporary file.
        FailureCase { "picture", FailureCase::Text, true, ScreenGrabFailure::BadAnswer },
        FailureCase { "picture", FailureCase::NoFile, false, ScreenGrabFailure::BadAnswer },
        // A client other than the portal answering on the request path is not believed.
        FailureCase { "spoof", FailureCase::Picture, false, ScreenGrabFailure::Refused }),
    [](const testing::TestParamInfo<FailureCase> &info) {
        std::string name = info.param.mode;
        for (char &c : name)
            if (c == '-')
                c = '_';
        return name + "_" + std::to_string(info.index);
    });

TEST_F(PortalGrabTest, NoPortalOnTheBusGivesNullImage)
{
    platform::PortalScreenSource source(bus.bus, 5s);
    const GrabResult result = Grab(source);
    ASSERT_TRUE(result.grab.has_value());
    EXPECT_TRUE(result.grab->screens.empty());
    EXPECT_EQ(result.grab->failure, ScreenGrabFailure::NoPortal);
    EXPECT_LT(result.took, 4s);
}

TEST(PortalGrab, NoBusGivesNullImageFromTheEventLoop)
{
    platform::PortalScreenSource source(QDBusConnection(QStringLiteral("no such connection")));
    bool called = false;
    source.GrabScreens([&called](const platform::ScreenGrab &grab) {
        EXPECT_TRUE(grab.screens.empty());
        EXPECT_EQ(grab.failure, ScreenGrabFailure::NoPortal);
        called = true;
    });
    EXPECT_FALSE(called) << "answered before GrabScreens returned";
    EXPECT_TRUE(QTest::qWaitFor([&called] { return called; }, 10000));
}

TEST_F(PortalGrabTest, UnansweredRequestEndsAtTheTimeoutAndIsClosed)
{
    StandIn standIn(bus, QStringLiteral("silent"), QString());
    ASSERT_TRUE(standIn.ready) << "the stand-in portal did not start";
    platform::PortalScreenSource source(bus.bus, 300ms);
    const GrabResult result = Grab(source);

    ASSERT_TRUE(result.grab.has_value());
    EXPECT_TRUE(result.grab->screens.empty());
    EXPECT_EQ(result.grab->failure, ScreenGrabFailure::TimedOut);
    EXPECT_GE(result.took, 250ms); // coarse timers may fire 5% early
    EXPECT_LT(result.took, 2s);
    // The portal is told that nobody waits for this request any more.
    EXPECT_TRUE(QTest::qWaitFor(
        [&standIn] {
            const QStringList lines = standIn.Lines();
            return lines.size() >= 3 && lines.at(2).startsWith(QStringLiteral("close /org/"));
        },
        10000))
        << standIn.Lines().join(QLatin1Char('\n')).toStdString();
}

TEST_F(PortalGrabTest, SecondGrabAfterTheFirstGetsItsOwnPicture)
{
    const QString path = files.filePath(QStringLiteral("screenshot.png"));
    StandIn standIn(bus, QStringLiteral("picture"), path);
    ASSERT_TRUE(standIn.ready) << "the stand-in portal did not start";
    platform::PortalScreenSource source(bus.bus);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const QImage picture = TestPicture(ScreenGeometry().size()).mirrored(round == 1, false);
        ASSERT_TRUE(picture.save(path));
        const GrabResult result = Grab(source);
        ASSERT_TRUE(result.grab.has_value());
        EXPECT_TRUE(result.Screen() == picture);
        EXPECT_DOUBLE_EQ(result.Screen().devicePixelRatio(), 1.0);
    }
    // Each request had its own token.
    const QStringList lines = standIn.Lines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_NE(lines.at(1), lines.at(2));
}

struct CropCase
{
    const char *name;
    QSize picture;
    QRect screen;
    QRect desktop;
    QRect expectedPart; // in picture pixels
    double expectedRatio;
};

// The portal's picture covers the whole desktop at its largest scale; the frozen copy is the
// primary screen's part of it.
TEST(CropToScreen, TakesThePrimaryScreensPartAtTheDesktopsScale)
{
    // Small screens keep the pictures small; only the proportions matter.
    const CropCase cases[] = {
        { "one screen, scale 1", QSize(160, 128), QRect(0, 0, 160, 128), QRect(0, 0, 160, 128),
            QRect(0, 0, 160, 128), 1.0 },
        { "one screen, scale 2", QSize(320, 256), QRect(0, 0, 160, 128), QRect(0, 0, 160, 128),
            QRect(0, 0, 320, 256), 2.0 },
        { "one screen, scale 1.5", QSize(240, 135), QRect(0, 0, 160, 90), QRect(0, 0, 160, 90),
            QRect(0, 0, 240, 135), 1.5 },
        { "right of two", QSize(320, 128), QRect(160, 0, 160, 128), QRect(0, 0, 320, 128),
            QRect(160, 0, 160, 128), 1.0 },
        { "left of two at scale 2", QSize(640, 256), QRect(0, 0, 160, 128), QRect(0, 0, 320, 128),
            QRect(0, 0, 320, 256), 2.0 },
        { "lower of two, negative origin", QSize(100, 150), QRect(0, 0, 100, 75),
            QRect(0, -75, 100, 150), QRect(0, 75, 100, 75), 1.0 },
        { "portal gave the screen alone", QSize(160, 128), QRect(0, 0, 160, 128),
            QRect(0, 0, 320, 128), QRect(0, 0, 160, 128), 1.0 },
    };
    for (const CropCase &c : cases) {
        SCOPED_TRACE(c.name);
        const QImage desktop = TestPicture(c.picture);
        const QImage screen = platform::CropToScreen(desktop, c.screen, c.desktop);
        EXPECT_DOUBLE_EQ(screen.devicePixelRatio(), c.expectedRatio);
        QImage plain = screen;
        plain.setDevicePixelRatio(1.0);
        EXPECT_TRUE(plain == desktop.copy(c.expectedPart));
    }
}

struct SplitScreen
{
    QRect geometry; // logical
    qreal ratio; // the screen's own
    QRect part; // its part of the picture, in picture pixels
    // Picture pixels per screen pixel each way where its part is averaged down; 1 for the part as
    // it is; 0 where the factor is not whole (only the size and ratio are checked).
    int averaged;
};

struct SplitCase
{
    const char *name;
    QSize picture;
    std::vector<SplitScreen> screens;
    std::vector<SplitScreen> expected; // the screens given back, when not all of them
};

// Paints `part` of `picture` as a screen averaged down by `factor` needs it and gives the pixels
// it must come back as. Each block repeats one pixel with one added to every channel but in its
// first pixel, so the rounded mean is that pixel plus one, and a truncating or misaligned average
// shows. Channels stay below 255 so that one more still fits.
QImage PaintBlocks(QImage &picture, const QRect &part, int factor)
{
    QImage own = TestPicture(part.size() / factor);
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x) {
            const QRgb base = own.pixel(x / factor, y / factor);
            const int add = (x % factor == 0 && y % factor == 0) ? 0 : 1;
            picture.setPixel(part.topLeft() + QPoint(x, y),
                qRgb(qRed(base) % 250 + add, qGreen(base) % 250 + add, qBlue(base) % 250 + add));
        }
    for (int y = 0; y < own.height(); ++y)
        for (int x = 0; x < own.width(); ++x) {
            const QRgb base = own.pixel(x, y);
            own.setPixel(
                x, y, qRgb(qRed(base) % 250 + 1, qGreen(base) % 250 + 1, qBlue(base) % 250 + 1));
        }
    return own;
}

// The wlr portal's picture covers the box the screens span at the largest scale (measured: grim
// gives 4160 x 2048 for a 1280 x 1024 screen at scale 2 beside an 800 x 600 one at scale 1, the
// latter scaled up); each screen gets its part at its own pixels.
TEST(SplitDesktopPicture, GivesEveryScreenItsPartAtItsOwnRatio)
{
    const SplitCase cases[] = {
        { "scale 2, then scale 1 to its right", QSize(600, 256),
            { { QRect(0, 0, 200, 128), 2.0, QRect(0, 0, 400, 256), 1 },
                { QRect(200, 0, 100, 80), 1.0, QRect(400, 0, 200, 160), 2 } },
            {} },
        { "scale 3 primary, scale 1 left of it and lower", QSize(450, 180),
            { { QRect(0, 0, 100, 60), 3.0, QRect(150, 0, 300, 180), 1 },
                { QRect(-50, 10, 50, 40), 1.0, QRect(0, 30, 150, 120), 3 } },
            {} },
        { "one scale throughout", QSize(300, 128),
            { { QRect(0, 0, 200, 128), 1.0, QRect(0, 0, 200, 128), 1 },
                { QRect(200, 0, 100, 80), 1.0, QRect(200, 0, 100, 80), 1 } },
            {} },
        // Qt 6.4 rounds a fractional scale up; the picture holds the real pixels.
        { "fractional scale 1.5 where Qt says 2", QSize(300, 135),
            { { QRect(0, 0, 100, 90), 2.0, QRect(0, 0, 150, 135), 1 },
                { QRect(100, 0, 100, 90), 2.0, QRect(150, 0, 150, 135), 1 } },
            {} },
        { "scale 1 beside scale 1.5", QSize(300, 135),
            { { QRect(0, 0, 100, 90), 2.0, QRect(0, 0, 150, 135), 1 },
                { QRect(100, 0, 100, 60), 1.0, QRect(150, 0, 150, 90), 0 } },
            {} },
        { "a picture of the primary screen alone", QSize(200, 120),
            { { QRect(0, 0, 100, 60), 2.0, QRect(0, 0, 200, 120), 1 },
                { QRect(100, 0, 100, 60), 1.0, QRect(), 1 } },
            { { QRect(0, 0, 100, 60), 2.0, QRect(0, 0, 200, 120), 1 } } },
    };
    for (const SplitCase &c : cases) {
        SCOPED_TRACE(c.name);
        QImage desktop = TestPicture(c.picture);
        const std::vector<SplitScreen> &expected = c.expected.empty() ? c.screens : c.expected;
        std::vector<QImage> wanted;
        for (const SplitScreen &screen : expected)
            wanted.push_back(screen.averaged > 1
                    ? PaintBlocks(desktop, screen.part, screen.averaged)
                    : desktop.copy(screen.part));
        std::vector<platform::ScreenLayout> layout;
        for (const SplitScreen &screen : c.screens)
            layout.push_back({ screen.geometry, screen.ratio });

        const std::vector<platform::ScreenPicture> pictures
            = platform::SplitDesktopPicture(desktop, layout);
        ASSERT_EQ(pictures.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            const SplitScreen &screen = expected[i];
            const QSize size = screen.averaged == 0
                ? QSize(static_cast<int>(screen.geometry.width() * screen.ratio),
                    static_cast<int>(screen.geometry.height() * screen.ratio))
                : wanted[i].size();
            EXPECT_EQ(pictures[i].geometry, screen.geometry);
            ASSERT_EQ(pictures[i].image.size(), size);
            EXPECT_EQ(pictures[i].image.format(), QImage::Format_RGB32);
            EXPECT_DOUBLE_EQ(pictures[i].image.devicePixelRatio(),
                double(size.width()) / screen.geometry.width());
            if (screen.averaged == 0)
                continue;
            QImage plain = pictures[i].image;
            plain.setDevicePixelRatio(1.0);
            EXPECT_TRUE(plain == wanted[i]) << "pixels differ";
        }
    }
}

} // namespace

namespace {

// A missing portal shows as the bus's own errors; anything else the portal says is a refusal.
TEST(PortalCallFailure, TellsAMissingPortalFromARefusal)
{
    const struct
    {
        const char *error;
        ScreenGrabFailure reason;
    } cases[] = {
        { "org.freedesktop.DBus.Error.ServiceUnknown", ScreenGrabFailure::NoPortal },
        { "org.freedesktop.DBus.Error.NameHasNoOwner", ScreenGrabFailure::NoPortal },
        { "org.freedesktop.DBus.Error.UnknownMethod", ScreenGrabFailure::NoPortal },
        { "org.freedesktop.DBus.Error.UnknownInterface", ScreenGrabFailure::NoPortal },
        { "org.freedesktop.DBus.Error.UnknownObject", ScreenGrabFailure::NoPortal },
        { "org.freedesktop.DBus.Error.AccessDenied", ScreenGrabFailure::Refused },
        { "org.freedesktop.portal.Error.Failed", ScreenGrabFailure::Refused },
        { "org.freedesktop.portal.Error.NotAllowed", ScreenGrabFailure::Refused },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error);
        EXPECT_EQ(platform::PortalCallFailure(QString::fromLatin1(c.error)), c.reason);
    }
}

} // namespace
