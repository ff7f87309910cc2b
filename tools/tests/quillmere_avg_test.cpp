// quillmere-avg end to end: the real executable on files made here, its output and exit status.
#include "imaging/tests/fixtures.h"
#include "imaging/tests/format_tools.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using fixtures::PngVariant;

// The program under test: QUILLMERE_AVG when set (a wrapper that runs the Windows build under
// Wine, say), otherwise the one built beside the tests.
std::string AvgProgram()
{
    const char *chosen = std::getenv("QUILLMERE_AVG");
    return chosen && *chosen ? chosen : QUILLMERE_AVG_PATH;
}

// Set by the Windows stage of CI, which runs these tests against quillmere-avg.exe under Wine.
bool UnderWine() { return std::getenv("QUILLMERE_AVG_UNDER_WINE") != nullptr; }

#define SKIP_UNDER_WINE(reason)                                                                    \
    if (UnderWine())                                                                               \
    GTEST_SKIP() << "not under Wine: " << (reason)

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
    // Qt cannot remove names that are not valid in its file name encoding; the byte-wise walk can.
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(QFile::encodeName(dir.path()).toStdString(), ignored);
    }

    QString Write(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir.filePath(name);
        fixtures::WriteFile(path, bytes);
        return path;
    }

    // Runs quillmere-avg with the given arguments from inside the temporary folder, so relative
    // paths are printed as given. With a memory limit (KiB), runs it under "ulimit -v". Standard
    // input is the file named input (a path inside the folder), or empty.
    Outcome Avg(
        const std::vector<std::string> &arguments, long memoryLimitKiB = 0, QString input = {})
    {
        std::vector<std::string> command;
        if (memoryLimitKiB > 0)
            command = { "/bin/sh", "-c",
                "ulimit -v " + std::to_string(memoryLimitKiB) + " && exec \"$0\" \"$@\"" };
        command.emplace_back(AvgProgram());
        command.insert(command.end(), arguments.begin(), arguments.end());

        const QString outPath = dir.filePath(".stdout"), errPath = dir.filePath(".stderr");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, QFile::encodeName(dir.path()).constData());
        const QByteArray out = QFile::encodeName(outPath), err = QFile::encodeName(errPath);
        const QByteArray in
            = input.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(dir.filePath(input));
        posix_spawn_file_actions_addopen(&actions, 0, in.constData(), O_RDONLY, 0);
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

    // Runs quillmere-avg with standard error on a terminal of its own; returns what the terminal
    // showed (its line discipline turns "\n" into "\r\n").
    std::string AvgOnTerminal(const std::vector<std::string> &arguments)
    {
        int master = -1, slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return {};
        }
        std::vector<std::string> command { AvgProgram() };
        command.insert(command.end(), arguments.begin(), arguments.end());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addchdir_np(&actions, QFile::encodeName(dir.path()).constData());
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, slave, 2);
        posix_spawn_file_actions_addclose(&actions, master);
        std::vector<char *> argv;
        for (std::string &argument : command)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(slave);
        std::string shown;
        char buffer[4096];
        // Read until the terminal closes (EIO once the program has gone), so it never blocks on
        // a full terminal.
        for (ssize_t n; spawned == 0 && (n = ::read(master, buffer, sizeof buffer)) > 0;)
            shown.append(buffer, static_cast<std::size_t>(n));
        int status = 0;
        if (spawned == 0)
            waitpid(pid, &status, 0);
        ::close(master);
        return shown;
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
    SKIP_UNDER_WINE("Wine gives Windows programs no name for Linux names that are not UTF-8");
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
        EXPECT_EQ(run.err, "Error loading picture " + name + ".missing: no such file\n");
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
    // An icon whose picture is a PNG with damaged image data: the decoders' own complaints
    // must not reach stderr, only the program's line.
    QByteArray png = Png(Pixels(2, 2, { qRgb(1, 2, 3), 0, 0, 0 }));
    png[png.indexOf("IDAT") + 6] = static_cast<char>(png[png.indexOf("IDAT") + 6] ^ 0x55);
    QByteArray ico("\0\0\1\0\1\0\2\2\0\0\1\0\x20\0", 14);
    for (const std::uint32_t value : { static_cast<std::uint32_t>(png.size()), 22u })
        for (int shift = 0; shift < 32; shift += 8)
            ico.append(static_cast<char>((value >> shift) & 0xFF));
    Write("damaged.ico", ico + png);
    const Outcome run = Avg({ "missing.png", "good.png", "notes.png", "damaged.ico", "good.png" });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
        "#0A141E R:10 G:20 B:30 H:210 S:67 L:12  good.png\n"
        "#0A141E R:10 G:20 B:30 H:210 S:67 L:12  good.png\n");
    EXPECT_EQ(run.err,
        "Error loading picture missing.png: no such file\n"
        "Error loading picture notes.png: not a picture format Quillmere reads\n"
        "Error loading picture damaged.ico: damaged data\n");
}

TEST_F(AvgTest, PictureTooBigForTheMemoryLeftIsALoadErrorNotACrash)
{
    SKIP_UNDER_WINE("Wine itself cannot start under an address-space limit");
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
    // The PNG streams, so no raster is needed and its missing rows are what fails.
    EXPECT_EQ(run.err,
        "Error loading picture wide.png: cut short\nError loading picture tall.jpg: damaged "
        "data\n");
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
        { "-j", "0", "good.png" },
        { "-j", "many", "good.png" },
        { "--jobs=2000", "good.png" },
        { "good.png", "-j" },
        { "-j2x", "good.png" },
    };
    for (const auto &arguments : cases) {
        SCOPED_TRACE(arguments.empty() ? "no arguments" : arguments.front());
        const Outcome run = Avg(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(
                      "usage: quillmere-avg [--background #RRGGBB] [--json [--colours N] | "
                      "--format FORMS]"
                      " [--region X,Y,W,H | --grid CxR | --edges N] [-j N] [-r] [--raw] FILE..."),
            std::string::npos)
            << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
}

TEST_F(AvgTest, HelpAndVersion)
{
    const Outcome help = Avg({ "--help" });
    EXPECT_EQ(help.status, 0) << help.err;
    EXPECT_EQ(
        help.out.rfind(
            "usage: quillmere-avg [--background #RRGGBB] [--json [--colours N] | --format FORMS]"
            " [--region X,Y,W,H | --grid CxR | --edges N] [-j N] [-r] [--raw] FILE...\n",
            0),
        0u);
    const Outcome version = Avg({ "--version" });
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_EQ(version.out, "quillmere-avg 1.00.0009\n") << version.err;
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

struct NewFormatFile
{
    const char *name;
    const char *program; // empty for libtiff
    std::function<QByteArray(const QImage &)> encode;
    int tolerance; // lossy codecs move a flat colour a little
    const char *reason; // of the file cut in half
    bool inWindowsBuild; // its library is cross-built for the Windows formats module
};

QByteArray ViaProgram(
    const QImage &picture, const char *program, const QStringList &arguments, const char *suffix)
{
    return fixtures::EncodeWithProgram(
        { picture }, QString::fromUtf8(program), arguments, QString::fromUtf8(suffix));
}

// A flat colour in every new format, read by the real executable: the printed mean, and for the
// same file cut short, the load error as the only line on stderr. The decoders' libraries print
// their own complaints unless they are stopped. The Windows build's module (beside the .exe)
// reads WebP and TIFF; its other formats are each refused with the same plain reason.
TEST_F(AvgTest, NewFormatsGiveTheirMeanAndCutOnesOnlyTheLoadError)
{
    const bool windowsBuild = UnderWine();
    const NewFormatFile files[] = {
        { "flat.webp", "cwebp",
            [](const QImage &p) {
                return ViaProgram(
                    p, "cwebp", { "-quiet", "-q", "90", "{in}", "-o", "{out}" }, ".webp");
            },
            3, "cut short", true },
        { "flat.tif", "",
            [](const QImage &p) { return fixtures::EncodeTiff(p, fixtures::TiffVariant::Rgb8); }, 0,
            "cut short", true },
        { "flat.heic", "heif-enc",
            [](const QImage &p) {
                return ViaProgram(p, "heif-enc", { "-q", "90", "{in}", "-o", "{out}" }, ".heic");
            },
            3, "cut short", false },
        { "flat.avif", "avifenc",
            [](const QImage &p) {
                return ViaProgram(p, "avifenc", { "-l", "{in}", "{out}" }, ".avif");
            },
            0, "cut short", false },
        { "flat.jxl", "cjxl",
            [](const QImage &p) {
                return ViaProgram(p, "cjxl", { "--quiet", "-d", "1", "{in}", "{out}" }, ".jxl");
            },
            3, "cut short", false },
    };
    QImage flat(64, 48, QImage::Format_ARGB32);
    flat.fill(qRgb(200, 100, 50));
    for (const NewFormatFile &file : files) {
        SCOPED_TRACE(file.name);
        if (*file.program && !fixtures::HasProgram(QString::fromUtf8(file.program))) {
            ADD_FAILURE() << file.program << " is not installed (scripts/deps.sh installs it)";
            continue;
        }
        const QByteArray bytes = file.encode(flat);
        ASSERT_FALSE(bytes.isEmpty());
        const std::string cut = std::string("cut-") + file.name;
        Write(QString::fromUtf8(file.name), bytes);
        Write(QString::fromStdString(cut), bytes.left(bytes.size() / 2));
        const Outcome run = Avg({ file.name, cut });
        EXPECT_EQ(run.status, 1);
        if (windowsBuild && !file.inWindowsBuild) {
            const std::string refused = ": format not supported in this build\n";
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err,
                "Error loading picture " + std::string(file.name) + refused
                    + "Error loading picture " + cut + refused);
            continue;
        }
        EXPECT_EQ(run.err, "Error loading picture " + cut + ": " + file.reason + "\n");
        int r = -1, g = -1, b = -1;
        ASSERT_EQ(std::sscanf(run.out.c_str(), "#%*6c R:%d G:%d B:%d", &r, &g, &b), 3) << run.out;
        EXPECT_NEAR(r, 200, file.tolerance);
        EXPECT_NEAR(g, 100, file.tolerance);
        EXPECT_NEAR(b, 50, file.tolerance);
    }
    // A JPEG XL signature and then rubbish: libjxl has something to say about every field.
    QByteArray rubbish("\xFF\x0A", 2);
    for (int i = 0; i < 300; ++i)
        rubbish.append(static_cast<char>((i * 73 + 41) % 251));
    Write("rubbish.jxl", rubbish);
    const Outcome run = Avg({ "rubbish.jxl" });
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
        std::string("Error loading picture rubbish.jxl: ")
            + (windowsBuild ? "format not supported in this build\n" : "cut short\n"));
}

// The Windows build takes its module from its own folder alone: a DLL of that name in the working
// folder or on the search path is never loaded, as a picture's folder could plant one there.
TEST_F(AvgTest, TheWindowsModuleIsTakenFromTheProgramsFolderOnly)
{
    if (!UnderWine())
        GTEST_SKIP() << "the Windows build's own search; formats_module_missing_tests has Linux's";
    const char *exe = std::getenv("QUILLMERE_AVG_EXE");
    ASSERT_NE(exe, nullptr);
    const std::filesystem::path program(exe), folder(QFile::encodeName(dir.path()).toStdString());
    const std::filesystem::path module = program.parent_path() / "quillmere-formats.dll";
    std::filesystem::create_directory(folder / "alone");
    std::filesystem::create_directory(folder / "on-path");
    std::filesystem::copy_file(program, folder / "alone" / "quillmere-avg.exe");
    std::filesystem::copy_file(module, folder / "quillmere-formats.dll");
    std::filesystem::copy_file(module, folder / "on-path" / "quillmere-formats.dll");
    QImage flat(4, 4, QImage::Format_ARGB32);
    flat.fill(qRgb(200, 100, 50));
    Write("flat.tif", fixtures::EncodeTiff(flat, fixtures::TiffVariant::Rgb8));

    const std::string alone = (folder / "alone" / "quillmere-avg.exe").string();
    std::string onPath = "Z:" + (folder / "on-path").string();
    std::replace(onPath.begin(), onPath.end(), '/', '\\');
    ::setenv("QUILLMERE_AVG_EXE", alone.c_str(), 1);
    ::setenv("WINEPATH", onPath.c_str(), 1);
    const Outcome without = Avg({ "flat.tif" });
    std::filesystem::copy_file(module, folder / "alone" / "quillmere-formats.dll");
    const Outcome beside = Avg({ "flat.tif" });
    ::setenv("QUILLMERE_AVG_EXE", exe, 1);
    ::unsetenv("WINEPATH");

    EXPECT_EQ(without.status, 1);
    EXPECT_EQ(without.err,
        "quillmere: the decoders of WebP and TIFF are not available: quillmere-formats.dll is not "
        "beside the program\nError loading picture flat.tif: formats module missing\n");
    EXPECT_EQ(beside.err, "");
    EXPECT_EQ(beside.out.rfind("#C86432 R:200 G:100 B:50 ", 0), 0u) << beside.out;
}

// ---- JSON figures against sums worked out here ----

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

QJsonObject ParseObject(const std::string &line)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_TRUE(document.isObject()) << line;
    return document.object();
}

double DecodeSrgbHere(int code)
{
    const double c = code / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

int EncodeSrgbHere(double linear)
{
    const double c
        = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return static_cast<int>(std::lround(c * 255));
}

struct JsonCase
{
    const char *name;
    QImage picture; // non-premultiplied ARGB, written as an 8-bit RGBA PNG
    QRgb background;
};

// A reproducible jumble of colours and alphas (0, 255 and values between).
QImage Jumble(int width, int height, bool alpha)
{
    QImage image(width, height, QImage::Format_ARGB32);
    std::uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int a = !alpha ? 255 : (x % 5 == 0 ? 0 : (x % 5 == 1 ? 255 : (state >> 24)));
            image.setPixel(x, y, qRgba((state >> 8) & 0xFF, (state >> 16) & 0xFF, state & 0xFF, a));
        }
    }
    return image;
}

class JsonFiguresTest : public AvgTest, public testing::WithParamInterface<JsonCase>
{
};

TEST_P(JsonFiguresTest, MatchSumsWorkedOutHere)
{
    const JsonCase &c = GetParam();
    Write("picture.png", Png(c.picture));
    char background[16];
    std::snprintf(background, sizeof background, "#%02X%02X%02X", qRed(c.background),
        qGreen(c.background), qBlue(c.background));

    // Every pixel composed over the background as the loader's contract says: rounded to nearest.
    std::uint64_t sum[3] = {}, count = 0;
    long double squares[3] = {};
    double linear[3] = {};
    int low[3] = { 255, 255, 255 }, high[3] = {};
    std::vector<int> values[3];
    for (int y = 0; y < c.picture.height(); ++y) {
        for (int x = 0; x < c.picture.width(); ++x) {
            const QRgb p = c.picture.pixel(x, y);
            const int a = qAlpha(p);
            const int in[3] = { qRed(p), qGreen(p), qBlue(p) };
            const int bg[3] = { qRed(c.background), qGreen(c.background), qBlue(c.background) };
            for (int k = 0; k < 3; ++k) {
                const int v
                    = static_cast<int>(std::lround((in[k] * a + bg[k] * (255 - a)) / 255.0));
                sum[k] += static_cast<std::uint64_t>(v);
                values[k].push_back(v);
                linear[k] += DecodeSrgbHere(v);
                low[k] = std::min(low[k], v);
                high[k] = std::max(high[k], v);
            }
            ++count;
        }
    }
    const int mean[3] = { static_cast<int>(sum[0] / count), static_cast<int>(sum[1] / count),
        static_cast<int>(sum[2] / count) };
    for (int k = 0; k < 3; ++k) {
        const long double m = static_cast<long double>(sum[k]) / count;
        for (const int v : values[k])
            squares[k] += (v - m) * (v - m);
    }

    const Outcome json = Avg({ "--json", "--background", background, "picture.png" });
    const Outcome text = Avg({ "--background", background, "picture.png" });
    ASSERT_EQ(json.status, 0) << json.err;
    ASSERT_EQ(Lines(json.out).size(), 1u) << json.out;
    const QJsonObject o = ParseObject(Lines(json.out)[0]);
    EXPECT_EQ(o["path"].toString(), "picture.png");
    EXPECT_EQ(o["width"].toInt(), c.picture.width());
    EXPECT_EQ(o["height"].toInt(), c.picture.height());
    EXPECT_EQ(o["pixels"].toInteger(), static_cast<qint64>(count));

    const char *channel[3] = { "r", "g", "b" };
    const QJsonObject m = o["mean"].toObject(), lm = o["linear_mean"].toObject();
    char hex[16];
    std::snprintf(hex, sizeof hex, "#%02X%02X%02X", mean[0], mean[1], mean[2]);
    EXPECT_EQ(m["hex"].toString().toStdString(), hex);
    int linearMean[3];
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(channel[k]);
        linearMean[k] = EncodeSrgbHere(linear[k] / static_cast<double>(count));
        EXPECT_EQ(m[channel[k]].toInt(), mean[k]);
        EXPECT_EQ(lm[channel[k]].toInt(), linearMean[k]);
        EXPECT_NEAR(o["stddev"].toObject()[channel[k]].toDouble(),
            static_cast<double>(std::sqrt(squares[k] / count)), 6e-5);
        EXPECT_EQ(o["min"].toObject()[channel[k]].toInt(), low[k]);
        EXPECT_EQ(o["max"].toObject()[channel[k]].toInt(), high[k]);
    }
    std::snprintf(hex, sizeof hex, "#%02X%02X%02X", linearMean[0], linearMean[1], linearMean[2]);
    EXPECT_EQ(lm["hex"].toString().toStdString(), hex);

    // H, S and L as the text line (and so the window) shows them.
    int h = -1, s = -1, l = -1;
    ASSERT_EQ(
        std::sscanf(text.out.c_str(), "#%*6c R:%*d G:%*d B:%*d H:%d S:%d L:%d", &h, &s, &l), 3)
        << text.out;
    EXPECT_EQ(m["h"].toInt(), h);
    EXPECT_EQ(m["s"].toInt(), s);
    EXPECT_EQ(m["l"].toInt(), l);
}

INSTANTIATE_TEST_SUITE_P(Avg, JsonFiguresTest,
    testing::Values(JsonCase { "OnePixel", Jumble(1, 1, false), qRgb(255, 255, 255) },
        JsonCase { "OpaqueJumble", Jumble(41, 29, false), qRgb(255, 255, 255) },
        JsonCase { "TranslucentOverSlate", Jumble(23, 17, true), qRgb(0x33, 0x66, 0x99) },
        // Taller than the 16 rows a JPEG hands over at once, wider than a cache line of pixels.
        JsonCase { "TallTranslucentOverBlack", Jumble(301, 70, true), qRgb(0, 0, 0) }),
    [](const auto &info) { return std::string(info.param.name); });

// ---- several files at once ----

TEST_F(AvgTest, JobsKeepTheArgumentOrderAndTheExitStatus)
{
    // Big and tiny pictures mixed with missing and damaged files, so that workers finish out of
    // order.
    std::vector<std::string> files;
    std::vector<std::string> expectedOut, expectedErr;
    for (int i = 0; i < 14; ++i) {
        const std::string name = std::string(1, 'f').append(std::to_string(i)).append(".png");
        files.push_back(name);
        if (i % 4 == 1) {
            expectedErr.push_back("Error loading picture " + name + ": no such file");
            continue;
        }
        if (i % 4 == 3) {
            Write(QString::fromStdString(name),
                Png(Pixels(1, 1, { qRgb(1, 1, 1) })).left(40)); // cut inside the header
            expectedErr.push_back("Error loading picture " + name + ": cut short");
            continue;
        }
        const QRgb colour = qRgb(i * 17, 255 - i * 11, i * 5);
        const int side = i % 3 == 0 ? 900 : 1;
        Write(QString::fromStdString(name),
            Png(fixtures::Bands(side, side, side, { colour }), PngVariant::Rgb8));
        char hex[16];
        std::snprintf(
            hex, sizeof hex, "#%02X%02X%02X", qRed(colour), qGreen(colour), qBlue(colour));
        expectedOut.push_back(std::string(hex) + " ... " + name);
    }
    const auto check = [&](const Outcome &run) {
        EXPECT_EQ(run.status, 1);
        const std::vector<std::string> out = Lines(run.out), err = Lines(run.err);
        ASSERT_EQ(out.size(), expectedOut.size()) << run.out;
        for (std::size_t i = 0; i < out.size(); ++i) {
            const std::string &want = expectedOut[i];
            EXPECT_EQ(out[i].substr(0, 7), want.substr(0, 7)) << out[i];
            const std::string name = want.substr(want.rfind(' ') + 1);
            EXPECT_TRUE(out[i].ends_with("  " + name)) << out[i] << " should be " << name;
        }
        EXPECT_EQ(err, expectedErr);
    };
    const Outcome one = Avg([&] {
        std::vector<std::string> arguments { "-j", "1" };
        arguments.insert(arguments.end(), files.begin(), files.end());
        return arguments;
    }());
    check(one);
    const std::vector<std::string> jobs[] = { { "-j", "2" }, { "-j3" }, { "--jobs=8" }, {} };
    for (const auto &option : jobs) {
        SCOPED_TRACE(option.empty() ? "default" : option.back());
        std::vector<std::string> arguments = option;
        arguments.insert(arguments.end(), files.begin(), files.end());
        const Outcome run = Avg(arguments);
        check(run);
        EXPECT_EQ(run.out, one.out);
    }

    // In JSON the failures are objects of their own, in the same order.
    std::vector<std::string> arguments { "--json", "-j", "4" };
    arguments.insert(arguments.end(), files.begin(), files.end());
    const Outcome json = Avg(arguments);
    EXPECT_EQ(json.status, 1);
    EXPECT_EQ(json.err, "");
    const std::vector<std::string> lines = Lines(json.out);
    ASSERT_EQ(lines.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const QJsonObject o = ParseObject(lines[i]);
        EXPECT_EQ(o["path"].toString().toStdString(), files[i]);
        EXPECT_EQ(o.contains("error"), i % 4 == 1 || i % 4 == 3) << lines[i];
    }

    // Only pictures that load: 0.
    const Outcome good = Avg({ "-j", "3", "f0.png", "f2.png", "f4.png", "f6.png" });
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(Lines(good.out).size(), 4u);
}

// ---- folders ----

TEST_F(AvgTest, RecursiveWalkIsSortedSkipsNonPicturesAndDoesNotFollowLinks)
{
    SKIP_UNDER_WINE("Wine shows a Linux symbolic link to a file as the file itself");
    const QDir root(dir.path());
    ASSERT_TRUE(root.mkpath("tree/b"));
    ASSERT_TRUE(root.mkpath("tree/empty"));
    const QByteArray red = Png(Pixels(1, 1, { qRgb(255, 0, 0) }));
    Write("tree/b/z.png", red);
    Write("tree/b/a.gif",
        fixtures::EncodeGif({ qRgb(0, 0, 255) }, { fixtures::GifFrame { 1, 1, { 0 }, -1 } }));
    Write("tree/a.png", Png(Pixels(1, 1, { qRgb(0, 255, 0) })));
    Write("tree/notes.txt", "not a picture\n");
    Write("tree/broken.png", red.left(red.size() - 20));
    Write("outside.png", red);
    const QByteArray tree = QFile::encodeName(dir.filePath("tree"));
    // A loop back to the top, a link to a picture and one to a folder outside: none followed.
    ASSERT_EQ(::symlink(".", (tree + "/loop").constData()), 0);
    ASSERT_EQ(::symlink("a.png", (tree + "/link.png").constData()), 0);
    ASSERT_EQ(::symlink("..", (tree + "/up").constData()), 0);
    ASSERT_EQ(::symlink("../outside.png", (tree + "/c.png").constData()), 0);

    const std::string green = "#00FF00 R:0 G:255 B:0 H:120 S:100 L:100  ";
    const std::string blue = "#0000FF R:0 G:0 B:255 H:240 S:100 L:100  ";
    const std::string redLine = "#FF0000 R:255 G:0 B:0 H:0 S:100 L:100  ";
    const struct
    {
        std::vector<std::string> arguments;
        std::string out;
        std::string err;
        int status;
    } cases[] = {
        { { "-r", "tree" },
            green + "tree/a.png\n" + blue + "tree/b/a.gif\n" + redLine + "tree/b/z.png\n",
            "Error loading picture tree/broken.png: cut short\n", 1 },
        { { "-r", "-j", "1", "tree/" },
            green + "tree/a.png\n" + blue + "tree/b/a.gif\n" + redLine + "tree/b/z.png\n",
            "Error loading picture tree/broken.png: cut short\n", 1 },
        { { "-r", "tree/b", "tree/a.png" },
            blue + "tree/b/a.gif\n" + redLine + "tree/b/z.png\n" + green + "tree/a.png\n", "", 0 },
        // Named on the command line, a file that is not a picture is an error, as without -r.
        { { "-r", "tree/notes.txt" }, "",
            "Error loading picture tree/notes.txt: not a picture format Quillmere reads\n", 1 },
        { { "-r", "tree/empty" }, "", "", 0 },
        // Without -r a folder is not a picture.
        { { "tree" }, "", "Error loading picture tree: not a regular file\n", 1 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const Outcome run = Avg(c.arguments);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.status, c.status);
    }
}

// ---- standard input ----

// The names in the temporary folders of the Wine prefix the Windows build runs in; none outside
// Wine, where standard input goes to a file in memory.
std::vector<std::string> WineTemporaryFiles()
{
    std::vector<std::string> names;
    const char *prefix = std::getenv("WINEPREFIX");
    std::error_code error;
    if (!UnderWine() || !prefix)
        return names;
    // Wine 8 keeps %TEMP% in the user's own folder; Windows and newer Wine under AppData.
    for (const auto &user :
        std::filesystem::directory_iterator(std::string(prefix) + "/drive_c/users", error)) {
        for (const auto &temporary : { user.path() / "Temp", user.path() / "AppData/Local/Temp" }) {
            for (const auto &entry : std::filesystem::directory_iterator(temporary, error))
                names.push_back(entry.path().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(AvgTest, DashReadsOnePictureFromStandardInput)
{
    Write("in.png", Png(Pixels(2, 1, { qRgb(255, 0, 0), qRgb(0, 0, 255) })));
    Write("in.gif",
        fixtures::EncodeGif(
            { qRgb(1, 2, 3) }, { fixtures::GifFrame { 2, 2, { 0, 0, 0, 0 }, -1 } }));
    Write("in.bmp", fixtures::EncodeWithQt(Pixels(1, 1, { qRgb(0, 0, 0) }), "bmp"));
    Write("in.txt", "plain text\n");
    Write("empty", "");
    Write("good.png", Png(Pixels(1, 1, { qRgb(10, 20, 30) })));
    const std::string purple = "#7F007F R:127 G:0 B:127 H:300 S:100 L:50  -\n";
    const std::string good = "#0A141E R:10 G:20 B:30 H:210 S:67 L:12  good.png\n";
    const struct
    {
        const char *input;
        std::vector<std::string> arguments;
        std::string out;
        std::string err;
        int status;
    } cases[] = {
        { "in.png", { "-" }, purple, "", 0 },
        { "in.gif", { "good.png", "-", "good.png" },
            good + "#010203 R:1 G:2 B:3 H:210 S:67 L:1  -\n" + good, "", 0 },
        // Qt's reader takes the bytes from memory as well.
        { "in.bmp", { "-" }, "#000000 R:0 G:0 B:0 H:0 S:0 L:0  -\n", "", 0 },
        { "in.txt", { "-", "good.png" }, good,
            "Error loading picture -: not a picture format Quillmere reads\n", 1 },
        { "empty", { "-" }, "", "Error loading picture -: empty file\n", 1 },
        // After "--" a dash is still standard input: it names no file anyway.
        { "in.png", { "--", "-" }, purple, "", 0 },
    };
    const std::vector<std::string> temporaryBefore = WineTemporaryFiles();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.input);
        const Outcome run = Avg(c.arguments, 0, QString::fromUtf8(c.input));
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.status, c.status);
    }
    // Windows has no file in memory: the program's temporary file is gone when it has run.
    EXPECT_EQ(WineTemporaryFiles(), temporaryBefore);
}

// ---- files past 2 GiB ----

// Little-endian bytes of value, n of them.
std::string Le(std::uint64_t value, int n)
{
    std::string bytes;
    for (int i = 0; i < n; ++i)
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return bytes;
}

// A 2 x 1 picture, red then blue, whose pixels lie at pixelsAt: a BMP, or an RGB TIFF (BigTIFF
// where big) with one strip. Its header comes first, the pixels last, nothing between.
std::string FarPixelsHeader(const std::string &format, std::uint64_t pixelsAt)
{
    if (format == "bmp")
        return "BM" + Le(0, 4) + Le(0, 4) + Le(pixelsAt, 4) + Le(40, 4) + Le(2, 4) + Le(1, 4)
            + Le(1, 2) + Le(24, 2) + std::string(24, '\0');
    const bool big = format == "bigtiff";
    const int countBytes = big ? 8 : 4, offsetBytes = big ? 8 : 4;
    // Tag, type (3 SHORT, 4 LONG, 16 LONG8), value; one value each, in tag order.
    const struct
    {
        int tag, type;
        std::uint64_t value;
    } entries[] = {
        { 256, 3, 2 },
        { 257, 3, 1 },
        { 258, 3, 8 },
        { 259, 3, 1 },
        { 262, 3, 2 },
        { 273, big ? 16 : 4, pixelsAt },
        { 277, 3, 3 },
        { 278, 3, 1 },
        { 279, 4, 6 },
        { 284, 3, 1 },
    };
    std::string header
        = big ? "II" + Le(43, 2) + Le(8, 2) + Le(0, 2) + Le(16, 8) : "II" + Le(42, 2) + Le(8, 4);
    header += Le(std::size(entries), big ? 8 : 2);
    for (const auto &e : entries) {
        header += Le(static_cast<std::uint64_t>(e.tag), 2)
            + Le(static_cast<std::uint64_t>(e.type), 2) + Le(1, countBytes);
        // A SHORT sits in the first bytes of the value field.
        header += Le(e.value, offsetBytes);
    }
    return header + Le(0, offsetBytes);
}

// Offsets that a 32-bit long misreads: past 2^31 (negative) and, in BigTIFF, past 2^32. The
// files are sparse, so they take no room on the disk.
TEST_F(AvgTest, PixelsPastTwoGibibytesAreReadFromWhereTheHeaderSays)
{
    constexpr std::uint64_t kGiB = std::uint64_t { 1 } << 30;
    const struct
    {
        const char *name;
        const char *format;
        std::uint64_t pixelsAt;
        std::string pixels;
    } cases[] = {
        { "far.bmp", "bmp", 3 * kGiB, std::string("\0\0\xFF\xFF\0\0\0\0", 8) },
        { "far.tif", "tiff", 3 * kGiB, std::string("\xFF\0\0\0\0\xFF", 6) },
        { "far-big.tif", "bigtiff", 5 * kGiB, std::string("\xFF\0\0\0\0\xFF", 6) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string header = FarPixelsHeader(c.format, c.pixelsAt);
        const QByteArray path = QFile::encodeName(dir.filePath(QString::fromUtf8(c.name)));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        const bool written
            = ::pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size())
            && ::pwrite(fd, c.pixels.data(), c.pixels.size(), static_cast<off_t>(c.pixelsAt))
                == static_cast<ssize_t>(c.pixels.size());
        ::close(fd);
        ASSERT_TRUE(written);
        const Outcome run = Avg({ c.name });
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(
            run.out, "#7F007F R:127 G:0 B:127 H:300 S:100 L:50  " + std::string(c.name) + "\n");
        EXPECT_EQ(run.status, 0);
        std::filesystem::remove(path.toStdString());
    }
}

// ---- names in JSON ----

TEST_F(AvgTest, JsonPathsStayValidJsonAndKeepTheExactBytes)
{
    SKIP_UNDER_WINE("Wine gives Windows programs no name for Linux names that are not UTF-8");
    const struct
    {
        std::string name;
        std::string shown; // UTF-8 of the "path" member
        bool withBytes;
    } cases[] = {
        { "caf\xe9.png", "caf\xEF\xBF\xBD.png", true },
        // An encoded surrogate and an overlong '/' are not valid UTF-8 either: one U+FFFD a byte.
        { "\xed\xa0\x80.png", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.png", true },
        { "\xc0\xaf.png", "\xEF\xBF\xBD\xEF\xBF\xBD.png", true },
        { "a\xe6\x97\xa5\xf0\x9f\x8e\xa8.png", "a\xe6\x97\xa5\xf0\x9f\x8e\xa8.png", false },
        { "quote\" back\\slash \x01\x1f.png", "quote\" back\\slash \x01\x1f.png", false },
    };
    const QByteArray png = Png(Pixels(1, 1, { qRgb(10, 20, 30) }));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = QFile::encodeName(dir.path()).toStdString() + "/" + c.name;
        std::FILE *file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(png.constData(), 1, static_cast<std::size_t>(png.size()), file);
        std::fclose(file);
        const Outcome run = Avg({ "--json", c.name, c.name + ".missing" });
        EXPECT_EQ(run.status, 1);
        const std::vector<std::string> lines = Lines(run.out);
        ASSERT_EQ(lines.size(), 2u) << run.out;
        for (std::size_t i = 0; i < 2; ++i) {
            const std::string suffix = i == 0 ? "" : ".missing";
            QStringDecoder utf8(QStringDecoder::Utf8);
            const QString decoded = utf8(QByteArray::fromStdString(lines[i]));
            EXPECT_FALSE(utf8.hasError()) << "the line is not UTF-8";
            const QJsonObject o = ParseObject(lines[i]);
            EXPECT_EQ(o["path"].toString().toStdString(), c.shown + suffix);
            EXPECT_EQ(o.contains("path_bytes"), c.withBytes);
            if (c.withBytes) {
                EXPECT_EQ(QByteArray::fromBase64(o["path_bytes"].toString().toLatin1()),
                    QByteArray::fromStdString(c.name + suffix));
            }
            EXPECT_EQ(o.contains("error"), i == 1);
        }
        EXPECT_EQ(ParseObject(lines[0])["mean"].toObject()["hex"].toString(), "#0A141E");
    }
}

// ---- past the window's limit ----

TEST_F(AvgTest, PicturePastTheWindowsLimitStreamsInLittleMemory)
{
    SKIP_UNDER_WINE("Wine itself cannot start under an address-space limit");
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#else
    // 20000 x 16000 = 320 million pixels, past the window's 268 million (1.28 GB as a raster):
    // the top half white, the bottom half white on the left only. 3/4 white: 191.25 a channel.
    const std::uint32_t width = 20000, height = 16000;
    Write(
        "huge.png", fixtures::EncodeGray1PngByRows(width, height, [&](std::uint32_t y, auto &bits) {
            std::fill(bits.begin(), bits.begin() + (y < height / 2 ? bits.size() : bits.size() / 2),
                0xFF);
        }));
    const Outcome run = Avg({ "--json", "huge.png" }, 250'000);
    ASSERT_EQ(run.status, 0) << run.err;
    const QJsonObject o = ParseObject(Lines(run.out).at(0));
    EXPECT_EQ(o["width"].toInt(), 20000);
    EXPECT_EQ(o["height"].toInt(), 16000);
    EXPECT_EQ(o["pixels"].toInteger(), 320'000'000);
    EXPECT_EQ(o["mean"].toObject()["hex"].toString(), "#BFBFBF");
    EXPECT_EQ(o["min"].toObject()["g"].toInt(), 0);
#endif
}

// ---- progress ----

TEST_F(AvgTest, ProgressBarOnlyOnATerminalAndOnlyForMoreThanOneFile)
{
    SKIP_UNDER_WINE("a pseudo-terminal is no console to a Windows program");
    Write("a.png", Png(Pixels(1, 1, { qRgb(1, 2, 3) })));
    Write("b.png", Png(Pixels(1, 1, { qRgb(4, 5, 6) })));
    const struct
    {
        std::vector<std::string> arguments;
        const char *shown; // text the terminal must show; empty for nothing at all
    } cases[] = {
        { { "a.png", "b.png", "a.png" }, "/3 files" },
        { { "-j", "1", "a.png", "b.png" }, "/2 files" },
        { { "a.png" }, "" },
        // The error starts on a line of its own, the bar taken off first.
        { { "a.png", "missing.png" },
            "\r\033[KError loading picture missing.png: no such file\r\n" },
        { { "missing.png" }, "Error loading picture missing.png: no such file\r\n" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.back() + " of " + std::to_string(c.arguments.size()));
        const std::string shown = AvgOnTerminal(c.arguments);
        if (*c.shown == '\0') {
            EXPECT_EQ(shown, "");
            continue;
        }
        EXPECT_NE(shown.find(c.shown), std::string::npos) << shown;
        const bool several = c.arguments.size() > 1;
        EXPECT_EQ(shown.find("files/s") != std::string::npos, several) << shown;
    }
}

} // namespace

namespace {

// Channel sums of a rectangle of the picture, as "#RRGGBB" of the truncated means.
std::string RectangleHex(const QImage &picture, int x0, int y0, int width, int height)
{
    long r = 0, g = 0, b = 0;
    for (int y = y0; y < y0 + height; ++y) {
        for (int x = x0; x < x0 + width; ++x) {
            const QRgb p = picture.pixel(x, y);
            r += qRed(p);
            g += qGreen(p);
            b += qBlue(p);
        }
    }
    const long n = static_cast<long>(width) * height;
    char hex[16];
    std::snprintf(hex, sizeof hex, "#%02lX%02lX%02lX", r / n, g / n, b / n);
    return hex;
}

QImage Noise(int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB32);
    unsigned seed = 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            picture.setPixel(x, y, 0xFF000000u | (seed >> 8));
        }
    }
    return picture;
}

// A 29x17 picture: a 4x3 grid has columns of 7 (the last 8) and rows of 5 (the last 7).
TEST_F(AvgTest, PartsPrintALineEachWithTheMeansOfTheirRectangles)
{
    const QImage picture = Noise(29, 17);
    Write("n.png", Png(picture, PngVariant::Rgb8));
    struct Part
    {
        std::string label;
        int x, y, width, height;
    };
    std::vector<Part> grid;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c)
            grid.push_back({ "cell " + std::to_string(c + 1) + "," + std::to_string(r + 1), c * 7,
                r * 5, c == 3 ? 8 : 7, r == 2 ? 7 : 5 });
    }
    const struct
    {
        std::vector<std::string> arguments;
        std::vector<Part> parts;
    } cases[] = {
        { { "--grid", "4x3" }, grid },
        { { "--edges", "4" },
            { { "top", 0, 0, 29, 4 }, { "right", 25, 0, 4, 17 }, { "bottom", 0, 13, 29, 4 },
                { "left", 0, 0, 4, 17 } } },
        { { "--region", "28,16,1,1" }, { { "", 28, 16, 1, 1 } } },
        { { "--region", "50%,0,50%,100%" }, { { "", 14, 0, 15, 17 } } }, // 14.5 rounds to 14
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), { "--format", "hex", "n.png" });
        const Outcome run = Avg(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        std::string expected;
        for (const Part &p : c.parts) {
            expected += RectangleHex(picture, p.x, p.y, p.width, p.height)
                + (p.label.empty() ? "" : "  " + p.label) + "  n.png\n";
        }
        EXPECT_EQ(run.out, expected);

        arguments = c.arguments;
        arguments.insert(arguments.end(), { "--json", "--colours", "2", "n.png" });
        const Outcome json = Avg(arguments);
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
        const QJsonArray cells = c.parts.size() == 1 ? QJsonArray { o } : o["cells"].toArray();
        ASSERT_EQ(cells.size(), static_cast<qsizetype>(c.parts.size())) << json.out;
        for (qsizetype i = 0; i < cells.size(); ++i) {
            const Part &p = c.parts[static_cast<std::size_t>(i)];
            const QJsonObject cell = cells[i].toObject();
            EXPECT_EQ(cell["mean"].toObject()["hex"].toString().toStdString(),
                RectangleHex(picture, p.x, p.y, p.width, p.height));
            EXPECT_EQ(cell["pixels"].toInt(), p.width * p.height);
            EXPECT_LE(cell["dominant"].toArray().size(), 2);
            EXPECT_GE(cell["dominant"].toArray().size(), 1);
        }
    }
}

// A part that does not fit one picture is a usage error for it; the other files still print.
TEST_F(AvgTest, APartPastThePictureExitsWithTwoAndSaysWhy)
{
    Write("small.png", Png(Noise(10, 8), PngVariant::Rgb8));
    Write("big.png", Png(Noise(30, 20), PngVariant::Rgb8));
    const Outcome run = Avg({ "--region", "5,5,20,10", "--format", "rgb", "small.png", "big.png" });
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(
        run.err, "quillmere-avg: region 5,5,20,10 reaches past the picture (10x8) in small.png\n");
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    EXPECT_TRUE(run.out.starts_with("rgb(")) << run.out;

    const Outcome json = Avg({ "--json", "--grid", "11x1", "small.png" });
    EXPECT_EQ(json.status, 2);
    EXPECT_EQ(json.out,
        std::string(R"x({"path":"small.png","error":"a grid of 11x1 cells does not fit )x")
            + R"x(the picture (10x8)"})x" + "\n");
}

// Every form of one colour on one line, in the order asked.
TEST_F(AvgTest, FormatPrintsTheFormsAsked)
{
    Write("c.png", Png(Pixels(1, 1, { qRgb(200, 100, 50) }), PngVariant::Rgb8));
    const Outcome run = Avg({ "--format", "oklch,hsl,rgb,info,hex", "c.png" });
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
        "oklch(61.38% 0.14226 45.08) hsl(20 60% 49.02%) rgb(200 100 50) #C86432 R:200 G:100 "
        "B:50 H:20 S:75 L:78 #C86432  c.png\n");
}

} // namespace
