#include "app/picture_load.h"

#include "imaging/mod_gdi_plus_resize.h"

#include <QBuffer>
#include <QCoreApplication>

#include <exception>

namespace app {

LoadedPicture LoadPicture(const platform::PictureInput &input, analysis::ColourValue colour)
{
    const QString name = input.path.isEmpty() ? input.name : input.path;
    LoadedPicture loaded;
    const std::uintptr_t token = modGDIPlusResize::GdiPlusOpen();
    try {
        auto rows = std::make_shared<analysis::RowSums>();
        if (!input.path.isEmpty()) {
            loaded.picture = modGDIPlusResize::LoadPictureScaled(
                input.path, loaded.width, loaded.height, colour, &loaded.colour, rows.get());
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
                data, name, loaded.width, loaded.height, colour, &loaded.colour, rows.get());
        }
        if (rows->Complete())
            loaded.rows = std::move(rows);
    } catch (const modGDIPlusResize::LoadError &error) {
        loaded = LoadedPicture {};
        loaded.failure = error.Description();
        loaded.reason = error.Reason();
    } catch (const std::exception &) {
        loaded = LoadedPicture {};
        loaded.failure = modGDIPlusResize::LoadError(name).Description();
    }
    modGDIPlusResize::GdiPlusClose(token);
    return loaded;
}

QString ColourSpaceText(const imaging::ColourReport &report, std::uint64_t pixels)
{
    if (report.unusable)
        return QCoreApplication::translate(
            "LoadedPicture", "无法读取图片的颜色配置文件，已按 sRGB 处理。");
    // A profile that describes sRGB itself converts without changing anything worth a line.
    if (!report.converted || report.sourceName == "sRGB")
        return QString();
    QString text = QString::fromStdString(report.sourceName) + QStringLiteral(" → sRGB");
    if (report.clippedPixels > 0 && pixels > 0) {
        // A share says more than a count on a picture of millions of pixels; a few clipped
        // pixels still say so rather than round to nothing.
        const double percent
            = 100.0 * static_cast<double>(report.clippedPixels) / static_cast<double>(pixels);
        const QString share = percent < 0.1 ? QStringLiteral("<0.1%")
                                            : QString::number(percent, 'f', 1) + QLatin1Char('%');
        text += QLatin1Char('\n')
            + QCoreApplication::translate("LoadedPicture", "%1 的像素超出 sRGB，已裁剪。")
                  .arg(share);
    }
    return text;
}

QString LoadFailureMessage(imaging::LoadFailure reason)
{
    using imaging::LoadFailure;
    switch (reason) {
    case LoadFailure::None:
        break;
    case LoadFailure::NotFound:
        return QCoreApplication::translate("LoadedPicture", "找不到该文件。");
    case LoadFailure::AccessDenied:
        return QCoreApplication::translate("LoadedPicture", "没有读取该文件的权限。");
    case LoadFailure::NotAFile:
        return QCoreApplication::translate("LoadedPicture", "这不是一个普通文件。");
    case LoadFailure::Empty:
        return QCoreApplication::translate("LoadedPicture", "文件是空的。");
    case LoadFailure::ReadError:
        return QCoreApplication::translate("LoadedPicture", "读取文件时出错。");
    case LoadFailure::UnknownFormat:
        return QCoreApplication::translate("LoadedPicture", "这不是本程序能读取的图片格式。");
    case LoadFailure::CutShort:
        return QCoreApplication::translate("LoadedPicture", "文件不完整，图片在结束前就中断了。");
    case LoadFailure::Damaged:
        return QCoreApplication::translate("LoadedPicture", "图片数据已损坏。");
    case LoadFailure::Unsupported:
        return QCoreApplication::translate("LoadedPicture", "不支持这种图片格式的变体。");
    case LoadFailure::TooLarge:
        return QCoreApplication::translate("LoadedPicture", "图片太大。");
    case LoadFailure::OutOfMemory:
        return QCoreApplication::translate("LoadedPicture", "内存不足。");
    case LoadFailure::ModuleMissing:
        return QCoreApplication::translate("LoadedPicture", "找不到新图片格式的解码模块。");
    case LoadFailure::ModuleMismatch:
        return QCoreApplication::translate("LoadedPicture", "新图片格式的解码模块来自另一个版本。");
    case LoadFailure::NotInThisBuild:
        return QCoreApplication::translate("LoadedPicture", "此版本不支持这种图片格式。");
    }
    return QString();
}

} // namespace app
