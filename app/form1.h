#pragma once

#include "analysis/calc_color.h"
#include "app/picture_load.h"
#include "platform/dialogs.h"
#include "platform/pic_box.h"
#include "platform/screen_source_factory.h"
#include "platform/system_colours.h"

#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>

class QFrame;
class QLabel;
class QEventLoop;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;

namespace capture {
class ScreenCapture;
}

namespace app {
class MainColourRow;
class MainColoursFinder;
class PaneSelection;
} // namespace app

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
        // The error message box; details (the reason, where known) may be empty.
        std::function<void(QWidget *owner, const QString &text, const QString &details)> showError
            = &platform::ShowError;
        // Where the screen capture reads the screen from.
        std::function<std::unique_ptr<platform::ScreenSource>()> createScreenSource
            = &platform::CreateScreenSource;
        // Ends the process at once; runs when the window closes.
        std::function<void()> endProgram = &EndProgramNow;
        // Loads a picture; runs on a worker thread of its own while the window stays live.
        std::function<app::LoadedPicture(const platform::PictureInput &, analysis::ColourValue)>
            loadPicture = &app::LoadPicture;
    };

    explicit Form1(QWidget *parent = nullptr);
    explicit Form1(Seams seams, QWidget *parent = nullptr);
    ~Form1() override;

    // Average colour of whatever the pane holds now, or of the part of it chosen with the band,
    // shown in LblClr, Text1 and LbInfo. Yields
    // to the event loop after the first row and then about every 16 ms, so the window stays live
    // and can start a newer run without the yields costing more than the scan.
    void CalcColor();

    // The open-image command (a click on FileOpen): choose a file, load it composed over the
    // window's background, show it in the pane at its own size and analyse it.
    void OpenImage();
    // What the open command does once a file is chosen, also for drops, paste and the command
    // line: load the picture on a worker thread while the window goes on (busy pointer, repaints,
    // close), then show it and analyse it, or report the load error and keep everything. A newer
    // picture arriving meanwhile wins; the older one is dropped when its load ends.
    void OpenPicture(const platform::PictureInput &input);
    void OpenPath(const QString &path);
    // Ctrl+V: the clipboard's picture (image data or a copied file), if it holds one.
    void PasteImage();
    [[nodiscard]] bool IsLoading() const { return newestLoad != nullptr; }
    // Loads whose worker has not ended yet, also those a newer picture overtook.
    [[nodiscard]] std::size_t LoadsRunning() const { return loaders.size(); }

    // The background colour chooser (a double-click on the visible pane).
    void ChooseBackColour();
    // The stop gesture (a double-click on LbInfo): a running progress scan stops after its row,
    // and the main colours are not looked for.
    void StopCalculation();
    // The end of a screen capture: the pane takes the block of `pixels` and is analysed.
    void ShowCapturedBlock(const QImage &pixels, const QRect &block);

    // Ctrl+C: the result as "#RRGGBB" on the clipboard, or the band's live average while one is
    // dragged over the pane. Nothing while a scan runs or before the first result.
    void CopyResult();
    // The context menu of LblClr, Text1 and LbInfo: every form of the result named with its
    // value, each copying it; null when there is no result to copy. The caller owns it.
    [[nodiscard]] QMenu *CreateCopyMenu(QWidget *control);
    // The result the window shows, as the scan gave it; none while a scan runs.
    [[nodiscard]] const std::optional<analysis::ColourSummary> &ShownResult() const
    {
        return shownResult;
    }

    [[nodiscard]] platform::PicBox &Pane() { return *PicBox; }
    // The band over the pane and the part of the picture it chose.
    [[nodiscard]] app::PaneSelection &Selection() { return *selection; }
    // The frame's inner area, which scrolls when the picture is larger than it.
    [[nodiscard]] QScrollArea &PaneScroller() { return *paneScroller; }
    [[nodiscard]] app::MainColoursFinder &MainColoursSearch() { return *mainColoursFinder; }
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
    // Under Text1: the main colours of what the results are of, found after the mean.
    app::MainColourRow *MainColours = nullptr;
    // Under them: the colour space the shown picture was converted from; hidden for sRGB.
    QLabel *LblSpace = nullptr;

signals:
    // A picture from OpenPicture is shown with its results.
    void PictureShown();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
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

    // One picture being loaded; touched by its worker only until the worker posts its end.
    struct Load
    {
        app::LoadedPicture result;
        bool finished = false;
        // The event loop of the OpenPicture call waiting for this load, while it waits.
        QEventLoop *waiting = nullptr;
    };
    void FinishLoad(const std::shared_ptr<Load> &load);
    // A newer picture is on its way or already in the pane: the load still running is not
    // waited for, and its picture will be dropped.
    void DropPendingLoad();

    void CreateControls();
    // The frame, its scrolling inside, the pane and the band over it.
    void CreatePane();
    // The buttons, shortcuts and context menus to the commands they give.
    void ConnectCommands();
    void ApplyLayout();
    void PlaceControls();
    void FitFonts();
    void ShowColourSpace(const QString &text);
    void ShowCopyMenu(QWidget *control, QPoint position);
    void FindMainColours();
    [[nodiscard]] Placement &PlacementOf(const QWidget *control);

    Seams seams;
    analysis::ColourScanner scanner;
    // The frame's inner area: clips the pane to what fits inside the border, and scrolls it when
    // it is larger.
    QScrollArea *paneScroller = nullptr;
    app::PaneSelection *selection = nullptr;
    std::optional<analysis::ColourSummary> shownResult;
    app::MainColoursFinder *mainColoursFinder = nullptr;
    std::array<Placement, 9> placements {};
    // The colour dialog's last confirmed colour; nothing reads it to preselect a colour.
    analysis::ColourValue chosenColour = 0;
    // The screen capture command of ScreenCap; it owns the capture overlay.
    std::unique_ptr<capture::ScreenCapture> screenCapture;
    // The row sums of the picture last opened, and the cache key of the pane's raster that holds
    // it; the scan of the whole pane adds them up while the raster is unchanged.
    std::shared_ptr<const analysis::RowSums> pictureRows;
    qint64 pictureRowsKey = 0;
    // The load whose picture is to be shown next; null when none is running.
    std::shared_ptr<Load> newestLoad;
    // Worker threads still running, joined when their load ends or the window goes.
    std::map<const Load *, std::thread> loaders;
};
