// Every text a user can meet has its English translation, filed under the context tr() really
// looks in: lupdate's reading of the sources against the committed translations, and the
// capture panel's screen-reader texts under the English translator.
#include "app/language.h"
#include "capture/readout_panel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>

namespace {

struct Message
{
    QString translation;
    bool finished = false;
};

// (context, source) of every message of a .ts file.
using Messages = std::map<std::pair<QString, QString>, Message>;

Messages ReadTs(const QString &path)
{
    Messages messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&file);
    QString context, source;
    Message message;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("context"))
                context.clear();
            else if (xml.name() == QLatin1String("name"))
                context = xml.readElementText();
            else if (xml.name() == QLatin1String("message"))
                message = Message {};
            else if (xml.name() == QLatin1String("source"))
                source = xml.readElementText();
            else if (xml.name() == QLatin1String("translation")) {
                // Unfinished, obsolete and vanished entries are not loaded as translations.
                message.finished = xml.attributes().value(QLatin1String("type")).isEmpty();
                message.translation = xml.readElementText();
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            messages[{ context, source }] = message;
        }
    }
    EXPECT_FALSE(xml.hasError()) << path.toStdString() << ": " << xml.errorString().toStdString();
    return messages;
}

// The product sources of every folder, tests and fuzzers left out.
QStringList ProductSources(const QDir &root)
{
    QStringList files;
    for (const char *folder : { "analysis", "app", "capture", "imaging", "platform", "tools" }) {
        const QDir dir(root.filePath(QLatin1String(folder)));
        for (const QString &name :
            dir.entryList({ QStringLiteral("*.cpp"), QStringLiteral("*.h") }, QDir::Files))
            files << dir.filePath(name);
    }
    return files;
}

TEST(Translations, EveryTextHasAnEnglishTranslationUnderItsRealContext)
{
    const QDir root(QStringLiteral(QUILLMERE_SOURCE_DIR));
    const QStringList sources = ProductSources(root);
    ASSERT_FALSE(sources.isEmpty());
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    QFile list(scratch.filePath(QStringLiteral("sources.lst")));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(sources.join(QLatin1Char('\n')).toUtf8());
    list.close();

    const QString extracted = scratch.filePath(QStringLiteral("extracted.ts"));
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(QUILLMERE_LUPDATE),
        { QStringLiteral("-I"), root.absolutePath(), QLatin1Char('@') + list.fileName(),
            QStringLiteral("-locations"), QStringLiteral("none"),
            QStringLiteral("-source-language"), QStringLiteral("zh_CN"),
            QStringLiteral("-target-language"), QStringLiteral("en_US"), QStringLiteral("-ts"),
            extracted });
    ASSERT_TRUE(lupdate.waitForFinished(60000));
    ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAll().toStdString();

    const Messages found = ReadTs(extracted);
    const Messages committed = ReadTs(QStringLiteral(QUILLMERE_EN_TS));
    // The window's own captions at least: lupdate read the sources.
    ASSERT_TRUE(found.count({ QStringLiteral("Form1"), QStringLiteral("打开文件") }))
        << found.size() << " texts found";
    for (const auto &[key, message] : found) {
        SCOPED_TRACE(key.first.toStdString() + " / " + key.second.toStdString());
        const auto there = committed.find(key);
        if (there == committed.end()) {
            ADD_FAILURE() << "no entry under this context";
            continue;
        }
        EXPECT_TRUE(there->second.finished) << "translation not finished";
        EXPECT_FALSE(there->second.translation.isEmpty());
    }
}

TEST(Translations, TheCapturePanelReadsOutInEnglishUnderAnEnglishDesktop)
{
    QTranslator *english = app::InstallTranslations([](const char *name) {
        return qstrcmp(name, "LANG") == 0 ? QStringLiteral("en_US.UTF-8") : QString();
    });
    ASSERT_NE(english, nullptr);
    capture::ReadoutPanel panel;
    const auto described = [&panel](const char *name) {
        const auto *label = panel.findChild<QLabel *>(QLatin1String(name));
        return label ? label->accessibleDescription() : QStringLiteral("(no label)");
    };
    const std::string size = described("ReadoutSize").toStdString();
    const std::string swatch = described("ReadoutSwatch").toStdString();
    const std::string hex = described("ReadoutHex").toStdString();
    QCoreApplication::removeTranslator(english);
    delete english;

    EXPECT_EQ(size, "Size of the selection in screen pixels");
    EXPECT_EQ(swatch, "Average colour swatch of the selection");
    EXPECT_EQ(hex, "Average colour of the selection");
}

} // namespace
