// quillmere-avg end to end: the real executable on files made here, its output and exit status.
#include "imaging/tests/fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

using fixtures::PngVariant;

struct Outcome
{
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll().toStdString();
}

class AvgTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString Write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        fixtures::WriteFile(path, bytes);
        return path;
    }

    // Runs quillmere-avg with the given arguments from inside the temporary folder, so relative
    // paths are printed as given. With a memory limit (KiB), runs it under "ulimit -v".
    Outcome Avg(const std::vector<std::string> &arguments, long memoryLimitKiB = 0)
    {
        std::vector<std::string> command;
        if (memoryLimitKiB > 0)
            command = { "/bin/sh", "-c",
                "ulimit -v " + std::to_string(memoryLimitKiB) + " && exec \"$0\" \"$@\"" };
        command.emplace_back(QUILLMERE_AVG_PATH);
        command.insert(command.end(), arguments.begin(), arguments.end());

        const QString outPath = dir.filePath(".stdout"), errPath = dir.filePath(".stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, QFile::encodeName(dir.path()).constData());
        const QByteArray out = QFile::encodeName(outPath), err = QFile::encodeName(errPath);
        posix_spawn_file_actions_addopen(
            &actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(
            &actions, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<char *> argv;
        for (std::string &argument : command)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        Outcome run;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(spawned, 0) << "could not start " << argv[0];
        if (spawned != 0)
            return run;
        int status = 0;
        waitpid(pid, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.out = ReadAll(outPath);
        run.err = ReadAll(errPath);
        return run;
    }

    QTemporaryDir dir;
};

QByteArray Png(const QImage &picture, PngVariant variant = PngVariant::Rgba8)
{
    return fixtures::EncodePng(picture, variant);
}

QImage Pixels(int width, int height, const std::vector<QRgb> &pixels)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int i = 0; i < width * height; ++i)
        image.setPixel(i % width, i / width, pixels[static_cast<std::size_t>(i)]);
    return image;
}

TEST_F(AvgTest, PrintsOneLinePerFileInOrderWithAveragesWorkedOutByHand)
{
    Write("red-blue.png", Png(Pixels(2, 1, { qRgb(255, 0, 0), qRgb(0, 0, 255) })));
    Write("black-white.bmp",
        fixtures::EncodeWithQt(Pixels(2, 1, { qRgb(0, 0, 0), qRgb(255, 255, 255) })
                                   .convertToFormat(QImage::Format_RGB32),
            "bmp"));
    Write("one.gif",
        fixtures::EncodeGif({ qRgb(1, 2, 3) },
            { fixtures::GifFrame { 3, 3, std::vector<std::uint8_t>(9, 0), -1 } }));
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub folder"));
    Write("sub folder/彩色图片.png", Png(Pixels(1, 1, { qRgb(255, 255, 255) })));

    const Outcome run
        = Avg({ "red-blue.png", "black-white.bmp", "one.gif", "sub folder/彩色图片.png" });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    // Means truncate: (255 + 0) / 2 = 127. HSL values as the info text shows them.
    EXPECT_EQ(run.out,
        "#7F007F R:127 G:0 B:127 H:300 S:100 L:50  red-blue.png\n"
        "#7F7F7F R:127 G:127 B:127 H:0 S:0 L:50  black-white.bmp\n"
        "#010203 R:1 G:2 B:3 H:210 S:67 L:1  one.gif\n"
        "#FFFFFF R:255 G:255 B:255 H:0 S:0 L:100  sub folder/彩色图片.png\n");
}

// Linux allows any bytes but '/' and NUL in a name; such names reach the file system and the
// output as the shell passed them.
TEST_F(AvgTest, NamesThatAreNotUtf8AreOpenedAndPrintedByteForByte)
{
    const std::string names[] = { "caf\xe9.png", "\xff\xfe half \x80.png" };
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        const QByteArray png = Png(Pixels(1, 1, { qRgb(10, 20, 30) }));
        const std::string path = QFile::encodeName(dir.path()).toStdString() + "/" + name;
        std::FILE *file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(png.constData(), 1, static_cast<std::size_t>(png.size()), file);
        std::fclose(file);
        const Outcome run = Avg({ name, name + ".missing" });
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "#0A141E R:10 G:20 B:30 H:210 S:67 L:12  " + name + "\n");
        EXPECT_EQ(run.err, "Error loading picture " + name + ".missing\n");
    }
}

// The window shows the same line's values for the same picture (its open-command test).
TEST_F(AvgTest, PictureWiderThanSixtyFiveThousandPixelsIsReadInFull)
{
    Write("wide.png",
        Png(fixtures::Bands(100000, 40, 50000, { qRgb(10, 100, 200), qRgb(50, 60, 70) }),
            PngVariant::Rgb8));
    const Outcome run = Avg({ "wide.png" });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "#1E5087 R:30 G:80 B:135 H:211 S:78 L:53  wide.png\n");
}

TEST_F(AvgTest, TransparencyTakesTheBackgroundColour)
{
    // One transparent pixel and one opaque black: (0x33 + 0) / 2 = 25, (0x66 + 0) / 2 = 51,
    // (0x99 + 0) / 2 = 76 over #336699; over the default white, 127 each. For (25, 51, 76):
    // H = 240 + 60 * (25 - 51) / (76 - 25) = 209.4, S = 51 / 76 = 67%, L = 76 / 255 = 30%.
    Write("half.png", Png(Pixels(2, 1, { qRgba(255, 0, 0, 0), qRgb(0, 0, 0) })));
    const struct
    {
        std::vector<std::string> arguments;
        const char *line;
    } cases[] = {
        { { "half.png" }, "#7F7F7F R:127 G:127 B:127 H:0 S:0 L:50  half.png\n" },
        { { "--background", "#336699", "half.png" },
            "#19334C R:25 G:51 B:76 H:209 S:67 L:30  half.png\n" },
        { { "--background=#336699", "half.png" },
            "#19334C R:25 G:51 B:76 H:209 S:67 L:30  half.png\n" },
        { { "half.png", "--background", "#ff0000" },
            "#7F0000 R:127 G:0 B:0 H:0 S:100 L:50  half.png\n" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.front());
        const Outcome run = Avg(c.arguments);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, c.line);
    }
}

TEST_F(AvgTest, AFileThatFailsIsReportedAndTheOthersGoOn)
{
    Write("good.png", Png(Pixels(1, 1, { qRgb(10, 20, 30) })));
    Write("notes.png", "plain text\n");
    const Outcome run = Avg({ "missing.png", "good.png", "notes.png", "good.png" });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
        "#0A141E R:10 G:20 B:30 H:210 S:67 L:12  good.png\n"
        "#0A141E R:10 G:20 B:30 H:210 S:67 L:12  good.png\n");
    EXPECT_EQ(run.err, "Error loading picture missing.png\nError loading picture notes.png\n");
}

TEST_F(AvgTest, PictureTooBigForTheMemoryLeftIsALoadErrorNotACrash)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
    // Headers claiming 512 MB and 400 MB of raster; the process may map only 250 MB in all.
    Write("wide.png", fixtures::PngClaimingSize(16000, 8000));
    QImage one(16, 16, QImage::Format_RGB32);
    one.fill(qRgb(10, 20, 30));
    QByteArray jpeg = fixtures::EncodeJpeg(one, fixtures::JpegVariant::Baseline444);
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    jpeg.replace(sof + 5, 4, QByteArray("\x27\x10\x27\x10", 4)); // 10000 x 10000
    Write("tall.jpg", jpeg);
    Write("small.png", Png(Pixels(1, 1, { qRgb(10, 20, 30) })));
    const Outcome run = Avg({ "wide.png", "tall.jpg", "small.png" }, 250'000);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "#0A141E R:10 G:20 B:30 H:210 S:67 L:12  small.png\n");
    EXPECT_EQ(run.err, "Error loading picture wide.png\nError loading picture tall.jpg\n");
#endif
}

TEST_F(AvgTest, UsageErrorsExitWithTwoAndOneUsageLine)
{
    Write("good.png", Png(Pixels(1, 1, { qRgb(10, 20, 30) })));
    const std::vector<std::string> cases[] = {
        {},
        { "--frobnicate", "good.png" },
        { "--background", "red", "good.png" },
        { "--background", "#12345", "good.png" },
        { "--background", "#12345G", "good.png" },
        { "good.png", "--background" },
        { "--background", "#123456" },
    };
    for (const auto &arguments : cases) {
        SCOPED_TRACE(arguments.empty() ? "no arguments" : arguments.front());
        const Outcome run = Avg(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(
                      "usage: quillmere-avg [--background #RRGGBB] [--json] [-j N] [-r] FILE..."),
            std::string::npos)
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST_F(AvgTest, HelpAndVersion)
{
    const Outcome help = Avg({ "--help" });
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(
                  "usage: quillmere-avg [--background #RRGGBB] [--json] [-j N] [-r] FILE...\n", 0),
        0u);
    const Outcome version = Avg({ "--version" });
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillmere-avg 1.00.0009\n");
}

TEST_F(AvgTest, DoubleDashEndsTheOptions)
{
    Write("--background", Png(Pixels(1, 1, { qRgb(0, 0, 0) })));
    const Outcome run = Avg({ "--", "--background" });
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "#000000 R:0 G:0 B:0 H:0 S:0 L:0  --background\n");
}

TEST_F(AvgTest, JpegAverageIsCloseToTheEncodedColour)
{
    QImage flat(64, 48, QImage::Format_RGB32);
    flat.fill(qRgb(200, 100, 50));
    Write("flat.jpg", fixtures::EncodeJpeg(flat, fixtures::JpegVariant::Baseline420));
    const Outcome run = Avg({ "flat.jpg" });
    ASSERT_EQ(run.status, 0);
    int r = -1, g = -1, b = -1;
    ASSERT_EQ(std::sscanf(run.out.c_str(), "#%*6c R:%d G:%d B:%d", &r, &g, &b), 3) << run.out;
    EXPECT_NEAR(r, 200, 2);
    EXPECT_NEAR(g, 100, 2);
    EXPECT_NEAR(b, 50, 2);
}

} // namespace
