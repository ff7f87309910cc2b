#include "app/form1.h"

#include "app/main_colour_row.h"
#include "app/main_colours_finder.h"
#include "app/pane_block.h"
#include "app/pane_selection.h"
#include "app/scan_texts.h"
#include "app/summed_pane.h"
#include "capture/colour_copy.h"
#include "capture/readout_panel.h"
#include "capture/release_steps.h"
#include "capture/screen_capture.h"
#include "imaging/mod_gdi_plus_resize.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QEvent>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <system_error>

namespace {

// The open dialog's title and first entry, in the desktop's language; the patterns stay.
platform::OpenFileRequest PictureFileRequest()
{
    platform::OpenFileRequest request;
    request.title = Form1::tr("打开图片文件");
    request.filter
        = platform::PictureFilter(Form1::tr("所有图片文件"), imaging::DecoderHome::BuiltIn);
    request.folder = QCoreApplication::applicationDirPath();
    return request;
}

// Client area at start, in twips.
constexpr float kStartWidth = 6960;
constexpr float kStartHeight = 5400;
// The pane's design size in twips; it only matters until a picture source sizes it.
constexpr float kPaneDesignWidth = 5175;
constexpr float kPaneDesignHeight = 3975;

QColor ToQColor(analysis::ColourValue colour)
{
    return QColor(
        analysis::GetRValue(colour), analysis::GetGValue(colour), analysis::GetBValue(colour));
}

void SetBackground(QWidget &widget, analysis::ColourValue colour)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, ToQColor(platform::ResolveColour(colour)));
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

// The largest size, at most `base`'s, at which `fits` holds; the controls keep the sizes the
// window was designed with, so a font wider than the one they were made for has to shrink.
QFont FittedFont(QFont font, const std::function<bool(const QFontMetrics &)> &fits)
{
    constexpr double kSmallest = 6.0;
    while (!fits(QFontMetrics(font)) && font.pointSizeF() - 0.25 >= kSmallest)
        font.setPointSizeF(font.pointSizeF() - 0.25);
    return font;
}

} // namespace

// The three controls the scan's results go into.
class Form1::Outputs
{
public:
    explicit Outputs(Form1 &window)
        : window(window)
    {
    }

    void ScanStarted()
    {
        window.shownResult.reset();
        window.mainColoursFinder->Stop();
        window.MainColours->Clear();
        window.LbInfo->setText(app::WaitText());
    }
    void ScanProgress(std::int32_t rowsDone, std::int32_t rows)
    {
        window.LbInfo->setText(app::ProgressText(rowsDone, rows));
    }
    void ScanFinished(const analysis::ColourSummary &summary)
    {
        window.Text1->setText(app::HexText(summary));
        SetBackground(*window.LblClr, summary.swatch);
        window.LbInfo->setText(app::InfoText(summary));
        window.shownResult = summary;
        // A scan that ran to its end; a stopped one leaves the main colours alone too.
        if (window.scanner.IsCalculating())
            window.FindMainColours();
    }

private:
    Form1 &window;
};

Form1::Form1(QWidget *parent)
    : Form1(Seams {}, parent)
{
}

Form1::Form1(Seams seams, QWidget *parent)
    : QWidget(parent)
    , seams(std::move(seams))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quillmere"));
    SetBackground(*this, BackColor);
    CreateControls();

    const double twips = TwipsPerPixel();
    const QSize client(static_cast<int>(std::nearbyint(kStartWidth / twips)),
        static_cast<int>(std::nearbyint(kStartHeight / twips)));
    const QRect screenArea = screen() ? screen()->availableGeometry() : QRect(QPoint(), client);
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, client, screenArea));
}

Form1::~Form1()
{
    // A load still running finishes into its own state; the window must outlive no worker.
    for (auto &[load, worker] : loaders)
        worker.join();
}

void Form1::CreateControls()
{
    FileOpen = new QPushButton(tr("打开文件"), this);
    FileOpen->setObjectName(QStringLiteral("FileOpen"));
    ScreenCap = new QPushButton(tr("屏幕截图"), this);
    ScreenCap->setObjectName(QStringLiteral("ScreenCap"));

    LblClr = new QLabel(this);
    LblClr->setObjectName(QStringLiteral("LblClr"));
    LblClr->setFrameStyle(QFrame::Box | QFrame::Plain);
    LblClr->setLineWidth(1);
    SetBackground(*LblClr, 0x00FFFFFF);
    // Screen readers read a label's name instead of its text: labels get a description only.
    LblClr->setAccessibleDescription(tr("平均色色块"));

    Label1 = new QLabel(tr("平均色信息："), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);

    CreatePane();

    Text1 = new QLineEdit(QStringLiteral("#000000"), this);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setAccessibleName(tr("平均色十六进制值"));

    LbInfo = new QLabel(this);
    LbInfo->setObjectName(QStringLiteral("LbInfo"));
    LbInfo->setTextFormat(Qt::PlainText);
    LbInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LbInfo->setAccessibleDescription(tr("平均色信息"));
    LbInfo->installEventFilter(this);

    MainColours = new app::MainColourRow(this);
    mainColoursFinder = new app::MainColoursFinder(this);
    connect(mainColoursFinder, &app::MainColoursFinder::Found, MainColours,
        &app::MainColourRow::ShowColours);

    LblSpace = new QLabel(this);
    LblSpace->setObjectName(QStringLiteral("LblSpace"));
    LblSpace->setTextFormat(Qt::PlainText);
    LblSpace->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LblSpace->setWordWrap(true);
    LblSpace->setAccessibleDescription(tr("图片的颜色空间"));
    LblSpace->hide();

    // Focus order FileOpen, ScreenCap, Text1; labels, the frame and the pane never take focus.
    for (QWidget *control : { static_cast<QWidget *>(LblClr), static_cast<QWidget *>(Label1),
             static_cast<QWidget *>(PicFrame), static_cast<QWidget *>(paneScroller),
             static_cast<QWidget *>(PicBox), static_cast<QWidget *>(LbInfo),
             static_cast<QWidget *>(LblSpace) })
        control->setFocusPolicy(Qt::NoFocus);
    setTabOrder(FileOpen, ScreenCap);
    setTabOrder(ScreenCap, Text1);
    FileOpen->setFocus();

    placements = { {
        { FileOpen, 5280, 120, 1455, 375 },
        { ScreenCap, 5280, 600, 1455, 375 },
        { LblClr, 5280, 1080, 1455, 375 },
        { Label1, 5280, 1560, 1455, 255 },
        { PicFrame, 0, 0, 5175, 3975 },
        { Text1, 6120, 2400, 735, 270 },
        { LbInfo, 5280, 1800, 1455, 615 },
        { MainColours, 5280, 2760, 1455, 540 },
        // The column's free space under the main colours, so that the window keeps its size.
        { LblSpace, 5280, 3360, 1455, 1440 },
    } };
    PlaceControls();
    FitFonts();

    ConnectCommands();
}

void Form1::CreatePane()
{
    PicFrame = new QFrame(this);
    PicFrame->setObjectName(QStringLiteral("PicFrame"));
    PicFrame->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    SetBackground(*PicFrame, platform::kButtonFace);
    paneScroller = new QScrollArea(PicFrame);
    paneScroller->setObjectName(QStringLiteral("PicFrameInside"));
    paneScroller->setFrameShape(QFrame::NoFrame);
    paneScroller->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The frame's own background shows where the pane does not reach, as without scrolling.
    paneScroller->setAutoFillBackground(false);
    paneScroller->viewport()->setAutoFillBackground(false);
    paneScroller->horizontalScrollBar()->setObjectName(QStringLiteral("PicFrameAcross"));
    paneScroller->verticalScrollBar()->setObjectName(QStringLiteral("PicFrameDown"));

    PicBox = new platform::PicBox;
    PicBox->setToolTip(tr("双击选择背景颜色"));
    PicBox->SetBackColor(platform::kWindowBackground);
    const double twips = TwipsPerPixel();
    PicBox->SetSize(kPaneDesignWidth / twips, kPaneDesignHeight / twips);
    paneScroller->setWidget(PicBox);
    // The scroll area shows what it takes and fills its background; the pane paints every pixel
    // itself and stays hidden until a picture source shows it.
    PicBox->setAutoFillBackground(false);
    PicBox->SetPaneVisible(false);
    selection = new app::PaneSelection(*PicBox, *paneScroller, *this);
}

void Form1::ConnectCommands()
{
    connect(FileOpen, &QPushButton::clicked, this, &Form1::OpenImage);
    connect(PicBox, &platform::PicBox::DoubleClicked, this, &Form1::ChooseBackColour);
    screenCapture = std::make_unique<capture::ScreenCapture>(
        this, seams.createScreenSource, [this](const QString &text, const QString &details) {
            seams.showError(this, text, details);
        });
    connect(screenCapture.get(), &capture::ScreenCapture::BlockCaptured, this,
        &Form1::ShowCapturedBlock);
    connect(ScreenCap, &QPushButton::clicked, this, [this] { screenCapture->Run(); });

    setAcceptDrops(true);
    auto *paste = new QShortcut(QKeySequence::Paste, this);
    connect(paste, &QShortcut::activated, this, &Form1::PasteImage);
    connect(selection, &app::PaneSelection::PartChosen, this, &Form1::CalcColor);
    connect(selection, &app::PaneSelection::WholeChosen, this, &Form1::CalcColor);
    auto *copy = new QShortcut(QKeySequence::Copy, this);
    connect(copy, &QShortcut::activated, this, &Form1::CopyResult);
    for (QWidget *control : { static_cast<QWidget *>(LblClr), static_cast<QWidget *>(Text1),
             static_cast<QWidget *>(LbInfo) }) {
        control->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(control, &QWidget::customContextMenuRequested, this,
            [this, control](QPoint position) { ShowCopyMenu(control, position); });
    }
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, selection, &app::PaneSelection::Cancel);
    Text1->installEventFilter(this);
}

double Form1::TwipsPerPixel() const
{
    const int dpi = logicalDpiX();
    return 1440.0 / (dpi > 0 ? dpi : 96);
}

Form1::Placement &Form1::PlacementOf(const QWidget *control)
{
    return *std::find_if(placements.begin(), placements.end(),
        [control](const Placement &p) { return p.control == control; });
}

void Form1::ApplyLayout()
{
    if (isMinimized())
        return;
    const double twips = TwipsPerPixel();
    // The client width is read afresh for every step, as the rule is written.
    const auto W = [this, twips] { return static_cast<float>(width() * twips); };
    const float H = static_cast<float>(height() * twips);
    PlacementOf(FileOpen).left = W() - 1575;
    PlacementOf(ScreenCap).left = W() - 1575;
    PlacementOf(LblClr).left = W() - 1575;
    PlacementOf(Label1).left = W() - 1575;
    PlacementOf(LbInfo).left = W() - 1575;
    PlacementOf(MainColours).left = W() - 1575;
    PlacementOf(LblSpace).left = W() - 1575;
    PlacementOf(Text1).left = W() - 855;
    PlacementOf(PicFrame).height = H;
    // Below 1680 twips of client width the frame would get a negative width: it keeps 0.
    PlacementOf(PicFrame).width = std::max(0.0f, W() - 1680);
    PlaceControls();
}

void Form1::PlaceControls()
{
    const double twips = TwipsPerPixel();
    const auto pixels = [twips](float value) {
        return static_cast<int>(std::nearbyint(static_cast<double>(value) / twips));
    };
    for (const Placement &p : placements)
        p.control->setGeometry(pixels(p.left), pixels(p.top), std::max(0, pixels(p.width)),
            std::max(0, pixels(p.height)));
    paneScroller->setGeometry(PicFrame->contentsRect());
}

void Form1::FitFonts()
{
    // Three lines of results, or the progress text, within the label's height.
    const QSize info = LbInfo->contentsRect().size();
    const QString waitText = app::WaitText();
    const QString stopHint = app::StopHint();
    LbInfo->setFont(FittedFont(LbInfo->font(), [&](const QFontMetrics &metrics) {
        // A translated stop hint may take two lines, so that it fits without shrinking the font.
        int widest = std::max(metrics.horizontalAdvance(QStringLiteral("R:255 H:360")),
            metrics.horizontalAdvance(waitText + QStringLiteral("100%")));
        for (const QString &line : stopHint.split(QLatin1Char('\n')))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        return 3 * metrics.lineSpacing() <= info.height() && widest <= info.width();
    }));

    // The colour-space line wraps within its label; the longest texts it may show must fit too.
    const QRect space = LblSpace->contentsRect();
    const QString spaceTexts[] = {
        app::ColourSpaceText(
            imaging::ColourReport { "Adobe RGB (1998)", true, false, false, 1 }, 3),
        app::ColourSpaceText(imaging::ColourReport { "sRGB", false, true, false, 0 }, 1),
    };
    LblSpace->setFont(FittedFont(LbInfo->font(), [&](const QFontMetrics &metrics) {
        return std::all_of(std::begin(spaceTexts), std::end(spaceTexts), [&](const QString &text) {
            return space.contains(
                metrics.boundingRect(space, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text));
        });
    }));

    // The hex text in fixed-width digits, so that every colour fits the box the same way.
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPointSizeF(Text1->font().pointSizeF());
    const int frame = 2 * Text1->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, Text1);
    // QLineEdit keeps two pixels on each side of the text, and one for the cursor.
    const QSize hex(Text1->width() - frame - 5, Text1->height() - frame);
    Text1->setFont(FittedFont(digits, [hex](const QFontMetrics &metrics) {
        return metrics.horizontalAdvance(QStringLiteral("#DDDDDD")) <= hex.width()
            && metrics.height() <= hex.height();
    }));
}

void Form1::ShowColourSpace(const QString &text)
{
    LblSpace->setText(text);
    // Hidden when empty, so that the window of an sRGB picture is the one it always was.
    LblSpace->setVisible(!text.isEmpty());
}

void Form1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    ApplyLayout();
}

void Form1::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // Restoring from minimised may come without a resize.
    if (event->type() == QEvent::WindowStateChange)
        ApplyLayout();
}

void Form1::closeEvent(QCloseEvent *event)
{
    event->accept();
    seams.endProgram();
}

void Form1::EndProgramNow()
{
    // The program ends here, also from inside a scan's yield or with the capture overlay alive:
    // no destructor, no further handler and no unfinished scan may run after the window closed.
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == LbInfo && event->type() == QEvent::MouseButtonDblClick) {
        StopCalculation();
        return true;
    }
    // The hex box would take Ctrl+V as a text paste; with a picture on the clipboard the
    // window's paste wins, otherwise the box pastes text as usual.
    if (watched == Text1 && event->type() == QEvent::ShortcutOverride
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Paste)) {
        const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
        if (mime && platform::OffersPicture(*mime))
            return true;
    }
    // Likewise Ctrl+C: a selection in the hex box is copied as selected, otherwise the result.
    if (watched == Text1 && event->type() == QEvent::ShortcutOverride
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)
        && !Text1->hasSelectedText())
        return true;
    return QWidget::eventFilter(watched, event);
}

void Form1::CalcColor()
{
    Outputs outputs(*this);
    const auto yield = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
    const QRect part = selection->Part();
    // Held here: a newer picture opened from the scan's yield replaces the window's.
    const std::shared_ptr<const analysis::RowSums> rows = pictureRows;
    if (part.isEmpty() && rows)
        scanner.CalcColor(app::SummedPane { *PicBox, *rows, pictureRowsKey }, yield, outputs);
    else if (part.isEmpty())
        scanner.CalcColor(*PicBox, yield, outputs);
    else
        scanner.CalcColor(app::PaneBlock { *PicBox, part }, yield, outputs);
}

void Form1::StopCalculation()
{
    scanner.StopGesture();
    mainColoursFinder->Stop();
}

void Form1::FindMainColours()
{
    const QRect part = selection->Part();
    mainColoursFinder->Start(PicBox->Raster(), part.isEmpty() ? PicBox->Raster().rect() : part);
}

void Form1::CopyResult()
{
    if (selection->IsDragging())
        selection->Readout().CopyHex();
    else if (shownResult)
        capture::CopyColour(imaging::ColourForm::Hex, *shownResult);
}

QMenu *Form1::CreateCopyMenu(QWidget *control)
{
    QMenu *menu = nullptr;
    if (control == Text1) {
        // The hex box keeps its editing commands below the copy forms.
        menu = Text1->createStandardContextMenu();
        if (shownResult) {
            QAction *first = menu->actions().value(0);
            capture::AddCopyActions(*menu, *shownResult, first);
            menu->insertSeparator(first);
        }
        return menu;
    }
    if (!shownResult)
        return nullptr;
    menu = new QMenu(control);
    capture::AddCopyActions(*menu, *shownResult);
    return menu;
}

void Form1::ShowCopyMenu(QWidget *control, QPoint position)
{
    QMenu *menu = CreateCopyMenu(control);
    if (!menu)
        return;
    menu->setObjectName(QStringLiteral("CopyMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Not exec(): the window's scans and loads go on while the menu is open.
    menu->popup(control->mapToGlobal(position));
}

void Form1::ShowCapturedBlock(const QImage &pixels, const QRect &block)
{
    // The captured region is the newest picture: a load still running is dropped.
    DropPendingLoad();
    // The capture's pixels are sRGB already: X11 display profiles were converted on the way.
    ShowColourSpace(QString());
    pictureRows.reset();
    selection->Forget();
    capture::ShowBlock(*PicBox, pixels, block);
    CalcColor();
}

void Form1::OpenImage()
{
    PicBox->Clear();
    const QString path = seams.chooseFile(this, PictureFileRequest());
    if (path.isEmpty())
        return;

    OpenPath(path);
}

void Form1::OpenPath(const QString &path)
{
    platform::PictureInput input;
    input.path = path;
    OpenPicture(input);
}

void Form1::OpenPicture(const platform::PictureInput &input)
{
    analysis::ColourValue colour = BackColor;
    if (platform::IsSystemColour(colour))
        colour = 0x00FFFFFF;

    // The picture is loaded before anything is committed, so a file that cannot be read leaves
    // the pane's picture, size and visibility, and the results, as they were. An older load
    // still waiting stops waiting once this call returns, and its picture is dropped.
    DropPendingLoad();
    auto load = std::make_shared<Load>();
    newestLoad = load;
    const auto run = [load, input, colour, loadPicture = seams.loadPicture] {
        // Nothing may escape a worker thread: any failure is the load error.
        try {
            load->result = loadPicture(input, colour);
        } catch (...) {
            load->result = app::LoadedPicture {};
            load->result.failure
                = modGDIPlusResize::LoadError(input.path.isEmpty() ? input.name : input.path)
                      .Description();
        }
    };
    try {
        loaders.emplace(load.get(), std::thread([this, load, run] {
            run();
            QMetaObject::invokeMethod(
                this, [this, load] { FinishLoad(load); }, Qt::QueuedConnection);
        }));
    } catch (const std::system_error &) {
        run(); // no thread to be had: load here, with the window waiting
        load->finished = true;
    }
    // After the worker's start: the pointer's change costs the display server a round trip and
    // the cursor theme a read, which the decoding need not wait for.
    setCursor(Qt::BusyCursor);
    if (!load->finished) {
        QEventLoop loop;
        load->waiting = &loop;
        loop.exec();
        load->waiting = nullptr;
    }
    if (load != newestLoad)
        return; // a newer picture took over
    newestLoad.reset();
    unsetCursor();

    app::LoadedPicture &loaded = load->result;
    if (!loaded.failure.isEmpty()) {
        seams.showError(this, loaded.failure, app::LoadFailureMessage(loaded.reason));
        return;
    }
    if (!PicBox->IsPaneVisible())
        PicBox->SetPaneVisible(true);
    selection->Forget();
    PicBox->SetPictureAndSize(loaded.picture, loaded.width, loaded.height);
    loaded.picture = QImage(); // the pane holds the only reference now
    // The sums are of the loaded picture's pixels: they stand for the raster while it shares them.
    pictureRows.reset();
    if (loaded.rows && PicBox->Raster().cacheKey() == PicBox->Picture().cacheKey()) {
        pictureRows = std::move(loaded.rows);
        pictureRowsKey = PicBox->Raster().cacheKey();
    }
    ShowColourSpace(app::ColourSpaceText(loaded.colour,
        static_cast<std::uint64_t>(std::max(0, loaded.width))
            * static_cast<std::uint64_t>(std::max(0, loaded.height))));
    CalcColor();
    emit PictureShown();
}

void Form1::DropPendingLoad()
{
    if (!newestLoad)
        return;
    if (newestLoad->waiting)
        newestLoad->waiting->quit();
    newestLoad.reset();
    unsetCursor();
}

void Form1::FinishLoad(const std::shared_ptr<Load> &load)
{
    load->finished = true;
    // The worker's last act was to post this, so the join is immediate.
    const auto worker = loaders.find(load.get());
    if (worker != loaders.end()) {
        worker->second.join();
        loaders.erase(worker);
    }
    if (load->waiting)
        load->waiting->quit();
}

void Form1::PasteImage()
{
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData();
    if (!mime)
        return;
    const std::optional<platform::PictureInput> input
        = platform::PictureFromMime(*mime, QStringLiteral("(clipboard)"));
    if (input)
        OpenPicture(*input);
}

void Form1::dragEnterEvent(QDragEnterEvent *event)
{
    if (platform::OffersPicture(*event->mimeData()))
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent *event)
{
    const std::optional<platform::PictureInput> input
        = platform::PictureFromMime(*event->mimeData(), QStringLiteral("(dropped picture)"));
    if (!input)
        return;
    event->acceptProposedAction();
    // The drag source waits for the drop to be answered: open the picture after that.
    QTimer::singleShot(0, this, [this, picture = *input] { OpenPicture(picture); });
}

void Form1::ChooseBackColour()
{
    platform::CustomColours custom;
    for (std::size_t k = 0; k < custom.size(); ++k)
        custom[k] = static_cast<analysis::ColourValue>(CustColors[4 * k])
            | static_cast<analysis::ColourValue>(CustColors[4 * k + 1]) << 8
            | static_cast<analysis::ColourValue>(CustColors[4 * k + 2]) << 16
            | static_cast<analysis::ColourValue>(CustColors[4 * k + 3]) << 24;
    const std::optional<analysis::ColourValue> result = seams.chooseColour(this, custom);
    if (!result)
        return;
    chosenColour = *result;
    PicBox->SetBackColor(chosenColour);
    for (std::size_t k = 0; k < custom.size(); ++k)
        for (std::size_t b = 0; b < 4; ++b)
            CustColors[4 * k + b] = static_cast<std::uint8_t>(custom[k] >> (8 * b));
}
