#include "platform/dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace platform {
namespace {

    // Runs `step` on each modal dialog that appears while a modal exec() runs, polling from the
    // event loop; `step` returns false once it has closed the last dialog it cares about.
    class ModalDriver
    {
    public:
        explicit ModalDriver(std::function<bool(QWidget *modal)> step)
            : step(std::move(step))
        {
            QObject::connect(&timer, &QTimer::timeout, [this] {
                QWidget *modal = QApplication::activeModalWidget();
                if (modal && modal != seen && modal->isVisible()) {
                    seen = modal;
                    if (!this->step(modal))
                        timer.stop();
                }
            });
            timer.start(10);
        }

    private:
        std::function<bool(QWidget *)> step;
        QTimer timer;
        QWidget *seen = nullptr;
    };

    const QString kFilter = QString::fromUtf8(
        "所有图片文件 (*.bmp *.dib *.png *.gif *.jpg *.jpe *.jpeg *.jfif *.ico)");

    void Touch(const QString &path)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    }

    // Names the dialog lists in its folder view, once the folder has been read.
    QStringList Offered(QFileDialog &dialog)
    {
        auto *view = dialog.findChild<QListView *>(QStringLiteral("listView"));
        QStringList names;
        if (!view)
            return names;
        QAbstractItemModel *model = view->model();
        for (int row = 0; row < model->rowCount(view->rootIndex()); ++row)
            names << model->index(row, 0, view->rootIndex()).data().toString();
        names.sort();
        return names;
    }

    TEST(OpenFileDialog, ShowsTheRequestAndOffersPicturesInAnyCase)
    {
        QTemporaryDir folder;
        const QStringList pictures = { "PHOTO.JPG", "a.png", "b.Bmp", "c.dib", "d.gif", "e.jpe",
            "f.jpeg", "g.jfif", "h.ICO" };
        for (const QString &name : pictures)
            Touch(folder.filePath(name));
        Touch(folder.filePath("notes.txt"));
        Touch(folder.filePath("photo.tif"));

        QStringList offered;
        QString title, directory;
        QStringList filters;
        bool existingOnly = false, native = true;
        ModalDriver driver([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            if (!dialog)
                return true;
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            directory = dialog->directory().absolutePath();
            existingOnly = dialog->fileMode() == QFileDialog::ExistingFile;
            native = !dialog->testOption(QFileDialog::DontUseNativeDialog);
            // The folder is read in the background: wait until the view lists it (10 s at most).
            auto *poll = new QTimer(dialog);
            QObject::connect(
                poll, &QTimer::timeout, dialog, [dialog, &offered, rounds = 0]() mutable {
                    offered = Offered(*dialog);
                    if (offered.size() >= 9 || ++rounds > 500)
                        dialog->reject();
                });
            poll->start(20);
            return false;
        });
        const QString chosen = ChooseOpenFile(nullptr,
            { QString::fromUtf8("打开图片文件"), kFilter, QDir(folder.path()).absolutePath() });

        EXPECT_TRUE(chosen.isEmpty()) << "rejected";
        EXPECT_EQ(title, QString::fromUtf8("打开图片文件"));
        EXPECT_EQ(filters,
            (QStringList { kFilter,
                QStringLiteral("新图片格式 (*.webp *.tif *.tiff *.heic *.heif *.avif *.jxl)"),
                QStringLiteral("所有文件 (*)") }));
        EXPECT_EQ(directory, QDir(folder.path()).absolutePath());
        EXPECT_TRUE(existingOnly);
        EXPECT_FALSE(native);
        QStringList expected = pictures;
        expected.sort();
        EXPECT_EQ(offered, expected);
    }

    // Each entry of the dialog's file type list against one folder: what it offers, in any case.
    TEST(OpenFileDialog, EachFilterEntryOffersItsFilesInAnyCase)
    {
        QTemporaryDir folder;
        const QStringList older = { "PHOTO.JPG", "a.png" };
        const QStringList newer
            = { "b.WEBP", "c.tif", "d.Tiff", "e.heic", "f.HEIF", "g.avif", "h.JXL" };
        const QStringList others = { "notes.txt", "photo.jpg.bak", "webp" };
        for (const QString &name : older + newer + others)
            Touch(folder.filePath(name));
        const struct
        {
            int entry;
            QStringList offered;
        } cases[] = { { 0, older }, { 1, newer }, { 2, older + newer + others } };
        for (const auto &c : cases) {
            SCOPED_TRACE(c.entry);
            QStringList offered, expected = c.offered;
            expected.sort();
            ModalDriver driver([&](QWidget *modal) {
                auto *dialog = qobject_cast<QFileDialog *>(modal);
                if (!dialog)
                    return true;
                dialog->selectNameFilter(dialog->nameFilters().value(c.entry));
                // The folder is read in the background: wait for the list to settle (10 s at most).
                auto *poll = new QTimer(dialog);
                QObject::connect(poll, &QTimer::timeout, dialog,
                    [dialog, &offered, &expected, rounds = 0]() mutable {
                        offered = Offered(*dialog);
                        if (offered == expected || ++rounds > 500)
                            dialog->reject();
                    });
                poll->start(20);
                return false;
            });
            (void)ChooseOpenFile(nullptr, { "t", kFilter, QDir(folder.path()).absolutePath() });
            EXPECT_EQ(offered, expected);
        }
    }

    TEST(OpenFileDialog, ReturnsTheFullPathOfAChosenFile)
    {
        QTemporaryDir folder;
        // Unicode and a path longer than 254 bytes, both of which must come back whole.
        const QString deep
            = folder.filePath(QString(120, QChar('d')) + "/" + QString(120, QChar('e')));
        ASSERT_TRUE(QDir().mkpath(deep));
        const QString picture = deep + QString::fromUtf8("/ 颜色 样本.png");
        Touch(picture);
        ASSERT_GT(picture.toUtf8().size(), 254);

        ModalDriver driver([&](QWidget *modal) {
            if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
                dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(picture);
                static_cast<QDialog *>(dialog)->accept();
                return false;
            }
            return true;
        });
        EXPECT_EQ(ChooseOpenFile(nullptr, { "t", kFilter, folder.path() }), picture);
    }

    TEST(OpenFileDialog, RefusesAFileThatDoesNotExist)
    {
        QTemporaryDir folder;
        int warnings = 0;
        bool stillOpenAfterWarning = false;
        QFileDialog *fileDialog = nullptr;
        ModalDriver driver([&](QWidget *modal) {
            if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
                fileDialog = dialog;
                dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))
                    ->setText(folder.filePath("missing/none.png"));
                QTimer::singleShot(
                    0, dialog, [dialog] { static_cast<QDialog *>(dialog)->accept(); });
                return true;
            }
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                ++warnings;
                box->reject();
                QTimer::singleShot(0, fileDialog, [&] {
                    stillOpenAfterWarning = fileDialog->isVisible();
                    fileDialog->reject();
                });
                return false;
            }
            return true;
        });
        EXPECT_TRUE(ChooseOpenFile(nullptr, { "t", kFilter, folder.path() }).isEmpty());
        EXPECT_EQ(warnings, 1);
        EXPECT_TRUE(stillOpenAfterWarning);
    }

    // Drives one colour dialog: records what it offered, lets `edit` play the user, then closes.
    struct ColourSession
    {
        QColor openedWith;
        CustomColours offered {};
    };

    std::optional<analysis::ColourValue> RunColourDialog(CustomColours &custom,
        ColourSession &session, std::function<void(QColorDialog &)> edit, bool confirm)
    {
        ModalDriver driver([&](QWidget *modal) {
            auto *dialog = qobject_cast<QColorDialog *>(modal);
            if (!dialog)
                return true;
            session.openedWith = dialog->currentColor();
            for (int k = 0; k < 16; ++k) {
                const QColor c = QColorDialog::customColor(k);
                session.offered[static_cast<std::size_t>(k)]
                    = analysis::MakeColour(c.red(), c.green(), c.blue());
            }
            edit(*dialog);
            if (confirm)
                dialog->accept();
            else
                dialog->reject();
            return false;
        });
        return ChooseColour(nullptr, custom);
    }

    TEST(ColourDialog, OkReturnsTheColourAndTheEditedCustomColours)
    {
        CustomColours custom {};
        custom[3] = 0x00112233;
        ColourSession session;
        const auto chosen = RunColourDialog(
            custom, session,
            [](QColorDialog &dialog) {
                QColorDialog::setCustomColor(5, QColor(0x10, 0x20, 0x30));
                dialog.setCurrentColor(QColor(0xAA, 0xBB, 0xCC));
            },
            true);
        ASSERT_TRUE(chosen.has_value());
        EXPECT_EQ(*chosen, 0x00CCBBAAu);
        EXPECT_EQ(session.openedWith, QColor(Qt::black));
        EXPECT_EQ(session.offered[3], 0x00112233u);
        EXPECT_EQ(session.offered[0], 0u);
        EXPECT_EQ(custom[5], 0x00302010u);
        EXPECT_EQ(custom[3], 0x00112233u);
    }

    TEST(ColourDialog, CancelKeepsTheCustomColoursEvenWhenEdited)
    {
        CustomColours custom {};
        custom[0] = 0x00ABCDEF;
        const CustomColours before = custom;
        ColourSession session;
        const auto chosen = RunColourDialog(
            custom, session,
            [](QColorDialog &dialog) {
                QColorDialog::setCustomColor(0, QColor(1, 2, 3));
                dialog.setCurrentColor(QColor(9, 9, 9));
            },
            false);
        EXPECT_FALSE(chosen.has_value());
        EXPECT_EQ(custom, before);
        EXPECT_EQ(session.offered[0], 0x00ABCDEFu);
    }

    // The process-wide custom colours belong to nobody else after a dialog: each call lends its
    // own set, so two callers never see each other's colours.
    TEST(ColourDialog, LeavesTheProcessWideCustomColoursAsTheyWere)
    {
        QColorDialog::setCustomColor(7, QColor(7, 7, 7));
        CustomColours custom {};
        ColourSession session;
        (void)RunColourDialog(
            custom, session, [](QColorDialog &) { QColorDialog::setCustomColor(7, Qt::red); },
            true);
        EXPECT_EQ(custom[7], 0x000000FFu);
        EXPECT_EQ(QColorDialog::customColor(7), QColor(7, 7, 7));
        EXPECT_EQ(session.offered[7], 0u) << "the dialog offers the caller's colours only";
    }

    // The load error's reason sits behind the details button; without one there is no button.
    TEST(ErrorMessage, ShowsTheTextAndTheDetailsWhereGiven)
    {
        const struct
        {
            const char *name;
            QString details;
        } cases[] = {
            { "with details", QString::fromUtf8("文件是空的。") },
            { "without details", QString() },
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(c.name);
            QString text, details;
            bool shown = false;
            const ModalDriver driver([&](QWidget *modal) {
                auto *box = qobject_cast<QMessageBox *>(modal);
                if (!box)
                    return true;
                shown = box->objectName() == QStringLiteral("ErrorMessage");
                text = box->text();
                details = box->detailedText();
                box->accept();
                return false;
            });
            ShowError(nullptr, QStringLiteral("Error loading picture /tmp/a.png"), c.details);
            EXPECT_TRUE(shown);
            EXPECT_EQ(text, QStringLiteral("Error loading picture /tmp/a.png"));
            EXPECT_EQ(details, c.details);
        }
    }

} // namespace
} // namespace platform
