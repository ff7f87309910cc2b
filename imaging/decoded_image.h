#pragma once

#include "analysis/row_sink.h"
#include "imaging/raster_memory.h"

#include <QRgb>
#include <QSize>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

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
    [[nodiscard]] virtual Raster TakeRaster();

    // Draws the image at its own size source-over background into raster (from TakeRaster), whose
    // pixels all end up opaque. False when the data turns out damaged or incomplete.
    [[nodiscard]] virtual bool DrawOver(Raster &raster, QRgb background) = 0;

    // Delivers the image's rows, composed over background, to sink once, top to bottom, without
    // holding the whole picture where the format allows. False when the data turns out damaged
    // or the sink refuses; rows delivered before then are not to be used. This default draws
    // the whole raster through DrawOver and hands it over row by row.
    [[nodiscard]] virtual bool DrawRows(analysis::RowSink &sink, QRgb background);

protected:
    // DrawOver for decoders that override DrawRows: the rows are decoded straight into raster.
    [[nodiscard]] bool DrawOverThroughRows(Raster &raster, QRgb background);

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
[[nodiscard]] std::unique_ptr<DecodedImage> LoadImageFromFile(const std::string &nativePath);

// The same for the bytes of an image file held in memory (a picture dropped or pasted without a
// file); null where LoadImageFromFile would be.
[[nodiscard]] std::unique_ptr<DecodedImage> LoadImageFromMemory(std::string_view data);

// The same for an open descriptor positioned at the start, which the loader takes over (closed
// in every case).
[[nodiscard]] std::unique_ptr<DecodedImage> LoadImageFromDescriptor(int fd);

// LoadImageFromFile for a stream that is already open (a pipe read into memory, say); the
// stream must be seekable and positioned at the start of the picture.
[[nodiscard]] std::unique_ptr<DecodedImage> LoadImageFromStream(FilePtr file);

// How many bytes at the start of a file tell its format.
inline constexpr std::size_t kRecognitionBytes = 64;

// Whether the first bytes of a file (kRecognitionBytes, or all of a shorter file) are those of a
// format the loader knows.
[[nodiscard]] bool IsKnownPictureFormat(const unsigned char *head, std::size_t n);

// Per-format openers; the stream is positioned at the start of the file (for OpenPng, at the
// start of the PNG data, which may sit inside an icon).
[[nodiscard]] std::unique_ptr<DecodedImage> OpenJpeg(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenPng(FilePtr file);
// The first image of a GIF, drawn over its logical screen (or, where the screen's width or height
// is 0, over the frame's extent from the origin); the frame is clipped to the screen and both the
// frame's and the screen's sizes must be within IsAllowedRasterSize.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenGif(FilePtr file);
// BMP with a 12-, 40-, 52-, 56-, 108- or 124-byte header: 1, 4 or 8 bits with a palette (RLE4
// and RLE8 too), 16 or 32 bits with bitfields (alpha only where a mask declares it), 24 bits;
// top-down or bottom-up. Null for other header sizes, embedded JPEG or PNG, and a header that is
// damaged or promises more rows than the file holds; DrawOver is false for damaged RLE data.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenBmp(FilePtr file);
// Icon or cursor: the directory's first entry, a DIB (pixels under its 1-bit mask show the
// background; 32-bit ones use their alpha instead) or a PNG.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenIco(FilePtr file);
// The newer formats' openers are built into the formats module (see formats_module.h); the loader
// reaches them through OpenNewerFormat. libjxl prints on stderr, so JPEG XL runs under a
// QuietStderr there.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenWebp(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenTiff(FilePtr file);
// HEIC and the other HEIF pictures, AVIF aside.
[[nodiscard]] std::unique_ptr<DecodedImage> OpenHeif(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenAvif(FilePtr file);
[[nodiscard]] std::unique_ptr<DecodedImage> OpenJxl(FilePtr file);

} // namespace imaging
