#include "capture/band_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace capture {
namespace {

    template <typename Int> Int RoundHalfEven(double value)
    {
        if (std::isnan(value))
            return 0;
        constexpr double lo = std::numeric_limits<Int>::min();
        constexpr double hi = std::numeric_limits<Int>::max();
        // nearbyint follows the default rounding mode, which is to nearest with ties to even.
        return static_cast<Int>(std::nearbyint(std::clamp(value, lo, hi)));
    }

} // namespace

std::int16_t RoundToInt16(double value) { return RoundHalfEven<std::int16_t>(value); }

std::int32_t RoundToInt32(double value) { return RoundHalfEven<std::int32_t>(value); }

void PressBand(StartPoint &startPt, Band &band, float x, float y)
{
    startPt.X = RoundToInt16(x);
    startPt.Y = RoundToInt16(y);
    band.Left = x;
    band.Top = y;
    band.Width = 0;
    band.Height = 0;
    band.Visible = true;
}

void SpanBand(const StartPoint &startPt, Band &band, float x, float y)
{
    const float startX = startPt.X;
    const float startY = startPt.Y;
    band.Left = startX > x ? x : startX;
    band.Top = startY > y ? y : startY;
    band.Width = std::fabs(startX - x);
    band.Height = std::fabs(startY - y);
}

QRect BandSourceRect(const Band &band, qreal devicePixelRatio)
{
    const double scale = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    // QRect(x, y, w, h), never the two-corner form, whose bottom-right corner is inclusive.
    return QRect(RoundToInt32(band.Left * scale), RoundToInt32(band.Top * scale),
        std::max(0, RoundToInt32(band.Width * scale)),
        std::max(0, RoundToInt32(band.Height * scale)));
}

QRect BandBlock(const Band &band, QPoint origin, qreal devicePixelRatio, const QRect &image)
{
    Band local = band;
    local.Left -= static_cast<float>(origin.x());
    local.Top -= static_cast<float>(origin.y());
    const QRect block = BandSourceRect(local, devicePixelRatio).intersected(image);
    // An empty intersection may come back with a negative size: none at all is meant.
    return block.isEmpty() ? QRect(block.topLeft(), QSize(0, 0)) : block;
}

QPointF ClampToArea(QPointF point, const QRect &area)
{
    return QPointF(std::clamp<qreal>(point.x(), area.left(), area.left() + area.width()),
        std::clamp<qreal>(point.y(), area.top(), area.top() + area.height()));
}

QPoint PlaceReadout(
    QSize panel, QPoint pointer, QPoint freeCorner, QPoint start, const QRect &screen)
{
    // A panel bigger than the screen starts at the screen's edge.
    const auto clampInto = [](int at, int size, int low, int extent) {
        return std::max(low, std::min(at, low + extent - size));
    };
    const auto keepsClear = [&](const QRect &rect) {
        const QRect grown = rect.adjusted(-kReadoutGap, -kReadoutGap, kReadoutGap, kReadoutGap);
        return !grown.contains(pointer) && !grown.contains(freeCorner);
    };
    const bool right = freeCorner.x() >= start.x();
    const bool below = freeCorner.y() >= start.y();
    // The keep-out square reaches kReadoutGap pixels past the panel on every side.
    const int xs[2]
        = { freeCorner.x() + kReadoutGap + 1, freeCorner.x() - kReadoutGap - panel.width() };
    const int ys[2]
        = { freeCorner.y() + kReadoutGap + 1, freeCorner.y() - kReadoutGap - panel.height() };
    // Away from the band first, then beside it, then towards it.
    const std::pair<int, int> order[4]
        = { { right ? 0 : 1, below ? 0 : 1 }, { right ? 1 : 0, below ? 0 : 1 },
              { right ? 0 : 1, below ? 1 : 0 }, { right ? 1 : 0, below ? 1 : 0 } };
    QPoint first;
    for (int i = 0; i < 4; ++i) {
        const QPoint at(clampInto(xs[order[i].first], panel.width(), screen.left(), screen.width()),
            clampInto(ys[order[i].second], panel.height(), screen.top(), screen.height()));
        if (i == 0)
            first = at;
        if (keepsClear(QRect(at, panel)))
            return at;
    }
    // A screen too small for any clear place: on screen still matters more.
    return first;
}

} // namespace capture
