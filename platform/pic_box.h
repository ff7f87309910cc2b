#pragma once

#include "analysis/calc_color.h"
#include "analysis/colour_math.h"
#include "platform/system_colours.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRectF>
#include <QWidget>

#include <cstddef>

namespace platform {

// The image pane: a picture box with its own persistent raster that the picture sources draw
// into and the average-colour scan reads. Its size is measured in pixels of the raster; the raster
// keeps everything drawn into it whether or not the pane is on screen or cut off by its container.
class PicBox : public QWidget
{
    Q_OBJECT

public:
    explicit PicBox(QWidget *parent = nullptr);

    // Size in pixels (the scan rounds it half to even). The raster follows at once; a new size
    // shows the cleared state (background colour, then the picture at the top-left).
    [[nodiscard]] double Width() const { return paneWidth; }
    [[nodiscard]] double Height() const { return paneHeight; }
    void SetSize(double width, double height);

    // The pane's own visible flag, independent of whether its window is on screen. A hidden pane
    // shows nothing in its container and takes no double-click.
    [[nodiscard]] bool IsPaneVisible() const { return paneVisible; }
    void SetPaneVisible(bool visible);

    // Every raster pixel becomes the background colour, then the picture (if any) is drawn at
    // the top-left at its own size. The picture stays.
    void Clear();

    // Makes `picture` the pane's picture (releasing the previous one) and shows it at the
    // top-left over the background colour. The raster shares the picture's pixels while the
    // two have the same size and nothing has been drawn.
    void SetPicture(const QImage &picture);
    [[nodiscard]] const QImage &Picture() const { return picture; }

    // SetPicture then SetSize(width, height) in one step: the raster is drawn once, at the new
    // size, so a big earlier picture is not filled and copied at its own size on the way.
    void SetPictureAndSize(const QImage &picture, double width, double height);

    // 0x00BBGGRR, or a system colour reference (bit 31 set) resolved through the palette when the
    // pane is cleared. Setting it clears the pane at once.
    [[nodiscard]] analysis::ColourValue BackColor() const { return backColor; }
    void SetBackColor(analysis::ColourValue colour);

    // Plain copy of `sourceRect` (in source pixels) into the raster at `destination`; the parts
    // outside either image are skipped.
    void BlockCopy(const QImage &source, const QRect &sourceRect, const QPoint &destination);

    // Pixel of the raster as 0x00BBGGRR; 0xFFFFFFFF outside it. The bounds are read on every
    // call, since a scan nested in another one's yield may have changed the raster meanwhile.
    [[nodiscard]] analysis::ColourValue ReadPixel(int x, int y) const
    {
        if (x < 0 || y < 0 || x >= rasterWidth || y >= rasterHeight)
            return 0xFFFFFFFFu;
        return ReadPixelInside(x, y);
    }

    // True when pixels 0 .. end - 1 of row y lie inside the raster as it is now; the scan asks
    // once per row and then reads them without a bounds test per pixel.
    [[nodiscard]] bool RowInside(int y, int end) const
    {
        return y >= 0 && y < rasterHeight && end <= rasterWidth;
    }

    // ReadPixel for a point known to be inside (see RowInside).
    [[nodiscard]] analysis::ColourValue ReadPixelInside(int x, int y) const
    {
        const auto *row = reinterpret_cast<const QRgb *>(
            rasterBits + static_cast<std::ptrdiff_t>(y) * rasterStride);
        const QRgb p = row[x];
        return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
    }

    // The raster in Format_RGB32, exactly Width() x Height() pixels (rounded).
    [[nodiscard]] const QImage &Raster() const { return raster; }

    // An outline drawn over the picture on screen only (logical pixels of the pane); the raster
    // and the scan never see it. An empty `area` with `shown` false removes it.
    void SetMark(const QRectF &area, bool shown);
    [[nodiscard]] bool IsMarked() const { return marked; }

signals:
    void DoubleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    [[nodiscard]] QSize RasterSize() const;
    void Redraw(QSize size);
    void RasterChanged();
    void UpdateWidgetSize();
    [[nodiscard]] QRect MarkOutline() const;

    double paneWidth = 0;
    double paneHeight = 0;
    bool paneVisible = false;
    analysis::ColourValue backColor = kWindowBackground;
    QImage picture;
    QImage raster;
    QRectF markArea;
    bool marked = false;

    // Cached view of `raster` for the inline pixel read; refreshed on every change of it.
    const uchar *rasterBits = nullptr;
    qsizetype rasterStride = 0;
    int rasterWidth = 0;
    int rasterHeight = 0;
};

// The scan's vectorised row path must stay available to the window's scan.
static_assert(analysis::CheckedRowPixelSource<PicBox>);

} // namespace platform
