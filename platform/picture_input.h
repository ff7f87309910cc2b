#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <optional>

class QMimeData;

namespace platform {

// A picture handed to the window other than through the open dialog. Exactly one of path, data
// and image is set.
struct PictureInput
{
    // A local file, opened as a file chosen in the dialog would be.
    QString path;
    // The bytes of an image file that came without a file.
    QByteArray data;
    // A picture that is only on offer already decoded.
    QImage image;
    // What the load error names when there is no path.
    QString name;
};

// The picture that dropped or pasted data offers: the first local file among its URLs, else the
// bytes of its first image type the loader recognises (decided later by content), else a decoded
// image; nothing when it holds no picture. `name` is what a picture without a file is called.
[[nodiscard]] std::optional<PictureInput> PictureFromMime(
    const QMimeData &mime, const QString &name);

// Whether the data offers what PictureFromMime would take, judged from its types and URLs alone,
// so a drag can be answered without fetching the picture itself.
[[nodiscard]] bool OffersPicture(const QMimeData &mime);

} // namespace platform
