// The built program on a real X server of the test's own: the file is chosen in the real file
// chooser by typing its path, and the swatch on screen must show the picture's average colour.
#include "app/tests/x11_program.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace app::testing;
using platform::testing::WaitFor;
using platform::testing::XvfbServer;

TEST(RealX, OpensAPictureThroughTheFileChooserAndShowsItsAverage)
{
    XvfbServer server;
    ASSERT_TRUE(server.IsRunning());

    // xdotool cannot type Chinese, so the fixture lives on an ASCII path.
    QTemporaryDir pictures(QStringLiteral("/tmp/quillmere-x11-XXXXXX"));
    const QString picture = pictures.filePath("fixture.png");
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, x < 32 ? qRgb(200, 40, 10) : qRgb(100, 140, 250));
    ASSERT_TRUE(image.save(picture));

    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment env = server.Environment();
    env.insert("HOME", home.path());
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QStringLiteral(QUILLMERE_EXECUTABLE), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    struct Stop
    {
        QProcess &program;
        ~Stop()
        {
            program.kill();
            program.waitForFinished(10000);
        }
    } stop { program };

    QString window;
    ASSERT_TRUE(WaitFor([&] {
        const QStringList windows = WindowsOf(server, program.processId());
        window = windows.value(0);
        return windows.size() == 1;
    })) << "main window mapped";
    auto geometry = Geometry(server, window);
    // Xvfb has 96 dpi, 15 twips a pixel: the client area is 6960 x 5400 twips.
    ASSERT_EQ(geometry["WIDTH"], 464);
    ASSERT_EQ(geometry["HEIGHT"], 360);
    const QPoint origin(geometry["X"], geometry["Y"]);
    // Centres of FileOpen (5385, 120, 1455 x 375 twips) and LblClr (5385, 1080, same size).
    const QPoint fileOpen = origin + QPoint(359 + 48, 8 + 12);
    const QPoint swatch = origin + QPoint(359 + 48, 72 + 12);
    const QPoint paneCorner = origin + QPoint(4, 4);
    ASSERT_EQ(ScreenColours(server, { swatch }), QStringList { "#FFFFFF" });

    ASSERT_TRUE(server.Run("xdotool",
        { "mousemove", QString::number(fileOpen.x()), QString::number(fileOpen.y()), "click",
            "1" }));
    QString dialog;
    ASSERT_TRUE(WaitFor([&] {
        const QStringList windows = WindowsOf(server, program.processId());
        for (const QString &w : windows)
            if (w != window)
                dialog = w;
        // Typing goes where the keyboard focus is; wait until the chooser has it.
        return !dialog.isEmpty()
            && Lines(server.Run("xdotool", { "getwindowfocus" })).value(0) == dialog;
    })) << "file chooser shown and focused";

    ASSERT_TRUE(server.Run("xdotool", { "type", "--delay", "20", picture }));
    ASSERT_TRUE(server.Run("xdotool", { "key", "Return" }));

    // Halves of (200, 40, 10) and (100, 140, 250): the mean is (150, 90, 130).
    QStringList seen;
    EXPECT_TRUE(WaitFor([&] {
        seen = ScreenColours(server, { swatch, paneCorner });
        return seen == QStringList { "#965A82", "#C8280A" };
    })) << seen.join(' ').toStdString();
    EXPECT_EQ(WindowsOf(server, program.processId()).size(), 1) << "the chooser closed";
    EXPECT_TRUE(QDir(home.path())
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                    .isEmpty())
        << "nothing written to the home folder";
}

} // namespace
