// Drops, Ctrl+V and loads on the worker thread, driven in-process: every way in must end exactly
// where the open command ends for the same picture.
#include "app/application.h"
#include "app/main_colour_row.h"
#include "app/tests/form1_fixture.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

struct Shown
{
    QString hex;
    analysis::ColourValue swatch;
    QString info;
    QSize pane;
    QImage raster;
    bool operator==(const Shown &other) const
    {
        return hex == other.hex && swatch == other.swatch && info == other.info
            && pane == other.pane && raster == other.raster;
    }
};

void PrintTo(const Shown &s, std::ostream *out)
{
    *out << s.hex.toStdString() << " swatch " << std::hex << s.swatch << " pane " << s.pane.width()
         << "x" << s.pane.height();
}

Shown ResultsOf(Form1Fixture &fixture)
{
    Form1 &window = fixture.Window();
    return { fixture.HexText(), fixture.ShownSwatch(), fixture.InfoText(),
        window.Pane().IsPaneVisible() ? window.Pane().Raster().size() : QSize(),
        window.Pane().Raster() };
}

QByteArray Encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Sends a drag entering the window and, when it is taken, the drop; true when both were accepted.
bool Drop(Form1 &window, const QMimeData &mime)
{
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    return drop.isAccepted();
}

void PressPaste(Form1 &, QWidget *focus)
{
    focus->setFocus();
    QTest::keyClick(focus, Qt::Key_V, Qt::ControlModifier);
}

// A window that shows a picture opened with the open command, for comparisons and for the
// "everything kept" cases.
struct Opened
{
    Form1Fixture fixture;
    QString path;
    Shown results;

    explicit Opened(
        const QImage &picture = TwoColourPicture(40, 30, qRgb(255, 0, 0), qRgb(0, 0, 255)))
    {
        Form1 &window = fixture.Window();
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        path = fixture.SaveImage(picture, "first.png");
        fixture.filesToChoose = { path };
        window.OpenImage();
        results = ResultsOf(fixture);
    }
};

enum class Way { Drop, Paste, PasteIntoHexBox };

struct WayCase
{
    const char *name;
    Way way;
    // Fills the data from the picture's file and its encoded bytes.
    std::function<void(QMimeData &, const QString &path, const QImage &picture)> offer;
};

void Deliver(Form1Fixture &fixture, Way way, QMimeData *mime)
{
    Form1 &window = fixture.Window();
    if (way == Way::Drop) {
        QSignalSpy shown(&window, &Form1::PictureShown);
        const bool taken = Drop(window, *mime);
        delete mime;
        ASSERT_TRUE(taken);
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() == 1 || !fixture.errors.empty(); }));
        return;
    }
    QGuiApplication::clipboard()->setMimeData(mime);
    PressPaste(window, way == Way::Paste ? static_cast<QWidget *>(window.FileOpen) : window.Text1);
}

// The same picture through the open command and through each way in: the same pane, the same
// results. The picture has a transparent half, so composing over white is checked too.
TEST(WaysIn, ShowWhatTheOpenCommandShows)
{
    const QImage picture = TwoColourPicture(64, 32, qRgba(0, 0, 0, 0), qRgb(30, 160, 90));
    const auto file = [](QMimeData &mime, const QString &path, const QImage &) {
        mime.setUrls({ QUrl::fromLocalFile(path) });
    };
    const auto pngBytes = [](QMimeData &mime, const QString &, const QImage &image) {
        mime.setData("image/png", Encoded(image, "PNG"));
    };
    const WayCase cases[] = {
        { "file dropped from a file manager", Way::Drop, file },
        { "image bytes dropped from a browser, with its web address", Way::Drop,
            [](QMimeData &mime, const QString &, const QImage &image) {
                mime.setUrls({ QUrl("https://example.org/p.png") });
                mime.setData("image/png", Encoded(image, "PNG"));
            } },
        { "image bytes of a type the loader knows by content only", Way::Drop,
            [](QMimeData &mime, const QString &, const QImage &image) {
                mime.setData("image/x-unusual", Encoded(image, "PNG"));
            } },
        { "file copied in a file manager", Way::Paste, file },
        { "image bytes on the clipboard", Way::Paste, pngBytes },
        { "image bytes pasted while the hex box has the focus", Way::PasteIntoHexBox, pngBytes },
        { "a decoded image only", Way::Paste,
            [](QMimeData &mime, const QString &, const QImage &image) {
                mime.setImageData(image);
            } },
    };
    Opened reference(picture);
    ASSERT_EQ(reference.fixture.HexText(), "#8ECFAC") << "white and (30, 160, 90) halves";
    for (const WayCase &c : cases) {
        SCOPED_TRACE(c.name);
        Form1Fixture fixture;
        Form1 &window = fixture.Window();
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        auto *mime = new QMimeData;
        c.offer(*mime, reference.path, picture);
        Deliver(fixture, c.way, mime);
        EXPECT_TRUE(fixture.errors.empty());
        EXPECT_EQ(ResultsOf(fixture), reference.results);
        EXPECT_EQ(window.Text1->text(), "#8ECFAC") << "no text pasted into the box";
        EXPECT_FALSE(window.IsLoading());
        EXPECT_FALSE(window.Scanner().IsCalculating());
    }
}

// Anything but a loadable picture changes nothing: data without a picture is refused silently
// and starts no load; a picture that cannot be loaded gets the open command's message, naming the
// file or what the data came as.
TEST(WaysIn, AnythingButAPictureChangesNothing)
{
    const QByteArray cut("\x89PNG\r\n\x1a\n but cut short");
    const auto badFile = [cut](QMimeData &mime, const QString &folder) {
        QFile file(folder + "/bad.png");
        file.open(QIODevice::WriteOnly);
        file.write(cut);
        mime.setUrls({ QUrl::fromLocalFile(file.fileName()) });
    };
    const auto badBytes
        = [cut](QMimeData &mime, const QString &) { mime.setData("image/png", cut); };
    struct Case
    {
        const char *name;
        Way way;
        std::function<void(QMimeData &, const QString &folder)> offer;
        QString error; // "%1" stands for the folder; empty for none
    };
    const Case cases[] = {
        { "dropped text", Way::Drop, [](QMimeData &m, const QString &) { m.setText("#123456"); },
            {} },
        { "dropped web address only", Way::Drop,
            [](QMimeData &m, const QString &) { m.setUrls({ QUrl("https://example.org/p.png") }); },
            {} },
        { "text on the clipboard", Way::Paste,
            [](QMimeData &m, const QString &) { m.setText("hello"); }, {} },
        { "empty clipboard", Way::Paste, [](QMimeData &, const QString &) {}, {} },
        { "dropped file that is no picture", Way::Drop, badFile,
            "Error loading picture %1/bad.png" },
        { "dropped bytes that are no picture", Way::Drop, badBytes,
            "Error loading picture (dropped picture)" },
        { "copied file that is no picture", Way::Paste, badFile,
            "Error loading picture %1/bad.png" },
        { "clipboard bytes that are no picture", Way::Paste, badBytes,
            "Error loading picture (clipboard)" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Opened opened;
        Form1Fixture &fixture = opened.fixture;
        Form1 &window = fixture.Window();
        std::atomic<int> loads = 0;
        fixture.beforeLoad = [&](const platform::PictureInput &) { ++loads; };
        auto *mime = new QMimeData;
        c.offer(*mime, QFileInfo(opened.path).absolutePath());
        if (c.way == Way::Drop) {
            EXPECT_EQ(Drop(window, *mime), !c.error.isEmpty());
            delete mime;
        } else {
            QGuiApplication::clipboard()->setMimeData(mime);
            PressPaste(window, window.FileOpen);
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !fixture.errors.empty() || c.error.isEmpty(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(loads, c.error.isEmpty() ? 0 : 1);
        QString expectedError = c.error;
        if (expectedError.contains(QStringLiteral("%1")))
            expectedError = expectedError.arg(QFileInfo(opened.path).absolutePath());
        EXPECT_EQ(fixture.errors,
            c.error.isEmpty() ? std::vector<QString> {} : std::vector { expectedError });
        EXPECT_EQ(ResultsOf(fixture), opened.results);
        EXPECT_FALSE(window.IsLoading());
    }
}

// Holds a load on its worker thread until the test lets it go.
class Gate
{
public:
    void Wait()
    {
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait(lock, [this] { return open; });
    }
    void Open()
    {
        const std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
    [[nodiscard]] bool Reached()
    {
        const std::lock_guard lock(mutex);
        return waiting > 0;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    int waiting = 0;
};

// Opens every gate when a test leaves, also through a failed assertion, before the window joins
// its workers.
struct OpenAtExit
{
    std::vector<std::shared_ptr<Gate>> gates;
    ~OpenAtExit()
    {
        for (auto &gate : gates)
            gate->Open();
    }
};

// While a picture loads the window goes on: a busy pointer, timers, repaints, and a close that
// ends the program there and then.
TEST(WaysIn, WindowStaysLiveWhileAPictureLoads)
{
    Opened opened;
    Form1Fixture &fixture = opened.fixture;
    Form1 &window = fixture.Window();
    const QString next
        = fixture.SaveImage(TwoColourPicture(20, 10, qRgb(0, 255, 0), qRgb(0, 255, 0)), "next.png");
    auto gate = std::make_shared<Gate>();
    OpenAtExit release { { gate } };
    fixture.beforeLoad = [gate](const platform::PictureInput &) { gate->Wait(); };

    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } counter;
    window.LbInfo->installEventFilter(&counter);

    bool busy = false, repainted = false, closed = false;
    QTimer::singleShot(0, &window, [&] {
        EXPECT_TRUE(window.IsLoading());
        busy = window.cursor().shape() == Qt::BusyCursor;
        const int before = counter.paints;
        window.LbInfo->update();
        repainted = QTest::qWaitFor([&] { return counter.paints > before; });
        window.close();
        closed = fixture.endRequests == 1 && window.IsLoading();
        gate->Open();
    });
    window.OpenPath(next);

    EXPECT_TRUE(busy);
    EXPECT_TRUE(repainted);
    EXPECT_TRUE(closed) << "the close is handled while the load runs";
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(fixture.HexText(), "#00FF00");
}

// A newer picture during a load wins whichever load ends first; the older picture never shows.
TEST(WaysIn, NewerPictureDuringALoadWins)
{
    struct Case
    {
        const char *name;
        bool olderEndsFirst;
        bool newerLoads;
        const char *hex; // what the window shows at the end
        int errors;
    };
    const Case cases[] = {
        { "older ends first", true, true, "#00FF00", 0 },
        { "newer ends first", false, true, "#00FF00", 0 },
        { "newer cannot be loaded", false, false, "#7F007F", 1 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Opened opened;
        Form1Fixture &fixture = opened.fixture;
        Form1 &window = fixture.Window();
        ASSERT_EQ(fixture.HexText(), "#7F007F");
        const QString older = fixture.SaveImage(
            TwoColourPicture(30, 30, qRgb(255, 255, 0), qRgb(255, 255, 0)), "older.png");
        const QString newer = c.newerLoads
            ? fixture.SaveImage(
                TwoColourPicture(20, 10, qRgb(0, 255, 0), qRgb(0, 255, 0)), "newer.png")
            : QFileInfo(older).absolutePath() + "/missing.png";
        auto olderGate = std::make_shared<Gate>(), newerGate = std::make_shared<Gate>();
        OpenAtExit release { { olderGate, newerGate } };
        fixture.beforeLoad = [&](const platform::PictureInput &input) {
            (input.path == older ? olderGate : newerGate)->Wait();
        };

        QTimer::singleShot(0, &window, [&] {
            auto *mime = new QMimeData;
            mime->setUrls({ QUrl::fromLocalFile(newer) });
            QGuiApplication::clipboard()->setMimeData(mime);
            QTimer::singleShot(0, &window, [&] {
                EXPECT_TRUE(QTest::qWaitFor([&] { return newerGate->Reached(); }));
                if (c.olderEndsFirst) {
                    olderGate->Open();
                    EXPECT_TRUE(QTest::qWaitFor([&] { return window.LoadsRunning() == 1; }));
                    EXPECT_EQ(fixture.HexText(), "#7F007F") << "the older picture is dropped";
                }
                newerGate->Open();
            });
            window.PasteImage();
        });
        window.OpenPath(older);
        olderGate->Open();
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.LoadsRunning() == 0; }));
        QCoreApplication::processEvents();

        EXPECT_EQ(fixture.HexText(), c.hex);
        EXPECT_EQ(static_cast<int>(fixture.errors.size()), c.errors);
        EXPECT_FALSE(window.IsLoading());
        EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
    }
}

// The stop gesture while a picture loads: the pane and the results stay as they were, and the
// picture, once loaded, is analysed to its end as if there had been no stop.
TEST(WaysIn, StopDuringALoadKeepsEverythingAndLeavesTheNextScanWhole)
{
    Opened opened;
    Form1Fixture &fixture = opened.fixture;
    Form1 &window = fixture.Window();
    QImage big(1000, 1000, QImage::Format_RGB32);
    big.fill(qRgb(255, 255, 255));
    for (int x = 0; x < big.width(); ++x)
        big.setPixel(x, 0, qRgb(0, 0, 0));
    const QString next = fixture.SaveImage(big, "next.png");
    auto gate = std::make_shared<Gate>();
    OpenAtExit release { { gate } };
    fixture.beforeLoad = [gate](const platform::PictureInput &) { gate->Wait(); };

    bool keptDuringLoad = false;
    QTimer::singleShot(0, &window, [&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return gate->Reached(); }));
        QTest::mouseDClick(window.LbInfo, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
        keptDuringLoad = window.IsLoading() && ResultsOf(fixture) == opened.results
            && window.Pane().Raster().size() == QSize(40, 30)
            && window.Pane().Raster().pixel(0, 0) == qRgb(255, 0, 0);
        gate->Open();
    });
    window.OpenPath(next);

    EXPECT_TRUE(keptDuringLoad);
    // One black row of 1000: 255 * 999 / 1000 = 254.7, truncated; a stop would show black.
    EXPECT_EQ(fixture.HexText(), "#FEFEFE");
    EXPECT_EQ(window.Pane().Raster().size(), QSize(1000, 1000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.MainColours->Colours().empty(); }, 10000));
}

// A screen capture finished during a load is newer than the picture being loaded.
TEST(WaysIn, ScreenCaptureDuringALoadWins)
{
    Opened opened;
    Form1Fixture &fixture = opened.fixture;
    Form1 &window = fixture.Window();
    fixture.screen = QImage(QGuiApplication::primaryScreen()->size(), QImage::Format_RGB32);
    fixture.screen.fill(qRgb(10, 200, 30));
    const QString older = fixture.SaveImage(
        TwoColourPicture(30, 30, qRgb(255, 255, 0), qRgb(255, 255, 0)), "older.png");
    auto gate = std::make_shared<Gate>();
    OpenAtExit release { { gate } };
    fixture.beforeLoad = [gate](const platform::PictureInput &) { gate->Wait(); };

    QTimer::singleShot(0, &window, [&] {
        window.ScreenCap->click();
        QWidget *overlay = WaitForShownOverlay();
        ASSERT_NE(overlay, nullptr);
        QTest::mousePress(overlay, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QTest::mouseRelease(overlay, Qt::LeftButton, Qt::NoModifier, QPoint(15, 25));
        EXPECT_EQ(fixture.HexText(), "#0AC81E") << "the captured region's results";
        EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
        gate->Open();
    });
    window.OpenPath(older);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.LoadsRunning() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(fixture.HexText(), "#0AC81E") << "the older picture is dropped";
    EXPECT_EQ(window.Pane().Raster().size(), QSize(10, 20)) << "the dragged region's size";
}

// The real loader on a picture big enough to take a while: the event loop runs meanwhile.
TEST(WaysIn, BigPictureDecodesWhileTheEventLoopRuns)
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    QImage big(3000, 3000, QImage::Format_RGB32);
    big.fill(qRgb(10, 20, 30));
    // One flat colour: quick to write, while decoding 9 megapixels still takes many turns of the
    // event loop.
    const QString path = fixture.SaveImage(big, "big.png");
    ASSERT_FALSE(path.isEmpty());
    int turnsWhileLoading = 0;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] { turnsWhileLoading += window.IsLoading(); });
    turns.start(0);
    window.OpenPath(path);
    turns.stop();
    EXPECT_GE(turnsWhileLoading, 2);
    EXPECT_EQ(fixture.HexText(), "#0A141E");
}

TEST(CommandLine, PathIsTheFirstArgumentThatIsNoOption)
{
    struct Case
    {
        QStringList arguments;
        QString path;
    };
    const Case cases[] = {
        { { "quillmere" }, "" },
        { { "quillmere", "a.png" }, "a.png" },
        { { "quillmere", "--verbose", "/p/b c.png", "d.png" }, "/p/b c.png" },
        { { "quillmere", "--", "-dash.png" }, "-dash.png" },
        { { "quillmere", "-" }, "" },
        { { "quillmere", "图片.png" }, "图片.png" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        EXPECT_EQ(app::PathFromArguments(c.arguments), c.path);
    }
}

} // namespace
