#include "imaging/picture_rows.h"

#include "imaging/compose.h"
#include "imaging/open_image.h"

#include <memory>
#include <new>

namespace modGDIPlusResize {
namespace {

    template <typename Open>
    imaging::LoadFailure DrawOpenedRows(Open open, analysis::RowSink &sink,
        analysis::ColourValue colour, imaging::ColourOptions options, imaging::ColourReport *report)
    {
        try {
            const imaging::OpenedImage opened = open();
            if (!opened.image)
                return opened.failure;
            opened.image->SetColourOptions(options);
            const imaging::LoadFailure failure
                = opened.image->DrawRows(sink, imaging::ToQRgb(colour));
            if (report && failure == imaging::LoadFailure::None)
                *report = opened.image->Report();
            return failure;
        } catch (const std::bad_alloc &) {
            return imaging::LoadFailure::OutOfMemory;
        }
    }

} // namespace

imaging::LoadFailure DrawPictureRows(const NativePath &path, analysis::RowSink &sink,
    analysis::ColourValue colour, imaging::ColourOptions options, imaging::ColourReport *report)
{
    return DrawOpenedRows(
        [&path] { return imaging::LoadImageFromFile(path.bytes); }, sink, colour, options, report);
}

imaging::LoadFailure DrawPictureRows(const PictureBytes &picture, analysis::RowSink &sink,
    analysis::ColourValue colour, imaging::ColourOptions options, imaging::ColourReport *report)
{
    // The same in-memory file as a dropped or pasted picture: the decoders read it like a file.
    return DrawOpenedRows([&picture] { return imaging::LoadImageFromMemory(picture.bytes); }, sink,
        colour, options, report);
}

} // namespace modGDIPlusResize
