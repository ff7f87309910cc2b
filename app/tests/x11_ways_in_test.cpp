// The built program on a real X server of the test's own: a path on the command line and Ctrl+V
// with a picture that another X client serves on the clipboard must show the picture's average.
#include "app/tests/x11_program.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

using namespace app::testing;
using platform::testing::WaitFor;
using platform::testing::XvfbServer;

// Halves of (200, 40, 10) and (100, 140, 250): the mean is (150, 90, 130), #965A82.
QImage Halves(QRgb left, QRgb right)
{
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, x < 32 ? left : right);
    return image;
}

void StartProgram(QProcess &program, const XvfbServer &server, const QString &home,
    const QStringList &arguments, const QString &folder = {})
{
    QProcessEnvironment env = server.Environment();
    env.insert("HOME", home);
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    if (!folder.isEmpty())
        program.setWorkingDirectory(folder);
    program.start(QStringLiteral(QUILLMERE_EXECUTABLE), arguments);
}

bool IsEmptyFolder(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty();
}

TEST(RealX, PathOnTheCommandLineOpensAsSoonAsTheWindowShows)
{
    XvfbServer server;
    ASSERT_TRUE(server.IsRunning());
    QTemporaryDir pictures(QStringLiteral("/tmp/quillmere-x11-XXXXXX"));
    ASSERT_TRUE(QDir(pictures.path()).mkpath("sub folder"));
    const QImage image = Halves(qRgb(200, 40, 10), qRgb(100, 140, 250));
    struct Case
    {
        const char *name;
        QString file; // inside the pictures folder
        QString argument;
        QString folder; // where the program starts
    };
    const Case cases[] = {
        { "absolute path", "fixture.png", pictures.filePath("fixture.png"), {} },
        { "spaces and Chinese in the name", "sub folder/图 片.png",
            pictures.filePath("sub folder/图 片.png"), {} },
        { "relative to the working folder", "rel.png", "rel.png", pictures.path() },
        { "after the end of the options", "-dash.png", "-dash.png", pictures.path() },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(image.save(pictures.filePath(c.file), "PNG"));
        QTemporaryDir home;
        QProcess program;
        QStringList arguments { c.argument };
        if (c.argument.startsWith('-'))
            arguments.prepend("--");
        StartProgram(program, server, home.path(), arguments, c.folder);
        ASSERT_TRUE(program.waitForStarted(10000));
        KillAtExit stop { program };
        const std::optional<MainWindowPoints> points = WaitForMainWindow(server, program);
        ASSERT_TRUE(points) << "main window mapped";
        QStringList seen;
        EXPECT_TRUE(WaitFor([&] {
            seen = ScreenColours(server, { points->swatch, points->paneCorner });
            return seen == QStringList { "#965A82", "#C8280A" };
        })) << seen.join(' ').toStdString();
        EXPECT_TRUE(IsEmptyFolder(home.path())) << "nothing written to the home folder";
    }
}

// The timing hook that bench/ uses: with the variable set the program reports and ends by itself
// once the results are on screen.
TEST(RealX, ExitWhenShownReportsTheTimeAndEnds)
{
    XvfbServer server;
    ASSERT_TRUE(server.IsRunning());
    QTemporaryDir pictures(QStringLiteral("/tmp/quillmere-x11-XXXXXX"));
    const QString picture = pictures.filePath("fixture.png");
    ASSERT_TRUE(Halves(qRgb(200, 40, 10), qRgb(100, 140, 250)).save(picture));
    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment env = server.Environment();
    env.insert("HOME", home.path());
    env.insert("QUILLMERE_EXIT_WHEN_SHOWN", "1");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(QUILLMERE_EXECUTABLE), { picture });
    KillAtExit stop { program };
    ASSERT_TRUE(program.waitForFinished(30000));
    EXPECT_EQ(program.exitCode(), 0);
    const QString report = QString::fromUtf8(program.readAllStandardError());
    EXPECT_TRUE(report.contains(QRegularExpression("quillmere: shown after [0-9]+\\.[0-9] ms")))
        << report.toStdString();
}

// Serves data on the clipboard as xclip does for other programs, until the test ends.
class ClipboardServer
{
public:
    ClipboardServer(const XvfbServer &server, const QString &type, const QByteArray &data)
    {
        xclip.setProcessEnvironment(server.Environment());
        xclip.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // -quiet keeps xclip in the foreground, so the test owns it and ends it.
        xclip.start("xclip", { "-quiet", "-selection", "clipboard", "-t", type, "-i" });
        if (!xclip.waitForStarted(10000))
            return;
        xclip.write(data);
        xclip.closeWriteChannel();
        serving = WaitFor([&] {
            return Lines(server.Run("xclip", { "-selection", "clipboard", "-o", "-t", "TARGETS" }))
                .contains(type);
        });
    }
    ~ClipboardServer()
    {
        xclip.kill();
        xclip.waitForFinished(10000);
    }
    bool serving = false;

private:
    QProcess xclip;
};

TEST(RealX, CtrlVTakesThePictureFromTheClipboard)
{
    XvfbServer server;
    ASSERT_TRUE(server.IsRunning());
    QTemporaryDir pictures(QStringLiteral("/tmp/quillmere-x11-XXXXXX"));
    QTemporaryDir home;
    QProcess program;
    StartProgram(program, server, home.path(), {});
    ASSERT_TRUE(program.waitForStarted(10000));
    KillAtExit stop { program };
    const std::optional<MainWindowPoints> points = WaitForMainWindow(server, program);
    ASSERT_TRUE(points) << "main window mapped";

    struct Case
    {
        const char *name;
        QRgb left, right;
        QString type;
        bool asFile;
        QStringList expected; // swatch and pane corner, means by hand
    };
    // Each case shows colours the one before did not, so each paste is seen to take effect.
    const Case cases[] = {
        { "PNG bytes", qRgb(200, 40, 10), qRgb(100, 140, 250), "image/png", false,
            { "#965A82", "#C8280A" } },
        { "a copied file", qRgb(0, 0, 0), qRgb(255, 255, 255), "text/uri-list", true,
            { "#7F7F7F", "#000000" } },
        { "JPEG bytes", qRgb(0, 0, 255), qRgb(0, 0, 255), "image/jpeg", false,
            { "#0000FE", "#0000FE" } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = pictures.filePath(QString::fromLatin1(c.name).replace(' ', '-'));
        const char *format = c.type == "image/jpeg" ? "JPEG" : "PNG";
        ASSERT_TRUE(Halves(c.left, c.right).save(file, format, 100));
        QByteArray data;
        if (c.asFile) {
            data = QUrl::fromLocalFile(file).toEncoded() + "\r\n";
        } else {
            QFile in(file);
            ASSERT_TRUE(in.open(QIODevice::ReadOnly));
            data = in.readAll();
        }
        ClipboardServer clipboard(server, c.type, data);
        ASSERT_TRUE(clipboard.serving);
        ASSERT_TRUE(server.Run("xdotool", { "windowfocus", "--sync", points->window }));
        ASSERT_TRUE(server.Run("xdotool", { "key", "ctrl+v" }));
        QStringList seen;
        EXPECT_TRUE(WaitFor([&] {
            seen = ScreenColours(server, { points->swatch, points->paneCorner });
            return seen == c.expected;
        })) << seen.join(' ').toStdString();
    }
    EXPECT_TRUE(IsEmptyFolder(home.path())) << "nothing written to the home folder";
}

} // namespace
