#include "app/picture_load.h"

#include "imaging/mod_gdi_plus_resize.h"

#include <QBuffer>

#include <exception>

namespace app {

LoadedPicture LoadPicture(const platform::PictureInput &input, analysis::ColourValue colour)
{
    const QString name = input.path.isEmpty() ? input.name : input.path;
    LoadedPicture loaded;
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    try {
        if (!input.path.isEmpty()) {
            loaded.picture = modGDIPlusResize::LoadPictureScaled(
                input.path, loaded.width, loaded.height, colour);
        } else {
            QByteArray data = input.data;
            if (data.isEmpty() && !input.image.isNull()) {
                // A picture on offer only decoded goes through the loader like any other: as an
                // uncompressed PNG in memory, which keeps its alpha for the composition.
                QBuffer buffer(&data);
                buffer.open(QIODevice::WriteOnly);
                input.image.save(&buffer, "PNG", 100);
            }
            loaded.picture = modGDIPlusResize::LoadPictureScaled(
                data, name, loaded.width, loaded.height, colour);
        }
    } catch (const modGDIPlusResize::LoadError &error) {
        loaded = LoadedPicture {};
        loaded.failure = error.Description();
    } catch (const std::exception &) {
        loaded = LoadedPicture {};
        loaded.failure = modGDIPlusResize::LoadError(name).Description();
    }
    modGDIPlusResize::GdiPlusClose(token);
    return loaded;
}

} // namespace app
