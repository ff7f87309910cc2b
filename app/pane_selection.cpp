#include "app/pane_selection.h"

#include "app/pane_block.h"
#include "capture/magnifier.h"
#include "capture/readout_panel.h"
#include "platform/pic_box.h"

#include <QMouseEvent>
#include <QScrollArea>

#include <cmath>

namespace app {
namespace {

    // The live readout's results; the scan's start and progress have nothing to show.
    struct LiveOutputs
    {
        std::optional<analysis::ColourSummary> &average;
        void ScanStarted() { }
        void ScanProgress(std::int32_t, std::int32_t) { }
        void ScanFinished(const analysis::ColourSummary &summary) { average = summary; }
    };

} // namespace

PaneSelection::PaneSelection(platform::PicBox &pane, QScrollArea &scroller, QWidget &window)
    : QObject(&window)
    , pane(pane)
    , scroller(scroller)
    , window(window)
{
    setObjectName(QStringLiteral("PaneSelection"));
    panel = new capture::ReadoutPanel(&window);
    panel->hide();
    pane.installEventFilter(this);
}

bool PaneSelection::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &pane)
        return QObject::eventFilter(watched, event);
    // Cast only once the type says it is a mouse event: other events come through here too.
    const auto mouse = [event] { return static_cast<QMouseEvent *>(event); };
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (mouse()->button() != Qt::LeftButton)
            break;
        Press(mouse()->position());
        return true;
    case QEvent::MouseMove:
        if (!dragging)
            break;
        Move(mouse()->position());
        return true;
    case QEvent::MouseButtonRelease:
        if (!dragging || mouse()->button() != Qt::LeftButton)
            break;
        Release(mouse()->position());
        return true;
    default:
        break;
    }
    // The double-click goes on to the pane, which opens the background colour chooser.
    return QObject::eventFilter(watched, event);
}

QPointF PaneSelection::HeldToPane(QPointF position) const
{
    return capture::ClampToArea(position, QRect(QPoint(0, 0), pane.size()));
}

QRect PaneSelection::BandBlock() const
{
    return capture::BandBlock(band, QPoint(0, 0), pane.devicePixelRatioF(), pane.Raster().rect());
}

void PaneSelection::Press(QPointF position)
{
    const QPointF at
        = capture::ClampToArea(position, QRect(QPoint(0, 0), pane.size()).adjusted(0, 0, -1, -1));
    capture::PressBand(startPt, band, static_cast<float>(at.x()), static_cast<float>(at.y()));
    dragging = true;
    RefreshReadout(position, at);
    panel->show();
    panel->raise();
}

void PaneSelection::Move(QPointF position)
{
    const QPointF at = HeldToPane(position);
    capture::SpanBand(startPt, band, static_cast<float>(at.x()), static_cast<float>(at.y()));
    // A band may reach past what the frame shows: the pane scrolls along with its free corner.
    scroller.ensureVisible(static_cast<int>(at.x()), static_cast<int>(at.y()), 0, 0);
    RefreshReadout(position, at);
}

void PaneSelection::Release(QPointF position)
{
    const QPointF at = HeldToPane(position);
    capture::SpanBand(startPt, band, static_cast<float>(at.x()), static_cast<float>(at.y()));
    const QRect block = BandBlock();
    EndDrag();
    if (block.isEmpty()) {
        ChooseWhole();
        return;
    }
    // The band stays drawn over the whole picture while its part's results show.
    pane.SetMark(QRectF(band.Left, band.Top, band.Width, band.Height), true);
    part = block;
    emit PartChosen(block);
}

void PaneSelection::EndDrag()
{
    dragging = false;
    liveAverage.reset();
    panel->ShowReadout(false);
    panel->hide();
}

void PaneSelection::ChooseWhole()
{
    pane.SetMark(QRectF(), false);
    if (part.isEmpty())
        return; // the whole picture's results show already
    part = QRect();
    emit WholeChosen();
}

void PaneSelection::Cancel()
{
    if (dragging)
        EndDrag();
    ChooseWhole();
}

void PaneSelection::Forget()
{
    if (dragging)
        EndDrag();
    pane.SetMark(QRectF(), false);
    part = QRect();
}

void PaneSelection::RefreshReadout(QPointF pointer, QPointF corner)
{
    pane.SetMark(QRectF(band.Left, band.Top, band.Width, band.Height), true);
    const qreal ratio = pane.devicePixelRatioF();
    panel->Zoom().ShowAround(pane.Raster(),
        QPoint(static_cast<int>(std::floor(corner.x() * ratio)),
            static_cast<int>(std::floor(corner.y() * ratio))));

    // The same scan as the release's results, so the two never read differently.
    const QRect block = BandBlock();
    LiveOutputs outputs { liveAverage };
    liveScanner.CalcColor(
        PaneBlock { pane, block }, [] {}, outputs);
    panel->SetReadout(block.size(), *liveAverage);
    panel->ShowReadout(true);

    const auto inWindow = [this](QPointF p) { return pane.mapTo(&window, p.toPoint()); };
    panel->move(capture::PlaceReadout(panel->size(), inWindow(pointer), inWindow(corner),
        inWindow(QPointF(startPt.X, startPt.Y)), window.rect()));
}

} // namespace app
