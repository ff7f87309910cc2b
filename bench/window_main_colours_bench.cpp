// How long after the window shows the mean of a 24-megapixel picture its main colours appear,
// beside the mean's own scan, median of RUNS (default 7). Usage: quillmere-window-bench [RUNS].
#include "app/form1.h"
#include "app/main_colour_row.h"
#include "app/main_colours_finder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

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
        QObject::connect(&window.MainColoursSearch(), &app::MainColoursFinder::Found, &loop,
            &QEventLoop::quit);
        clock.restart();
        loop.exec();
        rows.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("6000 x 4000: mean shown after %.1f ms; main colours (%zu) %.1f ms after the mean "
                "(medians of %d)\n",
        MedianMs(means), window.MainColours->Colours().size(), MedianMs(rows), runs);
    std::fflush(stdout);
    std::_Exit(EXIT_SUCCESS);
}
