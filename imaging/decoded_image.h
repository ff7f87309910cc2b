#pragma once

#include "analysis/row_sink.h"

#include <QByteArray>
#include <QImage>
#include <QRgb>
#include <QSize>
#include <QString>

#include <cstdio>
#include <memory>

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

    // A raster of Size() for DrawOver, or null when memory runs out. Decoders that already hold
    // their pixels hand those over instead of a copy; call it once.
    [[nodiscard]] virtual QImage TakeRaster();

    // Draws the image at its own size source-over background into raster (from TakeRaster), which
    // ends up an opaque Format_RGB32 image. False when the data turns out damaged or incomplete.
    [[nodiscard]] virtual bool DrawOver(QImage &raster, QRgb background) = 0;

    // Delivers the image's rows, composed over background, to sink once, top to bottom, without
    // holding the whole picture where the format allows. False when the data turns out damaged
    // or the sink refuses; rows delivered before then are not to be used. This default draws
    // the whole raster through DrawOver and hands it over row by row.
    [[nodiscard]] virtual bool DrawRows(analysis::RowSink &sink, QRgb background);

protected:
    // DrawOver for decoders that override DrawRows: the rows are decoded straight into raster.
    [[nodiscard]] bool DrawOverThroughRows(QImage &raster, QRgb background);

    QSize size;
};

// Closes a stdio stream when the loader lets go of it.
struct FileCloser
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens the regular file at nativePath (the name's bytes as the file system has them, any bytes
// but NUL), recognises its format by content and reads its header. Null for a missing,
// unreadable or empty file, a directory or other non-regular file, an unknown format, a damaged
// header or a size beyond the loader's limits.
[[nodiscard]] std::unique_ptr<DecodedImage> LoadImageFromFile(const QByteArray &nativePath);

// LoadImageFromFile for a stream that is already open (a pipe read into memory, say); the
// stream must be seekable and positioned at the start of the picture.
[[nodiscard]] std::unique_ptr<DecodedImage> LoadImageFromStream(FilePtr file);

// Whether the first bytes of a file (8 are enough) are those of a format the loader knows.
[[nodiscard]] bool IsKnownPictureFormat(const unsigned char *head, std::size_t n);

// Per-format openers; the stream is positioned at the start of the file.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenJpeg(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenPng(FilePtr file);
// The first image of a GIF, drawn over its logical screen (or, where the screen's width or height
// is 0, over the frame's extent from the origin); the frame is clipped to the screen and both the
// frame's and the screen's sizes must be within IsAllowedRasterSize.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenGif(FilePtr file);
// Formats Qt decodes ("bmp", "ico"); the whole image is decoded here.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenWithQt(FilePtr file, const char *format);

} // namespace imaging
