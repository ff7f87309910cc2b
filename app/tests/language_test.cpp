#include "app/language.h"

#include "app/picture_load.h"
#include "app/tests/form1_fixture.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

app::EnvironmentReader Environment(std::map<std::string, QString> variables)
{
    return [variables = std::move(variables)](const char *name) {
        const auto found = variables.find(name);
        return found == variables.end() ? QString() : found->second;
    };
}

TEST(Language, EnglishOnlyWhenTheDesktopsFirstChoiceIsEnglish)
{
    const struct
    {
        const char *name;
        std::map<std::string, QString> variables;
        bool english;
    } cases[] = {
        { "LANG en_US", { { "LANG", "en_US.UTF-8" } }, true },
        { "LANG en_GB", { { "LANG", "en_GB.UTF-8" } }, true },
        { "LANG C.UTF-8", { { "LANG", "C.UTF-8" } }, false },
        { "LANG zh_CN", { { "LANG", "zh_CN.UTF-8" } }, false },
        { "nothing set", {}, false },
        { "LANGUAGE list led by English", { { "LANGUAGE", "en:zh_CN" }, { "LANG", "zh_CN.UTF-8" } },
            true },
        { "LANGUAGE list led by Chinese", { { "LANGUAGE", "zh_CN:en" }, { "LANG", "en_US.UTF-8" } },
            false },
        { "empty LANGUAGE falls through", { { "LANGUAGE", "" }, { "LANG", "en_US.UTF-8" } }, true },
        { "LC_ALL overrides LANG", { { "LC_ALL", "zh_CN.UTF-8" }, { "LANG", "en_US.UTF-8" } },
            false },
        { "LC_MESSAGES English", { { "LC_MESSAGES", "en_US.UTF-8" }, { "LANG", "C.UTF-8" } },
            true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(app::PrefersEnglish(Environment(c.variables)), c.english);
    }
}

// What a user reads, and what a screen reader reads, under each language.
struct ShownTexts
{
    QString open, capture, label, tooltip, hexName, progress, dialogTitle;
    QStringList dialogFilters;
};

ShownTexts TextsOfAWindow()
{
    Form1Fixture fixture;
    Form1 &window = fixture.Window();
    window.show();
    window.Pane().SetPicture(QImage(1000, 1000, QImage::Format_RGB32));
    window.Pane().SetSize(1000, 1000);
    ShownTexts shown { window.FileOpen->text(), window.ScreenCap->text(), window.Label1->text(),
        window.PicBox->toolTip(), window.Text1->accessibleName(), {}, {}, {} };
    QTimer::singleShot(0, &window, [&] { shown.progress = fixture.InfoText(); });
    window.CalcColor();
    fixture.filesToChoose = { QString() };
    window.OpenImage();
    if (!fixture.fileRequests.empty()) {
        shown.dialogTitle = fixture.fileRequests.front().title;
        shown.dialogFilters = QStringList { fixture.fileRequests.front().filter }
            + fixture.fileRequests.front().moreFilters;
    }
    return shown;
}

TEST(Language, TheWindowShowsEnglishTextsOnlyUnderAnEnglishDesktop)
{
    const ShownTexts chinese = TextsOfAWindow();
    EXPECT_EQ(chinese.open, QStringLiteral("打开文件"));
    EXPECT_EQ(chinese.capture, QStringLiteral("屏幕截图"));
    EXPECT_EQ(chinese.label, QStringLiteral("平均色信息："));
    EXPECT_EQ(chinese.dialogTitle, QStringLiteral("打开图片文件"));
    EXPECT_EQ(chinese.dialogFilters.value(0),
        QStringLiteral("所有图片文件 (*.bmp *.dib *.png *.gif *.jpg *.jpe *.jpeg *.jfif *.ico)"));

    QTranslator *english = app::InstallTranslations(Environment({ { "LANG", "en_US.UTF-8" } }));
    ASSERT_NE(english, nullptr);
    const ShownTexts shown = TextsOfAWindow();
    QCoreApplication::removeTranslator(english);
    delete english;

    EXPECT_EQ(shown.open, "Open File");
    EXPECT_EQ(shown.capture, "Capture");
    EXPECT_EQ(shown.label, "Average colour:");
    EXPECT_EQ(shown.tooltip, "Double-click to choose the background colour");
    EXPECT_EQ(shown.hexName, "Average colour in hex");
    EXPECT_TRUE(QRegularExpression("^Reading\\.\\.\\.\\d+%\nDouble-click\nhere to stop$")
                    .match(shown.progress)
                    .hasMatch())
        << shown.progress.toStdString();
    EXPECT_EQ(shown.dialogTitle, "Open Picture File");
    // The patterns stay as they are; only the descriptions change.
    EXPECT_EQ(shown.dialogFilters,
        (QStringList {
            "All picture files (*.bmp *.dib *.png *.gif *.jpg *.jpe *.jpeg *.jfif *.ico)",
            "New picture formats (*.webp *.tif *.tiff *.heic *.heif *.avif *.jxl)",
            "All files (*)" }));
    EXPECT_EQ(app::InstallTranslations(Environment({ { "LANG", "zh_CN.UTF-8" } })), nullptr);
}

// Every reason a load can fail for has its English text; the Chinese source never shows through.
TEST(Language, LoadFailureReasonsAreTranslated)
{
    using imaging::LoadFailure;
    QTranslator *english = app::InstallTranslations(Environment({ { "LANG", "en_US.UTF-8" } }));
    ASSERT_NE(english, nullptr);
    EXPECT_EQ(app::LoadFailureMessage(LoadFailure::None), QString());
    EXPECT_EQ(app::LoadFailureMessage(LoadFailure::NotFound), "No such file.");
    EXPECT_EQ(app::LoadFailureMessage(LoadFailure::CutShort),
        "The file is cut short: the picture ends before it is complete.");
    for (int reason = static_cast<int>(LoadFailure::NotFound);
         reason <= static_cast<int>(LoadFailure::NotInThisBuild); ++reason) {
        SCOPED_TRACE(reason);
        const QString text = app::LoadFailureMessage(static_cast<LoadFailure>(reason));
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[\\x{4e00}-\\x{9fff}]"))))
            << text.toStdString();
    }
    QCoreApplication::removeTranslator(english);
    delete english;
}

} // namespace
