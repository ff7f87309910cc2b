#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace {

// Runs the probe with `home` as its home folder and returns its report as key=value pairs.
std::map<QString, QString> RunProbe(const QString &home, const QString &picture, bool plain)
{
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.remove("XDG_CONFIG_HOME");
    env.remove("XDG_CONFIG_DIRS");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    probe.setProcessEnvironment(env);
    QStringList arguments { picture };
    if (plain)
        arguments << "--plain";
    probe.start(QStringLiteral(QUILLMERE_SETTINGS_PROBE), arguments);
    EXPECT_TRUE(probe.waitForFinished(30000)) << probe.errorString().toStdString();
    EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    std::map<QString, QString> report;
    for (const QByteArray &line : probe.readAllStandardOutput().split('\n')) {
        const int equals = line.indexOf('=');
        if (equals > 0)
            report[QString::fromUtf8(line.left(equals))] = QString::fromUtf8(line.mid(equals + 1));
    }
    return report;
}

QStringList FilesUnder(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    return files;
}

// What another Qt program leaves behind, in Qt 6.4's own layout: a red first custom colour and
// the list view (the file dialog's default is the detail view).
const QByteArray kOtherProgramsSettings = "[FileDialog]\n"
                                          "qtVersion=6.4.2\n"
                                          "viewMode=List\n"
                                          "\n"
                                          "[Qt]\n"
                                          "customColors\\0=4294901760\n";

struct Folders
{
    QTemporaryDir home;
    QTemporaryDir pictures;
    QString picture;

    Folders()
    {
        picture = pictures.filePath("p.png");
        QImage image(2, 2, QImage::Format_RGB32);
        image.fill(Qt::gray);
        image.save(picture);
    }

    QString Conf() const { return home.filePath(".config/QtProject.conf"); }

    void PlantSettings() const
    {
        QDir().mkpath(home.filePath(".config"));
        QFile file(Conf());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(kOtherProgramsSettings);
    }
};

// Without the program's set-up, Qt's dialogs do write their settings: the trap is real here.
TEST(SettingsFiles, PlainQtWritesThemAndReadsThemBack)
{
    Folders folders;
    auto report = RunProbe(folders.home.path(), folders.picture, true);
    EXPECT_EQ(report["chosen"], folders.picture);
    EXPECT_TRUE(QFile::exists(folders.Conf()));

    Folders planted;
    planted.PlantSettings();
    report = RunProbe(planted.home.path(), planted.picture, true);
    EXPECT_EQ(report["customAtStart"], "#ff0000");
    EXPECT_EQ(report["viewMode"], "List");
}

TEST(SettingsFiles, TheProgramWritesNoneAfterUsingBothDialogs)
{
    Folders folders;
    auto report = RunProbe(folders.home.path(), folders.picture, false);
    EXPECT_EQ(report["chosen"], folders.picture);
    EXPECT_EQ(report["colour"], "060504");
    EXPECT_EQ(FilesUnder(folders.home.path()), QStringList {});
}

TEST(SettingsFiles, TheProgramIgnoresAndKeepsAnotherProgramsSettings)
{
    Folders folders;
    folders.PlantSettings();
    const QDateTime modified = QFileInfo(folders.Conf()).lastModified();
    auto report = RunProbe(folders.home.path(), folders.picture, false);
    EXPECT_NE(report["customAtStart"], "#ff0000");
    EXPECT_EQ(report["viewMode"], "Detail");
    QFile file(folders.Conf());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), kOtherProgramsSettings);
    EXPECT_EQ(QFileInfo(folders.Conf()).lastModified(), modified);
    EXPECT_EQ(FilesUnder(folders.home.path()), QStringList { ".config/QtProject.conf" });
}

} // namespace
