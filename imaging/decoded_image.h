#pragma once

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

    // Pixel size, within IsAllowedRasterSize.
    [[nodiscard]] QSize Size() const { return size; }

    // A raster of Size() for DrawOver, or null when memory runs out. Decoders that already hold
    // their pixels hand those over instead of a copy; call it once.
    [[nodiscard]] virtual QImage TakeRaster();

    // Draws the image at its own size source-over background into raster (from TakeRaster), which
    // ends up an opaque Format_RGB32 image. False when the data turns out damaged or incomplete.
    [[nodiscard]] virtual bool DrawOver(QImage &raster, QRgb background) = 0;

protected:
    QSize size;
};

// Closes a stdio stream when the loader lets go of it.
struct FileCloser
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens the regular file at path, recognises its format by content and reads its header. Null for
// a missing, unreadable or empty file, a directory or other non-regular file, an unknown format,
// a damaged header or a size beyond the loader's limits.
[[nodiscard]] std::unique_ptr<DecodedImage> LoadImageFromFile(const QString &path);

// Per-format openers; the stream is positioned at the start of the file.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenJpeg(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenPng(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenWebp(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenTiff(FilePtr file);
// HEIC and the other HEIF pictures, AVIF aside.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenHeif(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenAvif(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenJxl(FilePtr file);
// Formats Qt decodes ("bmp", "gif", "ico"); the whole image is decoded here.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenWithQt(FilePtr file, const char *format);

} // namespace imaging
