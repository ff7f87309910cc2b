#pragma once

#include "analysis/calc_color.h"
#include "platform/dialogs.h"
#include "platform/pic_box.h"
#include "platform/screen_source.h"
#include "platform/system_colours.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace capture {
class ScreenCapture;
}

// The main window: the image pane on the left, the two picture commands and the results on the
// right. Geometry is kept in twips, so the window keeps its proportions at any dpi.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    // Everything that would block or end the process, so tests can drive the window.
    struct Seams
    {
        // The open-file dialog: a full path, or empty when cancelled.
        std::function<QString(QWidget *owner, const platform::OpenFileRequest &request)> chooseFile
            = &platform::ChooseOpenFile;
        // The colour dialog; see platform::ChooseColour.
        std::function<std::optional<analysis::ColourValue>(
            QWidget *owner, platform::CustomColours &custom)>
            chooseColour = &platform::ChooseColour;
        std::function<void(QWidget *owner, const QString &text)> showError = &platform::ShowError;
        // Where the screen capture reads the screen from.
        std::function<std::unique_ptr<platform::ScreenSource>()> createScreenSource
            = &platform::CreateScreenSource;
        // Ends the process at once; runs when the window closes.
        std::function<void()> endProgram = &EndProgramNow;
    };

    explicit Form1(QWidget *parent = nullptr);
    explicit Form1(Seams seams, QWidget *parent = nullptr);
    ~Form1() override;

    // Average colour of whatever the pane holds now, shown in LblClr, Text1 and LbInfo. Yields
    // to the event loop once per row, so the window stays live and can start a newer run.
    void CalcColor();

    // The open-image command (a click on FileOpen): choose a file, load it composed over the
    // window's background, show it in the pane at its own size and analyse it.
    void OpenImage();
    // The background colour chooser (a double-click on the visible pane).
    void ChooseBackColour();
    // The stop gesture (a double-click on LbInfo): a running progress scan stops after its row.
    void StopCalculation();

    [[nodiscard]] platform::PicBox &Pane() { return *PicBox; }
    [[nodiscard]] const analysis::ColourScanner &Scanner() const { return scanner; }
    [[nodiscard]] double TwipsPerPixel() const;

    // Flushes what is buffered and ends the process without running any further handler.
    [[noreturn]] static void EndProgramNow();

    // The window's own background, a system colour reference; pictures are composed over it.
    static constexpr analysis::ColourValue BackColor = platform::kButtonFace;

    // The sixteen custom colours of the colour dialog, little-endian (red, green, blue, 0).
    std::array<std::uint8_t, 64> CustColors {};

    QPushButton *FileOpen = nullptr;
    QPushButton *ScreenCap = nullptr;
    QLabel *LblClr = nullptr;
    QLabel *Label1 = nullptr;
    QFrame *PicFrame = nullptr;
    platform::PicBox *PicBox = nullptr;
    QLineEdit *Text1 = nullptr;
    QLabel *LbInfo = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A control's place in twips, as the layout rule reads and writes it.
    struct Placement
    {
        QWidget *control;
        float left, top, width, height;
    };

    class Outputs;

    void CreateControls();
    void ApplyLayout();
    void PlaceControls();
    void FitFonts();
    [[nodiscard]] Placement &PlacementOf(const QWidget *control);

    Seams seams;
    analysis::ColourScanner scanner;
    // The frame's inner area: clips the pane to what fits inside the border.
    QWidget *paneViewport = nullptr;
    std::array<Placement, 7> placements {};
    // The colour dialog's last confirmed colour; nothing reads it to preselect a colour.
    analysis::ColourValue chosenColour = 0;
    // The screen capture command of ScreenCap; it owns the capture overlay.
    std::unique_ptr<capture::ScreenCapture> screenCapture;
};
