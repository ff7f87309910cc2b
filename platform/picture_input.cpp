#include "platform/picture_input.h"

#include "imaging/picture_formats.h"

#include <QMimeData>
#include <QUrl>

#include <string_view>

namespace platform {
namespace {

    bool HasLocalFile(const QMimeData &mime)
    {
        if (!mime.hasUrls())
            return false;
        for (const QUrl &url : mime.urls())
            if (url.isLocalFile() && !url.toLocalFile().isEmpty())
                return true;
        return false;
    }

} // namespace

bool OffersPicture(const QMimeData &mime)
{
    if (HasLocalFile(mime) || mime.hasImage())
        return true;
    for (const QString &type : mime.formats())
        if (type.startsWith(QStringLiteral("image/")))
            return true;
    return false;
}

std::optional<PictureInput> PictureFromMime(const QMimeData &mime, const QString &name)
{
    // A copied or dragged file comes as a list of URLs; only a local file can be read, and only
    // the first one is opened, as the dialog yields one path.
    if (mime.hasUrls()) {
        for (const QUrl &url : mime.urls()) {
            if (url.isLocalFile() && !url.toLocalFile().isEmpty()) {
                PictureInput input;
                input.path = url.toLocalFile();
                return input;
            }
        }
    }

    // Image types worth asking for bytes, the loader's own formats first; anything else under
    // image/ is tried after these. Browsers offer several types for one picture.
    QStringList types;
    for (const std::string_view type : imaging::OfferedMimeTypes()) {
        const QString name = QString::fromLatin1(type.data(), static_cast<qsizetype>(type.size()));
        if (mime.hasFormat(name))
            types << name;
    }
    for (const QString &type : mime.formats())
        if (type.startsWith(QStringLiteral("image/")) && !types.contains(type))
            types << type;
    for (const QString &type : types) {
        const QByteArray data = mime.data(type);
        if (!data.isEmpty()) {
            PictureInput input;
            input.data = data;
            input.name = name;
            return input;
        }
    }

    if (mime.hasImage()) {
        const QImage image = qvariant_cast<QImage>(mime.imageData());
        if (!image.isNull()) {
            PictureInput input;
            input.image = image;
            input.name = name;
            return input;
        }
    }
    return std::nullopt;
}

} // namespace platform
