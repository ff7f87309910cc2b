// The whole capture on a real X server: the program is started on a private Xvfb, driven with
// xdotool like a user would, and read back from the screen and the clipboard.
#include "platform/tests/xvfb_server.h"

#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <optional>

namespace capture {
namespace {

    using platform::testing::WaitFor;
    using platform::testing::XvfbServer;

    struct WindowInfo
    {
        QRect geometry; // client area, root coordinates
        bool viewable = false;
    };

    // One of the program's own processes (a window manager, the program), ended with the test.
    class Child
    {
    public:
        Child(const XvfbServer &x, const QString &program, const QString &home, int scale = 1,
            const char *screenScales = nullptr)
        {
            QProcessEnvironment env = x.Environment();
            env.insert(QStringLiteral("HOME"), home);
            if (scale != 1)
                env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::number(scale));
            if (screenScales)
                env.insert(
                    QStringLiteral("QT_SCREEN_SCALE_FACTORS"), QString::fromLatin1(screenScales));
            process.setProcessEnvironment(env);
            process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            process.setStandardOutputFile(QProcess::nullDevice());
            process.start(program, {});
        }
        ~Child()
        {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
        [[nodiscard]] bool Started() { return process.waitForStarted(10000); }
        [[nodiscard]] qint64 Pid() const { return process.processId(); }
        [[nodiscard]] bool Running() const { return process.state() == QProcess::Running; }

    private:
        QProcess process;
    };

    class RealX
    {
    public:
        explicit RealX(const XvfbServer &x)
            : x(x)
        {
        }

        bool Ok(const QString &program, const QStringList &arguments) const
        {
            return x.Run(program, arguments).has_value();
        }
        bool Xdotool(const QStringList &arguments) const
        {
            return Ok(QStringLiteral("xdotool"), arguments);
        }

        std::optional<WindowInfo> Window(const QString &id) const
        {
            const auto out = x.Run(QStringLiteral("xwininfo"), { QStringLiteral("-id"), id });
            if (!out)
                return std::nullopt;
            const auto field = [&](const char *name) {
                const QRegularExpression re(QStringLiteral("%1:\\s*(-?\\d+)").arg(name));
                return re.match(*out).captured(1).toInt();
            };
            WindowInfo info;
            info.geometry = QRect(field("Absolute upper-left X"), field("Absolute upper-left Y"),
                field("Width"), field("Height"));
            info.viewable = out->contains(QStringLiteral("IsViewable"));
            return info;
        }

        // Visible windows whose title is exactly `name`, or that belong to process `pid`.
        QStringList Search(const QStringList &how) const
        {
            const auto out = x.Run(QStringLiteral("xdotool"),
                QStringList { QStringLiteral("search"), QStringLiteral("--onlyvisible") } + how);
            return out ? out->split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList {};
        }

        // Colours (#RRGGBB) of the screen at the given points, as the X11 source reads them.
        QStringList Colours(const QList<QPoint> &points) const
        {
            QStringList arguments;
            for (const QPoint &p : points)
                arguments << QString::number(p.x()) << QString::number(p.y());
            const auto out = x.Run(QStringLiteral(QUILLMERE_SCREEN_PROBE), arguments);
            if (!out)
                return {};
            return out->split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(1);
        }

        QString Clipboard() const
        {
            const auto out
                = x.Run(QStringLiteral(QUILLMERE_SCREEN_PROBE), { QStringLiteral("--clipboard") });
            return out ? out->trimmed() : QString();
        }

        const XvfbServer &x;
    };

    QStringList Line(const RealX &rx, QPoint start, QPoint step, int count)
    {
        QList<QPoint> points;
        for (int i = 0; i < count; ++i)
            points << start + step * i;
        return rx.Colours(points);
    }

    // Length of the run of pixels from `start` stepping by `step` whose colour is in `colours`.
    int RunLength(const RealX &rx, QPoint start, QPoint step, int limit, const QStringList &colours)
    {
        const QStringList seen = Line(rx, start, step, limit);
        int n = 0;
        while (n < seen.size() && colours.contains(seen[n]))
            ++n;
        return n;
    }

    // Index of the first of `limit` pixels from `start` whose colour is in `colours`, or -1.
    int FirstOf(const RealX &rx, QPoint start, QPoint step, int limit, const QStringList &colours)
    {
        const QStringList seen = Line(rx, start, step, limit);
        for (int i = 0; i < seen.size(); ++i)
            if (colours.contains(seen[i]))
                return i;
        return -1;
    }

    struct Desktop
    {
        const char *name;
        bool windowManager;
        int scale; // QT_SCALE_FACTOR of the program
        const char *screenScales = nullptr; // QT_SCREEN_SCALE_FACTORS of the program
    };

    void PrintTo(const Desktop &desktop, std::ostream *out) { *out << desktop.name; }

    // A 2 x 2 checkerboard for xsetroot -bitmap, whose set pixels take the foreground colour.
    bool WriteCheckerBitmap(const QString &path)
    {
        QFile xbm(path);
        // Xlib's reader wants the values on a line of their own.
        return xbm.open(QIODevice::WriteOnly)
            && xbm.write("#define c_width 2\n#define c_height 2\n"
                         "static unsigned char c_bits[] = {\n   0x01, 0x02};\n")
            > 0;
    }

    // Starts icewm on the server and returns once it manages windows: it announces itself on the
    // root window then.
    void StartWindowManager(
        const XvfbServer &x, const QString &home, std::optional<Child> &windowManager)
    {
        const QString icewm = QStandardPaths::findExecutable(QStringLiteral("icewm"));
        ASSERT_FALSE(icewm.isEmpty()) << "icewm is missing: scripts/deps.sh installs it";
        windowManager.emplace(x, icewm, home);
        ASSERT_TRUE(windowManager->Started());
        ASSERT_TRUE(WaitFor([&] {
            const auto out
                = x.Run(QStringLiteral("xprop"), { "-root", "_NET_SUPPORTING_WM_CHECK" });
            return out && out->contains(QStringLiteral("window id"));
        }));
    }

    class RealXCapture : public ::testing::TestWithParam<Desktop>
    {
    };

    TEST_P(RealXCapture, DraggedRegionsReachThePaneAndTheResults)
    {
        XvfbServer x;
        ASSERT_TRUE(x.IsRunning());
        RealX rx(x);
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());

        std::optional<Child> windowManager;
        if (GetParam().windowManager) {
            ASSERT_NO_FATAL_FAILURE(StartWindowManager(x, home.path(), windowManager));
        }
        ASSERT_TRUE(rx.Ok(QStringLiteral("xsetroot"), { "-solid", "#2060A0" }));

        const int scale = GetParam().scale;
        Child program(x, QStringLiteral(QUILLMERE_PROGRAM), home.path(), scale);
        ASSERT_TRUE(program.Started());
        QString mainId;
        ASSERT_TRUE(WaitFor([&] {
            const QStringList found = rx.Search({ QStringLiteral("--name"), "^Quillmere$" });
            mainId = found.value(0);
            return !mainId.isEmpty();
        }));
        const std::optional<WindowInfo> main = rx.Window(mainId);
        ASSERT_TRUE(main);
        const QRect client = main->geometry;
        SCOPED_TRACE(testing::Message() << "main window at " << client.x() << "," << client.y());
        // Places in the window's client area at 96 logical dpi (15 twips a pixel): the column of
        // commands stands 105 logical pixels inside the right edge.
        const int width = client.width() / scale;
        const auto place = [&](int x, int y) { return client.topLeft() + QPoint(x, y) * scale; };
        const QPoint screenCap = place(width - 105 + 48, 40 + 12);
        const QPoint swatch = place(width - 105 + 48, 72 + 12);
        const QPoint text1 = place(width - 57 + 24, 160 + 9);
        const QPoint paneRow = place(0, 15);
        const QPoint paneColumn = place(15, 0);

        QString overlayId;
        struct Region
        {
            const char *what;
            QStringList root; // xsetroot arguments
            QPoint from, to; // screen pixels, even so that they are whole pixels at scale 2
            QSize size;
            QStringList colours; // what the region holds
            QString hex;
        };
        QTemporaryDir files;
        const QString checker = files.filePath(QStringLiteral("checker.xbm"));
        ASSERT_TRUE(WriteCheckerBitmap(checker));
        const Region regions[] = {
            { "solid colour, dragged down-right", { "-solid", "#2060A0" }, { 20, 20 }, { 150, 120 },
                { 130, 100 }, { "#2060A0" }, "#2060A0" },
            // Half red, half blue on any even-sized block: (127, 0, 127) after truncation.
            { "checkerboard, dragged up-left",
                { "-bitmap", checker, "-fg", "#FF0000", "-bg", "#0000FF" }, { 1250, 950 },
                { 1150, 850 }, { 100, 100 }, { "#FF0000", "#0000FF" }, "#7F007F" },
        };
        for (const Region &r : regions) {
            SCOPED_TRACE(r.what);
            ASSERT_TRUE(rx.Ok(QStringLiteral("xsetroot"), r.root));
            ASSERT_TRUE(rx.Xdotool({ "mousemove", QString::number(screenCap.x()),
                QString::number(screenCap.y()), "click", "1" }));

            // The overlay: the program's other window, covering the screen edge to edge.
            QString shown;
            ASSERT_TRUE(WaitFor([&] {
                for (const QString &id :
                    rx.Search({ QStringLiteral("--pid"), QString::number(program.Pid()) })) {
                    const auto info = rx.Window(id);
                    if (id != mainId && info && info->viewable) {
                        shown = id;
                        return true;
                    }
                }
                return false;
            }));
            const auto overlay = rx.Window(shown);
            ASSERT_TRUE(overlay);
            EXPECT_EQ(overlay->geometry, QRect(0, 0, 1280, 1024));
            if (!overlayId.isEmpty()) {
                EXPECT_EQ(shown, overlayId) << "a second capture made a second overlay";
            }
            overlayId = shown;

            const auto move = [](QPoint p) {
                return QStringList { "mousemove", QString::number(p.x()), QString::number(p.y()) };
            };
            ASSERT_TRUE(rx.Xdotool(move(r.from) + QStringList { "mousedown", "1" }
                + move((r.from + r.to) / 2) + move(r.to) + QStringList { "mouseup", "1" }));
            ASSERT_TRUE(WaitFor([&] {
                const auto info = rx.Window(overlayId);
                return info && !info->viewable;
            })) << "the release did not end the capture";

            ASSERT_TRUE(WaitFor([&] { return rx.Colours({ swatch }).value(0) == r.hex; }))
                << "swatch shows " << rx.Colours({ swatch }).value(0).toStdString();
            // The pane shows the copied block at its size: the region's colours start inside
            // the frame's border and end exactly where the block does, without the far column
            // and row of the drag.
            const int left = FirstOf(rx, paneRow, { 1, 0 }, 16, r.colours);
            const int top = FirstOf(rx, paneColumn, { 0, 1 }, 16, r.colours);
            ASSERT_GE(left, 0);
            ASSERT_GE(top, 0);
            EXPECT_EQ(
                RunLength(rx, paneRow + QPoint(left, 0), { 1, 0 }, r.size.width() + 2, r.colours),
                r.size.width());
            EXPECT_EQ(RunLength(rx, paneColumn + QPoint(0, top), { 0, 1 }, r.size.height() + 2,
                          r.colours),
                r.size.height());

            // The hex text, read as a user would copy it out of the text box.
            ASSERT_TRUE(rx.Xdotool({ "mousemove", QString::number(text1.x()),
                QString::number(text1.y()), "click", "1", "key", "ctrl+a", "ctrl+c" }));
            ASSERT_TRUE(WaitFor([&] { return rx.Clipboard() == r.hex; }))
                << "hex text " << rx.Clipboard().toStdString();
        }

        // Esc during a drag on a screen of another colour: the overlay goes, the main window
        // has the keyboard again, and the last result stays.
        ASSERT_TRUE(rx.Ok(QStringLiteral("xsetroot"), { "-solid", "#10F010" }));
        ASSERT_TRUE(rx.Xdotool({ "mousemove", QString::number(screenCap.x()),
            QString::number(screenCap.y()), "click", "1" }));
        ASSERT_TRUE(WaitFor([&] {
            const auto info = rx.Window(overlayId);
            return info && info->viewable;
        }));
        ASSERT_TRUE(rx.Xdotool({ "mousemove", "100", "100", "mousedown", "1", "mousemove", "300",
            "200", "key", "Escape" }));
        ASSERT_TRUE(WaitFor([&] {
            const auto info = rx.Window(overlayId);
            return info && !info->viewable;
        })) << "Esc did not close the overlay";
        ASSERT_TRUE(rx.Xdotool({ "mouseup", "1" }));
        EXPECT_TRUE(WaitFor([&] {
            const auto out = x.Run(QStringLiteral("xdotool"), { "getwindowfocus" });
            return out && out->trimmed() == mainId;
        })) << "the main window did not get the keyboard back";
        const QString lastHex = regions[std::size(regions) - 1].hex;
        ASSERT_TRUE(rx.Xdotool({ "mousemove", QString::number(text1.x()),
            QString::number(text1.y()), "click", "1", "key", "ctrl+a", "ctrl+c" }));
        EXPECT_TRUE(WaitFor([&] { return rx.Clipboard() == lastHex; }))
            << "hex text " << rx.Clipboard().toStdString();
        EXPECT_EQ(rx.Colours({ swatch }).value(0), lastHex);
        EXPECT_TRUE(program.Running());
    }

    INSTANTIATE_TEST_SUITE_P(Desktops, RealXCapture,
        ::testing::Values(Desktop { "bare_X", false, 1 }, Desktop { "icewm", true, 1 },
            // The pane gets the screen pixels under the band, not the logical ones.
            Desktop { "bare_X_scale_2", false, 2 }),
        [](const auto &info) { return std::string(info.param.name); });

    // Two monitors side by side on one wide Xvfb screen: LEFT 1280 x 1024 (primary) and RIGHT
    // 1024 x 768 beside it, with no monitor below RIGHT.
    class RealXTwoMonitors : public ::testing::TestWithParam<Desktop>
    {
    };

    TEST_P(RealXTwoMonitors, CapturesOnEachScreenAndEscBacksOut)
    {
        XvfbServer x(QSize(2304, 1024));
        ASSERT_TRUE(x.IsRunning());
        RealX rx(x);
        ASSERT_TRUE(rx.Ok(QStringLiteral("xrandr"),
            { "--setmonitor", "LEFT", "1280/339x1024/271+0+0", "screen" }));
        ASSERT_TRUE(rx.Ok(QStringLiteral("xrandr"),
            { "--setmonitor", "RIGHT", "1024/271x768/203+1280+0", "none" }));
        QTemporaryDir home;
        ASSERT_TRUE(home.isValid());
        QTemporaryDir files;
        const QString checker = files.filePath(QStringLiteral("checker.xbm"));
        ASSERT_TRUE(WriteCheckerBitmap(checker));
        const QStringList checkerRoot { "-bitmap", checker, "-fg", "#FF0000", "-bg", "#0000FF" };

        std::optional<Child> windowManager;
        if (GetParam().windowManager) {
            ASSERT_NO_FATAL_FAILURE(StartWindowManager(x, home.path(), windowManager));
        }
        ASSERT_TRUE(rx.Ok(QStringLiteral("xsetroot"), checkerRoot));

        Child program(
            x, QStringLiteral(QUILLMERE_PROGRAM), home.path(), 1, GetParam().screenScales);
        ASSERT_TRUE(program.Started());
        QString mainId;
        ASSERT_TRUE(WaitFor([&] {
            mainId = rx.Search({ QStringLiteral("--name"), "^Quillmere$" }).value(0);
            return !mainId.isEmpty();
        }));
        const std::optional<WindowInfo> main = rx.Window(mainId);
        ASSERT_TRUE(main);
        const QRect client = main->geometry;
        const auto place = [&](int x, int y) { return client.topLeft() + QPoint(x, y); };
        const QPoint screenCap = place(client.width() - 105 + 48, 40 + 12);
        const QPoint swatch = place(client.width() - 105 + 48, 72 + 12);
        const QPoint text1 = place(client.width() - 57 + 24, 160 + 9);
        const QPoint paneRow = place(0, 15);
        const QPoint paneColumn = place(15, 0);
        const auto move = [](QPoint p) {
            return QStringList { "mousemove", QString::number(p.x()), QString::number(p.y()) };
        };

        // One window over both monitors, or one on each where their pixel ratios differ; in
        // screen pixels either way.
        const QList<QRect> overlayAreas = GetParam().screenScales
            ? QList<QRect> { QRect(0, 0, 1280, 1024), QRect(1280, 0, 1024, 768) }
            : QList<QRect> { QRect(0, 0, 2304, 1024) };
        QStringList overlayIds;
        const auto openOverlay = [&] {
            if (!rx.Xdotool(move(screenCap) + QStringList { "click", "1" }))
                return false;
            return WaitFor([&] {
                overlayIds.clear();
                QList<QRect> areas;
                for (const QString &id :
                    rx.Search({ QStringLiteral("--pid"), QString::number(program.Pid()) })) {
                    const auto info = rx.Window(id);
                    if (id != mainId && info && info->viewable) {
                        overlayIds.append(id);
                        areas.append(info->geometry);
                    }
                }
                std::sort(areas.begin(), areas.end(),
                    [](const QRect &a, const QRect &b) { return a.x() < b.x(); });
                return areas == overlayAreas;
            });
        };
        const auto overlayGone = [&] {
            return WaitFor([&] {
                return std::all_of(overlayIds.begin(), overlayIds.end(), [&](const QString &id) {
                    const auto info = rx.Window(id);
                    return info && !info->viewable;
                });
            });
        };
        // The hex text as a user would copy it; the copy also proves every earlier event has
        // been handled.
        const auto hexText = [&] {
            if (!rx.Xdotool(move(text1) + QStringList { "click", "1", "key", "ctrl+a", "ctrl+c" }))
                return QString();
            QString text;
            WaitFor([&] {
                text = rx.Clipboard();
                return text.startsWith(QLatin1Char('#'));
            });
            return text;
        };
        const QStringList halves { "#FF0000", "#0000FF" };

        struct Region
        {
            const char *what;
            QPoint from, to;
            QSize size;
        };
        // Both blocks have even sides, so the checkerboard averages to (127, 0, 127): a colour
        // found nowhere on the screen but in a swatch. They keep above a window manager's
        // task bar at the bottom of the left screen.
        const Region regions[] = {
            { "left screen, dragged past its edge to where no screen is", { 1200, 800 },
                { 1400, 900 }, { 80, 100 } },
            { "right screen, dragged below it", { 2203, 700 }, { 2303, 900 }, { 100, 68 } },
        };
        for (const Region &r : regions) {
            SCOPED_TRACE(r.what);
            ASSERT_TRUE(openOverlay()) << "the overlay does not cover each monitor";
            ASSERT_TRUE(rx.Xdotool(move(r.from) + QStringList { "mousedown", "1" }
                + move((r.from + r.to) / 2) + move(r.to)));
            // The live readout's swatch shows the band's average before the button is let go.
            EXPECT_TRUE(WaitFor([&] {
                const auto out
                    = x.Run(QStringLiteral(QUILLMERE_SCREEN_PROBE), { "--count", "#7F007F" });
                return out && out->trimmed().toInt() >= 400;
            })) << "no readout swatch of the band's average";
            ASSERT_TRUE(rx.Xdotool({ "mouseup", "1" }));
            ASSERT_TRUE(overlayGone()) << "the release did not end the capture";
            ASSERT_TRUE(WaitFor([&] { return rx.Colours({ swatch }).value(0) == "#7F007F"; }))
                << "swatch shows " << rx.Colours({ swatch }).value(0).toStdString();
            const int left = FirstOf(rx, paneRow, { 1, 0 }, 16, halves);
            const int top = FirstOf(rx, paneColumn, { 0, 1 }, 16, halves);
            ASSERT_GE(left, 0);
            ASSERT_GE(top, 0);
            EXPECT_EQ(
                RunLength(rx, paneRow + QPoint(left, 0), { 1, 0 }, r.size.width() + 2, halves),
                r.size.width());
            EXPECT_EQ(
                RunLength(rx, paneColumn + QPoint(0, top), { 0, 1 }, r.size.height() + 2, halves),
                r.size.height());
            EXPECT_EQ(hexText(), QStringLiteral("#7F007F"));
        }

        // Esc before and during a drag over a screen of another colour: had anything been
        // captured, the results would show it.
        ASSERT_TRUE(rx.Ok(QStringLiteral("xsetroot"), { "-solid", "#2060A0" }));
        struct Cancel
        {
            const char *what;
            bool dragging;
        };
        for (const Cancel c :
            { Cancel { "Esc before a drag", false }, Cancel { "Esc during a drag", true } }) {
            SCOPED_TRACE(c.what);
            ASSERT_TRUE(openOverlay());
            QStringList steps = move(QPoint(1500, 300));
            if (c.dragging)
                steps += QStringList { "mousedown", "1" } + move(QPoint(1700, 500));
            ASSERT_TRUE(rx.Xdotool(steps + QStringList { "key", "Escape" }));
            ASSERT_TRUE(overlayGone()) << "Esc did not close the overlay";
            if (c.dragging) {
                ASSERT_TRUE(rx.Xdotool({ "mouseup", "1" }));
            }
            EXPECT_TRUE(WaitFor([&] {
                const auto out = x.Run(QStringLiteral("xdotool"), { "getwindowfocus" });
                return out && out->trimmed() == mainId;
            })) << "the main window did not get the keyboard back";
            EXPECT_EQ(hexText(), QStringLiteral("#7F007F"));
            EXPECT_EQ(rx.Colours({ swatch }).value(0), QStringLiteral("#7F007F"));
        }
        EXPECT_TRUE(program.Running());
    }

    INSTANTIATE_TEST_SUITE_P(Desktops, RealXTwoMonitors,
        ::testing::Values(Desktop { "bare_X", false, 1 }, Desktop { "icewm", true, 1 },
            // RIGHT shows 512 x 384 logical pixels at ratio 2: the band still takes screen pixels.
            Desktop { "bare_X_right_at_2", false, 1, "LEFT=1;RIGHT=2" },
            Desktop { "icewm_right_at_2", true, 1, "LEFT=1;RIGHT=2" }),
        [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace capture
