// The capture command as a whole with the portal screen source, against the stand-in portal on a
// private bus: the overlay, the drag and the analysis, and the message when no picture comes.
#include "analysis/calc_color.h"
#include "capture/form2.h"
#include "capture/release_steps.h"
#include "capture/screen_capture.h"
#include "imaging/colour_text.h"
#include "platform/pic_box.h"
#include "platform/portal_screen_source.h"

#include "platform/tests/portal_test_support.h"

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

using platform::testing::PrivateBus;
using platform::testing::StandIn;
using platform::testing::TestPicture;

class PortalCapture : public testing::Test
{
public:
    void ScanStarted() { }
    void ScanProgress(std::int32_t, std::int32_t) { }
    void ScanFinished(const analysis::ColourSummary &summary)
    {
        infoText = imaging::InfoText(summary);
        hexText = imaging::HexText(summary);
    }

protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
        // What the window shows before the capture: an earlier picture and its result.
        QImage earlier(20, 10, QImage::Format_RGB32);
        earlier.fill(qRgb(0x12, 0x34, 0x56));
        pane.SetPicture(earlier);
        pane.SetSize(20, 10);
        pane.SetPaneVisible(true);
        infoText = "earlier info";
        hexText = "#123456";
    }

    bool StartStandIn(const QString &mode, const QString &file)
    {
        standIn = std::make_unique<StandIn>(bus, mode, file);
        return standIn->ready;
    }

    PrivateBus bus;
    QTemporaryDir files;
    std::unique_ptr<StandIn> standIn;
    std::chrono::milliseconds timeout = 5s;

    platform::PicBox pane;
    analysis::ColourScanner scanner;
    std::string infoText;
    std::string hexText;
    int analyses = 0;
    std::vector<QString> messages;
    std::vector<QString> messageDetails;
    capture::ScreenCapture capture { nullptr,
        [this] { return std::make_unique<platform::PortalScreenSource>(bus.bus, timeout); },
        [this](const QString &text, const QString &details) {
            messages.push_back(text);
            messageDetails.push_back(details);
        } };
    // The window's side: the pane filled from the block, then the analysis.
    QMetaObject::Connection handOver = QObject::connect(&capture,
        &capture::ScreenCapture::BlockCaptured, [this](const QImage &pixels, const QRect &block) {
            capture::ShowBlock(pane, pixels, block);
            ++analyses;
            scanner.CalcColor(
                pane, [] {}, *this);
        });
};

TEST_F(PortalCapture, FrozenCopyIsThePortalsPictureAndADragGivesItsAverage)
{
    const QImage picture = TestPicture(QGuiApplication::primaryScreen()->geometry().size());
    const QString path = files.filePath(QStringLiteral("screenshot.png"));
    ASSERT_TRUE(picture.save(path));
    ASSERT_TRUE(StartStandIn(QStringLiteral("picture"), path));

    capture.Run();
    ASSERT_TRUE(QTest::qWaitFor([this] { return capture.Overlay()->isVisible(); }, 10000));
    EXPECT_TRUE(capture.Overlay()->FrozenCopy() == picture);
    EXPECT_FALSE(QFile::exists(path));

    QTest::mousePress(capture.Overlay(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QTest::mouseMove(capture.Overlay(), QPoint(60, 40));
    QTest::mouseRelease(capture.Overlay(), Qt::LeftButton, Qt::NoModifier, QPoint(110, 60));

    ASSERT_EQ(analyses, 1);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(capture.Overlay()->isVisible());
    const QImage block = picture.copy(10, 10, 100, 50);
    EXPECT_TRUE(pane.Raster() == block);
    // The block's truncated channel means, worked out here from its pixels.
    std::uint64_t r = 0, g = 0, b = 0;
    for (int y = 0; y < block.height(); ++y)
        for (int x = 0; x < block.width(); ++x) {
            r += qRed(block.pixel(x, y));
            g += qGreen(block.pixel(x, y));
            b += qBlue(block.pixel(x, y));
        }
    char hex[8];
    std::snprintf(hex, sizeof hex, "#%02X%02X%02X", unsigned(r / 5000), unsigned(g / 5000),
        unsigned(b / 5000));
    EXPECT_EQ(hexText, hex);
}

struct NoPictureCase
{
    const char *name;
    const char *mode; // of the stand-in; null for no portal at all
    const char *details; // the reason behind the message
};

void PrintTo(const NoPictureCase &c, std::ostream *out) { *out << c.name; }

// However no picture comes, the user sees the message and the window stays as it was: no overlay,
// no analysis, the pane and the results untouched.
class PortalCaptureWithoutPicture : public PortalCapture,
                                    public testing::WithParamInterface<NoPictureCase>
{
};

TEST_P(PortalCaptureWithoutPicture, ShowsTheMessageAndLeavesTheWindowAsItWas)
{
    const QString path = files.filePath(QStringLiteral("screenshot.png"));
    ASSERT_TRUE(TestPicture(QSize(64, 64)).save(path));
    if (GetParam().mode) {
        ASSERT_TRUE(StartStandIn(QString::fromLatin1(GetParam().mode), path));
    }
    timeout = 300ms;
    const QImage raster = pane.Raster();

    capture.Run();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !messages.empty(); }, 10000));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages.front(), QStringLiteral("无法读取屏幕内容"));
    ASSERT_EQ(messageDetails.size(), 1u);
    EXPECT_EQ(messageDetails.front(), QString::fromUtf8(GetParam().details));
    EXPECT_FALSE(capture.Overlay()->isVisible());
    EXPECT_FALSE(capture.Overlay()->Timer1().isActive());
    EXPECT_EQ(analyses, 0);
    EXPECT_TRUE(pane.IsPaneVisible());
    EXPECT_EQ(pane.Width(), 20);
    EXPECT_EQ(pane.Height(), 10);
    EXPECT_TRUE(pane.Raster() == raster);
    EXPECT_EQ(hexText, "#123456");
    EXPECT_EQ(infoText, "earlier info");
}

INSTANTIATE_TEST_SUITE_P(Answers, PortalCaptureWithoutPicture,
    testing::Values(NoPictureCase { "refused", "refuse", "桌面门户拒绝了截图" },
        NoPictureCase { "error", "error", "桌面门户拒绝了截图" },
        NoPictureCase { "no_uri", "no-uri", "桌面门户的回答无法使用" },
        NoPictureCase { "bad_signature", "bad-signature", "桌面门户的回答无法使用" },
        NoPictureCase { "no_answer", "silent", "桌面门户没有及时回答" },
        NoPictureCase { "no_portal", nullptr, "没有可以截取屏幕的桌面门户" }),
    [](const testing::TestParamInfo<NoPictureCase> &info) { return info.param.name; });

} // namespace
