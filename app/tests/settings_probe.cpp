// Uses both of Qt's dialogs the way the program does, then reports what they started with.
// Run by settings_test with a private HOME. "--plain" skips the program's set-up, standing in
// for any other Qt program, so the test can show that it would notice a settings file.
#include "app/application.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    const bool plain = argc > 2 && std::strcmp(argv[2], "--plain") == 0;
    if (!plain)
        app::PrepareApplication();
    const QString picture = QString::fromLocal8Bit(argv[1]);

    const QColor customAtStart = QColorDialog::customColor(0);
    QString history;
    QString viewMode;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *files = qobject_cast<QFileDialog *>(modal)) {
            history = files->history().join(',');
            viewMode = files->viewMode() == QFileDialog::Detail ? "Detail" : "List";
            files->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(picture);
            static_cast<QDialog *>(files)->accept();
        } else if (auto *colours = qobject_cast<QColorDialog *>(modal)) {
            QColorDialog::setCustomColor(1, QColor(1, 2, 3));
            colours->setCurrentColor(QColor(4, 5, 6));
            colours->accept();
        }
    });
    driver.start(10);

    const QString chosen = platform::ChooseOpenFile(
        nullptr, { "t", "所有图片文件 (*.png)", QFileInfo(picture).absolutePath() });
    platform::CustomColours custom {};
    const auto colour = platform::ChooseColour(nullptr, custom);
    std::printf("chosen=%s\n", qPrintable(chosen));
    std::printf("colour=%06x\n", colour.value_or(0xFFFFFFFFu));
    std::printf("customAtStart=%s\n", qPrintable(customAtStart.name()));
    std::printf("history=%s\n", qPrintable(history));
    std::printf("viewMode=%s\n", qPrintable(viewMode));
    return 0;
}
