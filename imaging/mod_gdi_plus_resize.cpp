#include "imaging/mod_gdi_plus_resize.h"

#include "imaging/compose.h"
#include "imaging/open_image.h"
#include "imaging/raster_memory.h"
#include "imaging/resample.h"

#include <QFile>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace modGDIPlusResize {
namespace {

    // The tokens handed out and not yet closed. Qt's message handler is process-wide, so the
    // loader's is installed while any token is open and the one before put back when the last one
    // closes.
    struct LibraryState
    {
        std::mutex mutex;
        std::vector<std::uintptr_t> openTokens;
        std::uintptr_t lastToken = 0;
        QtMessageHandler savedMessageHandler = nullptr;
    };

    LibraryState &Library()
    {
        static LibraryState state;
        return state;
    }

    // Set on a thread for the length of one load there; message handlers run on the thread that
    // emits the message.
    thread_local bool loadingOnThisThread = false;
    std::atomic<QtMessageHandler> messagesOutsideLoads { nullptr };

    // QImage prints its complaints ("QImage: out of memory") on stderr; the load error already
    // says everything the user needs.
    void DropMessagesDuringLoads(
        QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (loadingOnThisThread)
            return;
        if (const QtMessageHandler next = messagesOutsideLoads.load())
            next(type, context, message);
    }

    class QuietLoad
    {
    public:
        QuietLoad() { loadingOnThisThread = true; }
        ~QuietLoad() { loadingOnThisThread = false; }
        QuietLoad(const QuietLoad &) = delete;
        QuietLoad &operator=(const QuietLoad &) = delete;
    };

    bool IsStarted()
    {
        LibraryState &library = Library();
        const std::lock_guard lock(library.mutex);
        return !library.openTokens.empty();
    }

    // The memory device context and its bitmap, stood in for by a background colour and a raster.
    struct Canvas
    {
        imaging::Raster raster;
        QRgb background = 0;
    };

    // Makes the width x height raster that the image will be drawn on. At the image's own size a
    // decoder that already holds its pixels lends them, so nothing is copied. False when memory
    // runs out.
    bool PrepareCanvas(Canvas &canvas, imaging::DecodedImage &image, analysis::ColourValue colour,
        std::int32_t width, std::int32_t height)
    {
        canvas.background = imaging::ToQRgb(colour);
        if (QSize(width, height) == image.Size())
            canvas.raster = image.TakeRaster();
        else
            canvas.raster = imaging::AllocateRaster(QSize(width, height));
        return !canvas.raster.IsNull();
    }

    // Draws the image over the background into the canvas: directly at its own size, otherwise at
    // its own size first and resampled into the canvas from there. The canvas's rows go to *rows
    // (when given) as they are finished.
    imaging::LoadFailure RenderImage(
        imaging::DecodedImage &image, Canvas &canvas, analysis::RowSink *rows)
    {
        imaging::Raster &raster = canvas.raster;
        if (raster.Size() == image.Size())
            return rows ? image.DrawOverWatched(raster, canvas.background, *rows)
                        : image.DrawOver(raster, canvas.background);
        imaging::Raster ownSize = image.TakeRaster();
        if (ownSize.IsNull())
            return imaging::LoadFailure::OutOfMemory;
        if (const imaging::LoadFailure failure = image.DrawOver(ownSize, canvas.background);
            failure != imaging::LoadFailure::None)
            return failure;
        if (!imaging::ResampleBicubic(ownSize, raster))
            return imaging::LoadFailure::OutOfMemory;
        if (rows && rows->Start(raster.Width(), raster.Height())
            && !rows->TakeRows(0, raster.Height(), raster.Width(), raster.Bits(), raster.Stride()))
            return imaging::LoadFailure::OutOfMemory;
        return imaging::LoadFailure::None;
    }

    // Takes the finished raster out of the canvas, which keeps nothing of it.
    imaging::Raster DetachCanvas(Canvas &canvas) { return std::move(canvas.raster); }

    // The picture object: the image takes over the raster's pixels, and its last copy frees them.
    QImage WrapBitmap(imaging::Raster bitmap)
    {
        const QSize size = bitmap.Size();
        const imaging::Raster::Released memory = bitmap.Release();
        QImage picture(reinterpret_cast<uchar *>(memory.pixels), size.width(), size.height(),
            qsizetype { size.width() } * 4, QImage::Format_RGB32, memory.free, memory.freeInfo);
        if (picture.isNull() && memory.free)
            memory.free(memory.freeInfo); // Qt refused the buffer, so it will never free it
        return picture;
    }

} // namespace

LoadError::LoadError(const QString &path, imaging::LoadFailure reason)
    : std::runtime_error((QStringLiteral("Error loading picture ") + path).toStdString())
    , description(QStringLiteral("Error loading picture ") + path)
    , reason(reason)
{
}

std::uintptr_t GdiPlusOpen()
{
    LibraryState &library = Library();
    const std::lock_guard lock(library.mutex);
    if (library.openTokens.empty()) {
        library.savedMessageHandler = qInstallMessageHandler(DropMessagesDuringLoads);
        messagesOutsideLoads.store(library.savedMessageHandler);
    }
    const std::uintptr_t token = ++library.lastToken;
    library.openTokens.push_back(token);
    return token;
}

void GdiPlusClose(std::uintptr_t token)
{
    LibraryState &library = Library();
    const std::lock_guard lock(library.mutex);
    const auto found = std::find(library.openTokens.begin(), library.openTokens.end(), token);
    if (found == library.openTokens.end())
        return;
    library.openTokens.erase(found);
    if (!library.openTokens.empty())
        return;
    // Someone else's handler installed since the open stays in place.
    const QtMessageHandler current = qInstallMessageHandler(library.savedMessageHandler);
    if (current != DropMessagesDuringLoads)
        qInstallMessageHandler(current);
}

namespace {

    // Everything after the opening, shared by files and bytes in memory; shownPath is the name
    // the load error shows.
    QImage LoadOpened(const std::function<imaging::OpenedImage()> &open, const QString &shownPath,
        std::int32_t &width, std::int32_t &height, analysis::ColourValue colour,
        imaging::ColourReport *report, analysis::RowSink *rows)
    {
        using imaging::LoadFailure;
        if (!IsStarted())
            throw LoadError(shownPath);
        const QuietLoad quiet;
        try {
            imaging::OpenedImage opened = open();
            std::unique_ptr<imaging::DecodedImage> image = std::move(opened.image);
            if (!image)
                throw LoadError(shownPath, opened.failure);
            // The caller's sizes change only when the load succeeds.
            const bool ownSize = width == -1 || height == -1;
            const std::int32_t canvasWidth = ownSize ? image->Size().width() : width;
            const std::int32_t canvasHeight = ownSize ? image->Size().height() : height;
            // Only a requested size can be refused here; one below 1 says nothing of the picture.
            if (!imaging::IsAllowedRasterSize(canvasWidth, canvasHeight))
                throw LoadError(shownPath,
                    canvasWidth < 1 || canvasHeight < 1 ? LoadFailure::None
                                                        : LoadFailure::TooLarge);

            // The window always shows the colours converted to sRGB.
            image->SetColourOptions({});
            Canvas canvas;
            if (!PrepareCanvas(canvas, *image, colour, canvasWidth, canvasHeight))
                throw LoadError(shownPath, LoadFailure::OutOfMemory);
            if (const LoadFailure failure = RenderImage(*image, canvas, rows);
                failure != LoadFailure::None)
                throw LoadError(shownPath, failure);
            const imaging::ColourReport colourReport = image->Report();
            image.reset(); // from here on nothing refers to the file
            QImage picture = WrapBitmap(DetachCanvas(canvas));
            width = canvasWidth;
            height = canvasHeight;
            if (report)
                *report = colourReport;
            return picture;
        } catch (const std::bad_alloc &) {
            // A picture too big for the memory left is a load failure too.
            throw LoadError(shownPath, LoadFailure::OutOfMemory);
        }
    }

} // namespace

QImage LoadPictureScaled(const QString &path, std::int32_t &width, std::int32_t &height,
    analysis::ColourValue colour, imaging::ColourReport *report, analysis::RowSink *rows)
{
    return LoadOpened(
        [&path] { return imaging::LoadImageFromFile(QFile::encodeName(path).toStdString()); }, path,
        width, height, colour, report, rows);
}

QImage LoadPictureScaled(const NativePath &path, std::int32_t &width, std::int32_t &height,
    analysis::ColourValue colour, imaging::ColourReport *report, analysis::RowSink *rows)
{
    return LoadOpened([&path] { return imaging::LoadImageFromFile(path.bytes); },
        QFile::decodeName(QByteArray::fromStdString(path.bytes)), width, height, colour, report,
        rows);
}

QImage LoadPictureScaled(const QByteArray &data, const QString &name, std::int32_t &width,
    std::int32_t &height, analysis::ColourValue colour, imaging::ColourReport *report,
    analysis::RowSink *rows)
{
    return LoadOpened(
        [&data] {
            return imaging::LoadImageFromMemory(
                std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
        },
        name, width, height, colour, report, rows);
}

} // namespace modGDIPlusResize
