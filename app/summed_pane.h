#pragma once

#include "analysis/calc_color.h"
#include "analysis/row_sums.h"
#include "platform/pic_box.h"

#include <QtGlobal>

#include <cstdint>

namespace app {

// The image pane with the sums of the rows of the picture it was given, taken while the picture
// was decoded. A scan of the whole pane adds those up instead of reading the raster a second
// time, for as long as the raster is still that picture: every write to a QImage changes its
// cache key, so a raster drawn on since reads its pixels again.
struct SummedPane
{
    const platform::PicBox &pane;
    const analysis::RowSums &rows;
    qint64 pictureKey;

    [[nodiscard]] double Width() const { return pane.Width(); }
    [[nodiscard]] double Height() const { return pane.Height(); }
    [[nodiscard]] analysis::ColourValue ReadPixel(int x, int y) const
    {
        return pane.ReadPixel(x, y);
    }
    [[nodiscard]] bool RowInside(int y, int end) const { return pane.RowInside(y, end); }
    [[nodiscard]] analysis::ColourValue ReadPixelInside(int x, int y) const
    {
        return pane.ReadPixelInside(x, y);
    }
    [[nodiscard]] bool AddRowSums(
        std::int32_t y, std::int32_t W, analysis::ScanTotals &totals) const
    {
        const QImage &raster = pane.Raster();
        return W == rows.Width() && raster.width() == W && raster.height() == rows.Height()
            && raster.cacheKey() == pictureKey && rows.AddRow(y, totals);
    }
};

static_assert(analysis::RowSummedPixelSource<SummedPane>);
static_assert(analysis::CheckedRowPixelSource<SummedPane>);

} // namespace app
