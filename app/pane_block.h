#pragma once

#include "analysis/calc_color.h"
#include "platform/pic_box.h"

#include <QRect>

namespace app {

// A block of the image pane's raster as a pixel source of its own, so a part of the picture goes
// through the same scan as the whole of it. Pixel (0, 0) is the block's top-left; reads beyond
// the raster as it is now give 0xFFFFFFFF, as the pane's own reads do.
struct PaneBlock
{
    const platform::PicBox &pane;
    QRect block;

    [[nodiscard]] double Width() const { return block.width(); }
    [[nodiscard]] double Height() const { return block.height(); }
    [[nodiscard]] analysis::ColourValue ReadPixel(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= block.width() || y >= block.height())
            return 0xFFFFFFFFu;
        return pane.ReadPixel(x + block.x(), y + block.y());
    }
    [[nodiscard]] bool RowInside(int y, int end) const
    {
        return y >= 0 && y < block.height() && end <= block.width() && block.x() >= 0
            && pane.RowInside(y + block.y(), end + block.x());
    }
    [[nodiscard]] analysis::ColourValue ReadPixelInside(int x, int y) const
    {
        return pane.ReadPixelInside(x + block.x(), y + block.y());
    }
};

static_assert(analysis::CheckedRowPixelSource<PaneBlock>);

} // namespace app
