#pragma once

#include "analysis/row_sink.h"
#include "imaging/colour_converter.h"
#include "imaging/colour_description.h"
#include "imaging/colour_report.h"
#include "imaging/load_failure.h"
#include "imaging/raster_memory.h"

#include <QRgb>
#include <QSize>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

namespace imaging {

// An image file opened for drawing: its header has been read and its size checked, its pixels
// are decoded by DrawOver. Stands where the loader's image handle stands, from the load to its
// disposal.
class DecodedImage
{
public:
    virtual ~DecodedImage() = default;

    // Pixel size, within IsAllowedRasterSize; decoders that stream (override DrawRows) accept up
    // to IsAllowedStreamSize and refuse beyond IsAllowedRasterSize only on DrawOver.
    [[nodiscard]] QSize Size() const { return size; }

    // What the file says about its colours, read with the header; Unspecified where the format
    // or the file says nothing, damaged where what it says could not be read.
    [[nodiscard]] const ColourDescription &Colour() const { return colour; }

    // Chooses, before the draw, whether the pixels are converted from Colour() to sRGB (the
    // default) or kept as stored (raw). Without a call the picture is drawn as stored.
    virtual void SetColourOptions(ColourOptions options);

    // What the draw did to the picture's colours; complete once the draw has returned.
    [[nodiscard]] virtual ColourReport Report() const;

    // A raster of Size() for DrawOver, or null when memory runs out. Decoders that already hold
    // their pixels hand those over instead of a copy; call it once.
    [[nodiscard]] virtual Raster TakeRaster();

    // Draws the image at its own size source-over background into raster (from TakeRaster), whose
    // pixels all end up opaque. None, or why the data turned out damaged or incomplete.
    [[nodiscard]] virtual LoadFailure DrawOver(Raster &raster, QRgb background) = 0;

    // Delivers the image's rows, composed over background, to sink once, top to bottom, without
    // holding the whole picture where the format allows. None, or why the data turned out damaged
    // or the sink refused (kSinkRefused, or OutOfMemory for its row space); rows delivered before
    // then are not to be used. This default draws the whole raster through DrawOver and hands it
    // over row by row.
    [[nodiscard]] virtual LoadFailure DrawRows(analysis::RowSink &sink, QRgb background);

    // DrawOver that also hands each finished row to rows once, top to bottom (Start, then
    // TakeRows): as the row lands where the decoder streams its rows, otherwise from the finished
    // raster. Rows that refuse the picture get nothing, and the draw goes on without them.
    [[nodiscard]] LoadFailure DrawOverWatched(
        Raster &raster, QRgb background, analysis::RowSink &rows);

protected:
    // DrawOver for decoders that override DrawRows: the rows are decoded straight into raster.
    [[nodiscard]] LoadFailure DrawOverThroughRows(Raster &raster, QRgb background);

    // Whether this draw converts its pixels; false for sRGB pictures and raw draws, whose
    // pixels are then left exactly as decoded.
    [[nodiscard]] bool ConvertsColours() const { return convertsColours; }

    // Converts n non-premultiplied 0xAARRGGBB pixels in place when the draw converts.
    void ConvertColours(std::uint32_t *row, std::int32_t n)
    {
        if (convertsColours)
            converter.ConvertRow(row, n);
    }

    QSize size;
    ColourDescription colour;
    // The draw's conversion, from SetColourOptions; the identity until then.
    ColourConverter converter;
    // Pixels clipped by converters other than `converter` (a decoder's per-thread ones).
    std::uint64_t otherClippedPixels = 0;

private:
    bool convertsColours = false;
    bool rawColours = false;
    // The rows of the DrawOverWatched call running, until DrawOverThroughRows takes them.
    analysis::RowSink *rowWatcher = nullptr;
    bool rowsWatched = false;
};

// The reason a decoder gives when the sink's Start turns the picture down: the sinks refuse only
// sizes they cannot take.
inline constexpr LoadFailure kSinkRefused = LoadFailure::TooLarge;

// An opener's answer: the image with its header read, or null and why not.
struct OpenedImage
{
    std::unique_ptr<DecodedImage> image;
    LoadFailure failure = LoadFailure::None;
};

// Closes a stdio stream when the loader lets go of it.
struct FileCloser
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The openers' common tail: a decoder T made from the stream, whose ReadHeader(headerArguments...)
// gives None or the reason it cannot go on. Running out of memory is a reason too.
template <class T, class... HeaderArguments>
[[nodiscard]] OpenedImage Open(FilePtr file, HeaderArguments... headerArguments)
{
    try {
        auto image = std::make_unique<T>(std::move(file));
        if (const LoadFailure failure = image->ReadHeader(headerArguments...);
            failure != LoadFailure::None)
            return { nullptr, failure };
        return { std::move(image), LoadFailure::None };
    } catch (const std::bad_alloc &) {
        return { nullptr, LoadFailure::OutOfMemory };
    }
}

// Damaged for a size below 1 a side, TooLarge for one past the limit: the reason a header's size
// check gives when IsAllowedRasterSize or IsAllowedStreamSize says no.
[[nodiscard]] LoadFailure SizeFailure(std::int64_t width, std::int64_t height);

// Per-format openers; the stream is positioned at the start of the file (for OpenPng, at the
// start of the PNG data, which may sit inside an icon). Each gives the image, or why not. The
// loader reaches them through the table of formats (picture_formats.h).
[[nodiscard]] OpenedImage OpenJpeg(FilePtr file);
[[nodiscard]] OpenedImage OpenPng(FilePtr file);
// The same through libpng: the reference OpenPng's reader is tested against, row for row and
// refusal for refusal.
[[nodiscard]] OpenedImage OpenPngThroughLibpng(FilePtr file);
// The first image of a GIF, drawn over its logical screen (or, where the screen's width or height
// is 0, over the frame's extent from the origin); the frame is clipped to the screen and both the
// frame's and the screen's sizes must be within IsAllowedRasterSize.
[[nodiscard]] OpenedImage OpenGif(FilePtr file);
// BMP with a 12-, 40-, 52-, 56-, 108- or 124-byte header, or such a DIB without the file header:
// 1, 2, 4 or 8 bits with a palette (RLE4 and RLE8 too, whose runs past a row or the last row are
// clipped; indices past a short palette show its first entry), 16 or 32 bits with bitfields (alpha
// only where a mask declares it), 24 bits; top-down or bottom-up. A pixel offset inside the
// headers or the palette is read as the end of the palette. Unsupported for other header sizes
// and embedded JPEG or PNG; damaged or cut short for a header that is damaged or promises more
// rows than the file holds; DrawOver fails so for RLE data cut short.
[[nodiscard]] OpenedImage OpenBmp(FilePtr file);
// Icon or cursor: the directory's first entry, a DIB (pixels under its 1-bit mask show the
// background; 32-bit ones use their alpha instead; an embedded profile is skipped, wherever it
// lies) or a PNG.
[[nodiscard]] OpenedImage OpenIco(FilePtr file);
// The newer formats' openers are built into the formats module (see formats_module.h). libjxl
// prints on stderr, so JPEG XL runs under a QuietStderr there.
[[nodiscard]] OpenedImage OpenWebp(FilePtr file);
// TIFF's first page. Grey, RGB, CMYK and CIELab of 9 to 16 or 32 bits, 32- and 64-bit floats
// (0 to 1, clipped) and CMYK with alpha are read from their samples, 8-bit CIELab too; the rest
// through libtiff's RGBA interface.
[[nodiscard]] OpenedImage OpenTiff(FilePtr file);
// HEIC and the other HEIF pictures, AVIF aside.
[[nodiscard]] OpenedImage OpenHeif(FilePtr file);
[[nodiscard]] OpenedImage OpenAvif(FilePtr file);
[[nodiscard]] OpenedImage OpenJxl(FilePtr file);

} // namespace imaging
