// How long after the window shows the mean of a 24-megapixel picture its main colours appear,
// beside the mean's own scan, and what one pointer move costs while a band over the whole picture
// is dragged (the live readout sums the band anew); medians of RUNS (default 7).
// Usage: quillmere-window-bench [RUNS].
#include "app/form1.h"
#include "app/main_colour_row.h"
#include "app/main_colours_finder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMouseEvent>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Gradients under sensor-like noise, so that the colours fill many bins as a photo's do.
QImage PhotoLike(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::uint32_t state = 2463534242u;
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = static_cast<int>(state & 31u) - 16;
            row[x] = qRgb(std::clamp(x * 255 / width + noise, 0, 255),
                std::clamp(y * 255 / height + noise, 0, 255),
                std::clamp((x + y) * 255 / (width + height) - noise, 0, 255));
        }
    }
    return image;
}

double MedianMs(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Presses at the pane's corner and moves to its far corner and back, timing each move.
double MoveMs(Form1 &window, int runs)
{
    QWidget *pane = window.PicBox;
    const QPointF corners[] = { QPointF(0, 0), QPointF(pane->width(), pane->height()) };
    const auto send = [pane](QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent event(type, at, pane->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(pane, &event);
    };
    send(QEvent::MouseButtonPress, corners[0], Qt::LeftButton);
    std::vector<double> moves;
    for (int run = 0; run < 2 * runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        send(QEvent::MouseMove, corners[(run + 1) % 2], Qt::LeftButton);
        if (run % 2 == 0)
            moves.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    send(QEvent::MouseButtonRelease, corners[0], Qt::NoButton);
    return MedianMs(moves);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    Form1 window;
    window.show();
    const QImage picture = PhotoLike(6000, 4000);
    window.Pane().SetPaneVisible(true);
    window.Pane().SetPicture(picture);
    window.Pane().SetSize(picture.width(), picture.height());

    std::vector<double> means, rows;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        window.CalcColor();
        means.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        // The colours are posted from their worker: nothing has delivered them yet.
        QEventLoop loop;
        QObject::connect(
            &window.MainColoursSearch(), &app::MainColoursFinder::Found, &loop, &QEventLoop::quit);
        clock.restart();
        loop.exec();
        rows.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("6000 x 4000: mean shown after %.1f ms; main colours (%zu) %.1f ms after the mean "
                "(medians of %d)\n",
        MedianMs(means), window.MainColours->Colours().size(), MedianMs(rows), runs);
    std::printf("live readout of a band over all of it: %.1f ms a move\n", MoveMs(window, runs));
    std::fflush(stdout);
    std::_Exit(EXIT_SUCCESS);
}
