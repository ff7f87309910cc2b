#pragma once

#include "app/form1.h"

#include <QImage>
#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

// A main window whose dialogs, message box and process end are recorded instead of shown.
class Form1Fixture
{
public:
    Form1Fixture();

    Form1 &Window() { return *window; }

    // What the next open-file dialogs return, in order; an empty string is a cancel.
    std::vector<QString> filesToChoose;
    std::vector<platform::OpenFileRequest> fileRequests;
    // Runs inside the file dialog, after the request is recorded.
    std::function<void()> whileFileDialogOpen;

    // What the next colour dialogs return and how they edit the custom colours.
    struct ColourAnswer
    {
        std::optional<analysis::ColourValue> colour;
        std::vector<std::pair<int, analysis::ColourValue>> edits;
    };
    std::vector<ColourAnswer> colourAnswers;
    std::vector<platform::CustomColours> coloursOffered;

    // Runs on the load's worker thread before the picture is loaded; a test can hold it there.
    std::function<void(const platform::PictureInput &)> beforeLoad;

    // What the screen capture reads as the screen.
    QImage screen;

    std::vector<QString> errors;
    // The details of each error, in step with errors.
    std::vector<QString> errorDetails;
    int endRequests = 0;
    bool endedWhileCalculating = false;

    // Colour of the swatch as painted on screen.
    [[nodiscard]] analysis::ColourValue ShownSwatch();
    [[nodiscard]] QString InfoText() const;
    [[nodiscard]] QString HexText() const;

    // Writes `image` as a file in a private folder and returns its path.
    QString SaveImage(const QImage &image, const QString &name, const char *format = nullptr);

private:
    QTemporaryDir folder;
    std::unique_ptr<Form1> window;
};

// A picture of two colours side by side; means worked out by hand in each test.
QImage TwoColourPicture(int width, int height, QRgb left, QRgb right);

// A picture whose first row is one colour and the rest another: a stop after row 0 shows the
// first row's means alone.
QImage FirstRowApart(int width, int height, QRgb firstRow, QRgb rest);

// The capture overlay once it shows, or null when it does not within ten seconds.
QWidget *WaitForShownOverlay();
