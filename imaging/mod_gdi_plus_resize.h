#pragma once

#include "analysis/colour_math.h"
#include "analysis/row_sink.h"
#include "imaging/load_failure.h"
#include "imaging/picture_rows.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <stdexcept>

// The picture loader: an image file of a format in imaging/picture_formats.h, recognised by
// content, becomes an opaque raster composed over a background colour.
namespace modGDIPlusResize {

// The load error: number 999, source "GDI+ Module", description "Error loading picture " + path,
// and why the picture could not be loaded (None where no reason is known).
class LoadError : public std::runtime_error
{
public:
    explicit LoadError(
        const QString &path, imaging::LoadFailure reason = imaging::LoadFailure::None);

    [[nodiscard]] int Number() const { return 999; }
    [[nodiscard]] QString Source() const { return QStringLiteral("GDI+ Module"); }
    [[nodiscard]] QString Description() const { return description; }
    [[nodiscard]] imaging::LoadFailure Reason() const { return reason; }

private:
    QString description;
    imaging::LoadFailure reason;
};

// Starts the image libraries for one load; returns a non-zero token for GdiPlusClose. While any
// token is open, messages that Qt's image code prints during a load on the loading thread are
// dropped: a failed load is reported once, by the caller.
[[nodiscard]] std::uintptr_t GdiPlusOpen();

// Stops what the matching GdiPlusOpen started; an unknown or repeated token is ignored.
void GdiPlusClose(std::uintptr_t token);

// Decodes the file at path and draws it over colour (0x00BBGGRR) into an opaque Format_RGB32
// picture of exactly width x height pixels, resampled bicubically when that differs from the
// image's own size. With -1 in either size the image's own size is used and, once the load has
// succeeded, written back to both. Needs an open GdiPlusOpen token. Throws LoadError, with its
// reason, for anything that is not a complete, readable picture of at most 16384 x 16384 pixels,
// and for requested sizes below 1 (no reason) or above that limit (TooLarge). The pixels are
// converted to sRGB from the colours the picture names; what was done goes into *report (when
// given) once the load has succeeded. *rows (when given) gets the picture's final rows once,
// top to bottom: as each is decoded at the image's own size, from the finished picture when
// resampled; rows it got from a load that failed are not to be used.
[[nodiscard]] QImage LoadPictureScaled(const QString &path, std::int32_t &width,
    std::int32_t &height, analysis::ColourValue colour, imaging::ColourReport *report = nullptr,
    analysis::RowSink *rows = nullptr);

// LoadPictureScaled for a name that may not be text, such as one a shell passed on; the load
// error shows the name decoded as well as it can be.
[[nodiscard]] QImage LoadPictureScaled(const NativePath &path, std::int32_t &width,
    std::int32_t &height, analysis::ColourValue colour, imaging::ColourReport *report = nullptr,
    analysis::RowSink *rows = nullptr);

// The same for the bytes of an image file held in memory, for a picture that comes without a
// file; the load error names `name` where it would name the path. Nothing is written to disk.
[[nodiscard]] QImage LoadPictureScaled(const QByteArray &data, const QString &name,
    std::int32_t &width, std::int32_t &height, analysis::ColourValue colour,
    imaging::ColourReport *report = nullptr, analysis::RowSink *rows = nullptr);

} // namespace modGDIPlusResize
