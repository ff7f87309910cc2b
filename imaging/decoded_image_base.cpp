// What every decoder shares; built into the formats module as well as the loader.
#include "imaging/decoded_image.h"

#include <utility>

namespace imaging {

Raster DecodedImage::TakeRaster() { return AllocateRaster(size); }

void DecodedImage::SetColourOptions(ColourOptions options)
{
    // Built for raw draws too, so the report still names the colours the picture came in.
    converter = ColourConverter::For(colour);
    rawColours = options.raw;
    convertsColours = !options.raw && !converter.IsIdentity();
}

ColourReport DecodedImage::Report() const
{
    ColourReport report;
    report.sourceName = converter.SourceName();
    report.raw = rawColours;
    report.converted = convertsColours;
    report.unusable = !rawColours && converter.Unusable();
    report.clippedPixels = convertsColours ? converter.ClippedPixels() + otherClippedPixels : 0;
    return report;
}

namespace {

    // The window's sink: each row is decoded in place in its raster, and handed on from there to
    // the rows watching, if any.
    class RasterSink final : public analysis::RowSink
    {
    public:
        RasterSink(Raster &target, analysis::RowSink *watcher)
            : raster(target)
            , watcher(watcher)
        {
        }

        bool Start(std::int32_t width, std::int32_t height) override
        {
            return !raster.IsNull() && raster.Width() == width && raster.Height() == height;
        }

        std::uint32_t *RowSpace(std::int32_t y, std::int32_t, std::ptrdiff_t &stride) override
        {
            stride = raster.Stride();
            return raster.Row(y);
        }

        void RowsDone(std::int32_t y, std::int32_t count) override
        {
            if (watcher
                && !watcher->TakeRows(y, count, raster.Width(), raster.Row(y), raster.Stride()))
                watcherFailed = true;
        }

        [[nodiscard]] bool WatcherFailed() const { return watcherFailed; }

    private:
        Raster &raster;
        analysis::RowSink *watcher;
        bool watcherFailed = false;
    };

} // namespace

LoadFailure DecodedImage::DrawRows(analysis::RowSink &sink, QRgb background)
{
    if (!sink.Start(size.width(), size.height()))
        return kSinkRefused;
    Raster raster = TakeRaster();
    if (raster.IsNull())
        return LoadFailure::OutOfMemory;
    if (const LoadFailure failure = DrawOver(raster, background); failure != LoadFailure::None)
        return failure;
    if (raster.Size() != size)
        return LoadFailure::Damaged;
    if (!sink.TakeRows(0, size.height(), size.width(), raster.Bits(), raster.Stride()))
        return LoadFailure::OutOfMemory;
    return LoadFailure::None;
}

LoadFailure DecodedImage::DrawOverWatched(Raster &raster, QRgb background, analysis::RowSink &rows)
{
    if (raster.IsNull())
        return LoadFailure::OutOfMemory;
    if (!rows.Start(raster.Width(), raster.Height()))
        return DrawOver(raster, background);
    rowWatcher = &rows;
    rowsWatched = false;
    struct Forget
    {
        analysis::RowSink *&watcher;
        ~Forget() { watcher = nullptr; }
    } forget { rowWatcher };
    const LoadFailure failure = DrawOver(raster, background);
    if (failure != LoadFailure::None || rowsWatched)
        return failure;
    // A decoder that draws its raster whole: its rows are finished only now.
    if (!rows.TakeRows(0, raster.Height(), raster.Width(), raster.Bits(), raster.Stride()))
        return LoadFailure::OutOfMemory;
    return LoadFailure::None;
}

LoadFailure DecodedImage::DrawOverThroughRows(Raster &raster, QRgb background)
{
    if (raster.IsNull())
        return LoadFailure::OutOfMemory;
    analysis::RowSink *watcher = std::exchange(rowWatcher, nullptr);
    rowsWatched = watcher != nullptr;
    RasterSink sink(raster, watcher);
    const LoadFailure failure = DrawRows(sink, background);
    if (failure == LoadFailure::None && sink.WatcherFailed())
        return LoadFailure::OutOfMemory;
    return failure;
}

LoadFailure SizeFailure(std::int64_t width, std::int64_t height)
{
    return width < 1 || height < 1 ? LoadFailure::Damaged : LoadFailure::TooLarge;
}

} // namespace imaging
